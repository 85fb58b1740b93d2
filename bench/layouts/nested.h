#ifndef VOXGRID_LAYOUT_NESTED_H
#define VOXGRID_LAYOUT_NESTED_H

#include "layouts.h"

#include <voxgrid/layout.h>

namespace voxgrid {

// The program's nested pointers, through the very steps its test is made of:
// a top array, a slice array per i and a heap block per row.
class Nested : NoCopy {
public:
  explicit Nested(const Shape& s) : s_(s) { checkExtents(s.nx, s.ny, s.nz); } // int offsets
  ~Nested() { release(); }
  void build() { grid_ = allocNested(s_.nx, s_.ny, s_.nz); }
  void fill() { fillNested(grid_, s_.nx, s_.ny, s_.nz); }
  void release() {
    if (grid_ != nullptr) {
      releaseNested(grid_, s_.nx, s_.ny);
      grid_ = nullptr;
    }
  }
  auto at() {
    return [g = grid_](int i, int j, int k) -> int& { return g[i][j][k]; };
  }

private:
  Shape s_;
  int*** grid_ = nullptr;
};

} // namespace voxgrid

#endif
