#ifndef VOXGRID_LAYOUT_VECTOR3D_H
#define VOXGRID_LAYOUT_VECTOR3D_H

#include <voxgrid/layout.h>

#include <vector>

namespace voxgrid {

// Nested std::vector, value-initialised: every row is zero-filled on the
// calling thread while it is built, one heap block per row.
template <class T> class Vector3dOf : NoCopy {
public:
  static constexpr const char* kMemory =
      "nested std::vectors: a heap block per row, each value-initialised by one thread";
  using Grid = std::vector<std::vector<std::vector<T>>>;
  explicit Vector3dOf(const Shape& s) : s_(s) {}
  ~Vector3dOf() { release(); }
  void build() {
    elementCount(s_);
    grid_ = Grid(s_.nx, std::vector<std::vector<T>>(s_.ny, std::vector<T>(s_.nz)));
  }
  void fill() {
    const int nx = s_.nx, ny = s_.ny, nz = s_.nz;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        fillRow(grid_[i][j].data(), (std::int64_t{i} * ny + j) * nz, nz);
      }
    }
  }
  void release() { Grid().swap(grid_); }
  auto at() {
    return [g = &grid_](int i, int j, int k) -> T& { return (*g)[i][j][k]; };
  }

private:
  Shape s_;
  Grid grid_;
};
using Vector3d = Vector3dOf<int>;

} // namespace voxgrid

#endif
