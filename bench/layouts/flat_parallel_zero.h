#ifndef VOXGRID_LAYOUT_FLAT_PARALLEL_ZERO_H
#define VOXGRID_LAYOUT_FLAT_PARALLEL_ZERO_H

#include <voxgrid/layout.h>

#include <algorithm>
#include <cstddef>
#include <memory>

namespace voxgrid {

// One uninitialised block, zero-filled while it is built by a parallel loop
// over i with the fill's static schedule, as a Kokkos View value-initialises:
// each page is first touched by the thread that later fills and reads it.
template <class T> class FlatParallelZeroOf : NoCopy {
public:
  static constexpr const char* kMemory =
      "one block, zeroed by a parallel loop with the fill's schedule";
  explicit FlatParallelZeroOf(const Shape& s) : s_(s) {}
  void build() {
    elementCount(s_);
    const std::size_t slab = static_cast<std::size_t>(s_.ny) * s_.nz;
    block_.reset(new T[slab * s_.nx]);
    T* const data = block_.get();
    const int nx = s_.nx;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nx; ++i) {
      std::fill_n(data + slab * i, slab, T{0});
    }
  }
  void fill() {
    T* const data = block_.get();
    const int nx = s_.nx, ny = s_.ny, nz = s_.nz;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        const std::ptrdiff_t rowStart = (std::ptrdiff_t{i} * ny + j) * nz;
        fillRow(data + rowStart, rowStart, nz);
      }
    }
  }
  void release() { block_.reset(); }
  auto at() { return flatAt(block_.get(), s_); }

private:
  Shape s_;
  std::unique_ptr<T[]> block_;
};
using FlatParallelZero = FlatParallelZeroOf<int>;

} // namespace voxgrid

#endif
