#ifndef VOXGRID_LAYOUT_BRICKS_H
#define VOXGRID_LAYOUT_BRICKS_H

#include "indexed_block.h"

#include <voxgrid/shape.h>

#include <cstddef>

namespace voxgrid {

// Bricks of B x B x B elements, each contiguous (k fastest within it), the
// bricks themselves in storage order (brick k fastest), as voxel engines and
// stencil libraries keep a grid so that a neighbourhood along any axis is a
// few cache lines. A shape that is not a multiple of B ends in partial bricks
// stored whole: ceil(nx/B) x ceil(ny/B) x ceil(nz/B) bricks, so 3 x 1 x 500
// in 8^3 bricks spans 63 bricks, 32,256 slots for 1,500 elements.
template <int B> struct BrickRule {
  static_assert(B > 1 && (B & (B - 1)) == 0, "a brick's edge is a power of two");
  static constexpr int kShift = B == 2 ? 1 : B == 4 ? 2 : B == 8 ? 3 : B == 16 ? 4 : 5;
  static_assert((1 << kShift) == B, "bricks of 2 to 32");

  static std::ptrdiff_t bricks(int n) { return (std::ptrdiff_t{n} + B - 1) / B; }
  explicit BrickRule(const Shape& s) : bx(bricks(s.nx)), by(bricks(s.ny)), bz(bricks(s.nz)) {}
  std::size_t size() const { return static_cast<std::size_t>(bx * by * bz) * B * B * B; }
  static std::size_t tableBytes() { return 0; }
  auto view() const {
    return [by = by, bz = bz](int i, int j, int k) {
      constexpr int m = B - 1, s = kShift;
      const std::ptrdiff_t brick = ((std::ptrdiff_t{i >> s} * by) + (j >> s)) * bz + (k >> s);
      return (brick << (3 * s)) + ((((i & m) << s) + (j & m)) << s) + (k & m);
    };
  }

  std::ptrdiff_t bx, by, bz;
};

using Bricks4 = IndexedBlock<BrickRule<4>>;
using Bricks8 = IndexedBlock<BrickRule<8>>;

} // namespace voxgrid

#endif
