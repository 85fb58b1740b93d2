#ifndef VOXGRID_LAYOUT_FLAT_PARALLEL_ZERO_H
#define VOXGRID_LAYOUT_FLAT_PARALLEL_ZERO_H

#include "layouts.h"

#include <voxgrid/layout.h>

#include <algorithm>
#include <cstddef>
#include <memory>

namespace voxgrid {

// One uninitialised block, zero-filled while it is built by a parallel loop
// over i with the fill's static schedule, as a Kokkos View value-initialises:
// each page is first touched by the thread that later fills and reads it.
class FlatParallelZero : NoCopy {
public:
  explicit FlatParallelZero(const Shape& s) : s_(s) {}
  void build() {
    checkExtents(s_.nx, s_.ny, s_.nz);
    const std::size_t slab = static_cast<std::size_t>(s_.ny) * s_.nz;
    block_.reset(new int[slab * s_.nx]);
    int* const data = block_.get();
    const int nx = s_.nx;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nx; ++i) {
      std::fill_n(data + slab * i, slab, 0);
    }
  }
  void fill() {
    int* const data = block_.get();
    const int nx = s_.nx, ny = s_.ny, nz = s_.nz;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        for (int k = 0; k < nz; ++k) {
          data[i * ny * nz + j * nz + k] = i * ny * nz + j * nz + k;
        }
      }
    }
  }
  void release() { block_.reset(); }
  auto at() { return flatAt(block_.get(), s_); }

private:
  Shape s_;
  std::unique_ptr<int[]> block_;
};

} // namespace voxgrid

#endif
