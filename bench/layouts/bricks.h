#ifndef VOXGRID_LAYOUT_BRICKS_H
#define VOXGRID_LAYOUT_BRICKS_H

#include "brick_stencil.h"
#include "indexed_block.h"

#include <voxgrid/shape.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

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

// Bricks with the loops their users write: brick by brick, each thread its
// own slabs of bricks, every brick's elements in storage order. Whole bricks
// are one contiguous run; a partial brick reads only its elements.
template <int B, class T = int, class Memory = TouchedMemory>
class Bricks : public IndexedBlock<BrickRule<B>, T, Memory> {
public:
  using IndexedBlock<BrickRule<B>, T, Memory>::IndexedBlock;
  static constexpr std::ptrdiff_t kBrick = std::ptrdiff_t{B} * B * B;

  SumOf<T> ownSum() const {
    const BrickRule<B>& r = this->rule();
    const T* const d = this->data();
    const Shape s = this->shape();
    SumOf<T> total = 0;
#pragma omp parallel for schedule(static) reduction(+ : total)
    for (std::ptrdiff_t bi = 0; bi < r.bx; ++bi) {
      const int ni = std::min<int>(B, s.nx - int(bi) * B);
      for (std::ptrdiff_t bj = 0; bj < r.by; ++bj) {
        const int nj = std::min<int>(B, s.ny - int(bj) * B);
        for (std::ptrdiff_t bk = 0; bk < r.bz; ++bk) {
          const int nk = std::min<int>(B, s.nz - int(bk) * B);
          const T* const brick = d + ((bi * r.by + bj) * r.bz + bk) * kBrick;
          if (ni == B && nj == B && nk == B) {
            for (std::ptrdiff_t n = 0; n < kBrick; ++n) {
              total += brick[n];
            }
            continue;
          }
          for (int ii = 0; ii < ni; ++ii) {
            for (int jj = 0; jj < nj; ++jj) {
              for (int kk = 0; kk < nk; ++kk) {
                total += brick[(ii * B + jj) * B + kk];
              }
            }
          }
        }
      }
    }
    return total;
  }

  // The 7-point stencil brick by brick. Bricks are in storage order, so the
  // brick beside this one is 1 brick away along k, bz along j and by*bz along i.
  void ownStencil(Bricks& out) const {
    const BrickRule<B>& r = this->rule();
    const T* const in = this->data();
    T* const o = out.data();
    const Shape s = this->shape();
    const std::ptrdiff_t alongJ = r.bz * kBrick, alongI = r.by * r.bz * kBrick;
#pragma omp parallel for schedule(static)
    for (std::ptrdiff_t bi = 0; bi < r.bx; ++bi) {
      for (std::ptrdiff_t bj = 0; bj < r.by; ++bj) {
        for (std::ptrdiff_t bk = 0; bk < r.bz; ++bk) {
          const int i0 = int(bi) * B, j0 = int(bj) * B, k0 = int(bk) * B;
          const std::ptrdiff_t at = ((bi * r.by + bj) * r.bz + bk) * kBrick;
          const T* const c = in + at;
          const BrickNeighbours<T> n{c,
                                     bi > 0 ? c - alongI : nullptr,
                                     bi + 1 < r.bx ? c + alongI : nullptr,
                                     bj > 0 ? c - alongJ : nullptr,
                                     bj + 1 < r.by ? c + alongJ : nullptr,
                                     bk > 0 ? c - kBrick : nullptr,
                                     bk + 1 < r.bz ? c + kBrick : nullptr};
          stencilBrick<B>(o + at, n, std::max(i0, 1) - i0, std::min(i0 + B, s.nx - 1) - i0,
                          std::max(j0, 1) - j0, std::min(j0 + B, s.ny - 1) - j0,
                          std::max(k0, 1) - k0, std::min(k0 + B, s.nz - 1) - k0);
        }
      }
    }
  }
};

template <class T, class Memory = TouchedMemory> using Bricks4Of = Bricks<4, T, Memory>;
template <class T, class Memory = TouchedMemory> using Bricks8Of = Bricks<8, T, Memory>;
using Bricks4 = Bricks4Of<int>;
using Bricks8 = Bricks8Of<int>;

} // namespace voxgrid

#endif
