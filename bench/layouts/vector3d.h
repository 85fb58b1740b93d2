#ifndef VOXGRID_LAYOUT_VECTOR3D_H
#define VOXGRID_LAYOUT_VECTOR3D_H

#include "layouts.h"

#include <voxgrid/layout.h>

#include <vector>

namespace voxgrid {

// Nested std::vector, value-initialised: every row is zero-filled on the
// calling thread while it is built, one heap block per row.
class Vector3d : NoCopy {
public:
  using Grid = std::vector<std::vector<std::vector<int>>>;
  explicit Vector3d(const Shape& s) : s_(s) {}
  ~Vector3d() { release(); }
  void build() {
    checkExtents(s_.nx, s_.ny, s_.nz);
    grid_ = Grid(s_.nx, std::vector<std::vector<int>>(s_.ny, std::vector<int>(s_.nz)));
  }
  void fill() {
    const int nx = s_.nx, ny = s_.ny, nz = s_.nz;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        std::vector<int>& row = grid_[i][j];
        for (int k = 0; k < nz; ++k) {
          row[k] = i * ny * nz + j * nz + k;
        }
      }
    }
  }
  void release() { Grid().swap(grid_); }
  auto at() {
    return [g = &grid_](int i, int j, int k) -> int& { return (*g)[i][j][k]; };
  }

private:
  Shape s_;
  Grid grid_;
};

} // namespace voxgrid

#endif
