#ifndef VOXGRID_LAYOUT_MORTON_H
#define VOXGRID_LAYOUT_MORTON_H

#include "indexed_block.h"

#include <voxgrid/shape.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace voxgrid {

// Elements along a Z-order (Morton) curve: the bits of i, j and k interleaved,
// k's lowest, so that any 2^n cube of the grid is one contiguous run. Of
// elements rather than of bricks, since bricks_4 and bricks_8 already measure
// bricks in storage order; this is the curve as octrees and sparse voxel codes
// use it. The index is three table lookups ORed, one table of spread bits per
// axis, as such codes compute it. An axis with fewer bits than the others stops
// taking part once its bits run out, so the curve spans the next power of two
// of each extent: 400 x 800 x 100 spans 512 x 1024 x 128 slots (2.1 times the
// elements), a power-of-two shape nothing more, and an extent just past a
// power of two nearly doubles its axis. Slots outside the grid are never touched.
struct MortonRule {
  static int bitsFor(int n) {
    int bits = 0;
    while ((std::int64_t{1} << bits) < n) {
      ++bits;
    }
    return bits;
  }
  explicit MortonRule(const Shape& s) {
    const int n[3] = {s.nx, s.ny, s.nz}, bits[3] = {bitsFor(s.nx), bitsFor(s.ny), bitsFor(s.nz)};
    std::int64_t* table[3];
    for (int a = 0; a < 3; ++a) {
      tables_[a].reset(new std::int64_t[static_cast<std::size_t>(n[a])]());
      table[a] = tables_[a].get();
      entries_ += static_cast<std::size_t>(n[a]);
    }
    // Level by level from the lowest bit, k first: where each axis's bit goes.
    int position = 0;
    for (int level = 0; level < 31; ++level) {
      for (int a = 2; a >= 0; --a) {
        if (level < bits[a]) {
          for (int v = 0; v < n[a]; ++v) {
            table[a][v] |= std::int64_t{(v >> level) & 1} << position;
          }
          ++position;
        }
      }
    }
    slots_ = s.nx == 0 || s.ny == 0 || s.nz == 0 ? 0 : std::size_t{1} << position;
  }
  std::size_t size() const { return slots_; }
  std::size_t tableBytes() const { return entries_ * sizeof(std::int64_t); }
  auto view() const {
    return [x = tables_[0].get(), y = tables_[1].get(), z = tables_[2].get()](int i, int j, int k) {
      return x[i] | y[j] | z[k];
    };
  }

private:
  std::unique_ptr<std::int64_t[]> tables_[3];
  std::size_t entries_ = 0, slots_ = 0;
};

template <class T, class Memory = TouchedMemory>
using MortonOf = IndexedBlock<MortonRule, T, Memory>;
using Morton = MortonOf<int>;

} // namespace voxgrid

#endif
