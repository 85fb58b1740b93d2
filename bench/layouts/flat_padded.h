#ifndef VOXGRID_LAYOUT_FLAT_PADDED_H
#define VOXGRID_LAYOUT_FLAT_PADDED_H

#include "indexed_block.h"

#include <voxgrid/shape.h>

#include <cstddef>

namespace voxgrid {

// A flat block whose rows and slices are padded, as codes pad the fastest
// extents of a grid: a stride that is a multiple of 256 bytes gets one 64-byte
// line more, so that it becomes an odd number of lines and a line along j or
// along i visits every cache set instead of a few. Other strides stay as they
// are. Cost: at most 64 bytes per row and per slice, 12.5 % at nz = 128 ints
// and 25 % at nz = 64 (the worst), nothing where no stride is a multiple of 256 B.
template <class T> struct PaddedRuleOf {
  static constexpr std::ptrdiff_t kStep = 256 / sizeof(T); // a stride's period to avoid
  static constexpr std::ptrdiff_t kLine = 64 / sizeof(T);

  static std::ptrdiff_t padded(std::ptrdiff_t stride) {
    return stride > 0 && stride % kStep == 0 ? stride + kLine : stride;
  }
  explicit PaddedRuleOf(const Shape& s) : nx(s.nx), row(padded(s.nz)), slice(padded(s.ny * row)) {}
  std::size_t size() const { return static_cast<std::size_t>(nx * slice); }
  static std::size_t tableBytes() { return 0; }
  auto view() const {
    return [row = row, slice = slice](int i, int j, int k) { return i * slice + j * row + k; };
  }

  std::ptrdiff_t nx, row, slice;
};

using PaddedRule = PaddedRuleOf<int>;
template <class T, class Memory = TouchedMemory>
using FlatPaddedOf = IndexedBlock<PaddedRuleOf<T>, T, Memory>;
using FlatPadded = FlatPaddedOf<int>;

} // namespace voxgrid

#endif
