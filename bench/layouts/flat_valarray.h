#ifndef VOXGRID_LAYOUT_FLAT_VALARRAY_H
#define VOXGRID_LAYOUT_FLAT_VALARRAY_H

#include "layouts.h"

#include <voxgrid/layout.h>

#include <valarray>

namespace voxgrid {

// The program's two flat layouts: one std::valarray<int>, zero-filled on the
// calling thread, then filled by Fill (three loops in a team of 4, or one loop
// over the flat index), through the very steps their tests are made of.
template <void (*Fill)(std::valarray<int>&, int, int, int)> class FlatValarray : NoCopy {
public:
  explicit FlatValarray(const Shape& s) : s_(s) { checkExtents(s.nx, s.ny, s.nz); } // int offsets
  ~FlatValarray() { release(); }
  void build() { grid_ = allocFlat(s_.nx, s_.ny, s_.nz); }
  void fill() { Fill(grid_, s_.nx, s_.ny, s_.nz); }
  void release() { releaseFlat(grid_); }
  auto at() {
    int* const d = grid_.size() == 0 ? nullptr : &grid_[0];
    return flatAt(d, s_);
  }

private:
  Shape s_;
  std::valarray<int> grid_;
};

using FlatThreeLoops = FlatValarray<fillLinear>;
using FlatOneIndex = FlatValarray<fillLinearOneIndex>;

} // namespace voxgrid

#endif
