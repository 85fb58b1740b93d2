#ifndef VOXGRID_LAYOUT_FLAT_VECTOR_H
#define VOXGRID_LAYOUT_FLAT_VECTOR_H

#include "layouts.h"

#include <voxgrid/layout.h>

#include <cstddef>
#include <vector>

namespace voxgrid {

// One std::vector<int>, value-initialised (zero-filled on the calling thread),
// filled by three loops.
class FlatVector : NoCopy {
public:
  explicit FlatVector(const Shape& s) : s_(s) {}
  ~FlatVector() { release(); }
  void build() {
    checkExtents(s_.nx, s_.ny, s_.nz);
    grid_ = std::vector<int>(static_cast<std::size_t>(s_.nx) * s_.ny * s_.nz);
  }
  void fill() {
    int* const data = grid_.data();
    const int nx = s_.nx, ny = s_.ny, nz = s_.nz;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        const int rowStart = i * ny * nz + j * nz;
        int* const row = data + rowStart;
        for (int k = 0; k < nz; ++k) {
          row[k] = i * ny * nz + j * nz + k;
        }
      }
    }
  }
  void release() { std::vector<int>().swap(grid_); }
  auto at() { return flatAt(grid_.data(), s_); }

private:
  Shape s_;
  std::vector<int> grid_;
};

} // namespace voxgrid

#endif
