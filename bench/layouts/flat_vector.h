#ifndef VOXGRID_LAYOUT_FLAT_VECTOR_H
#define VOXGRID_LAYOUT_FLAT_VECTOR_H

#include <voxgrid/layout.h>

#include <cstddef>
#include <vector>

namespace voxgrid {

// One std::vector<T>, value-initialised (zero-filled on the calling thread),
// filled by three loops.
template <class T> class FlatVectorOf : NoCopy {
public:
  static constexpr const char* kMemory = "one std::vector, value-initialised by one thread";
  explicit FlatVectorOf(const Shape& s) : s_(s) {}
  ~FlatVectorOf() { release(); }
  void build() {
    elementCount(s_);
    grid_ = std::vector<T>(static_cast<std::size_t>(s_.nx) * s_.ny * s_.nz);
  }
  void fill() {
    T* const data = grid_.data();
    const int nx = s_.nx, ny = s_.ny, nz = s_.nz;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        const std::ptrdiff_t rowStart = (std::ptrdiff_t{i} * ny + j) * nz;
        fillRow(data + rowStart, rowStart, nz);
      }
    }
  }
  void release() { std::vector<T>().swap(grid_); }
  auto at() { return flatAt(grid_.data(), s_); }

private:
  Shape s_;
  std::vector<T> grid_;
};
using FlatVector = FlatVectorOf<int>;

} // namespace voxgrid

#endif
