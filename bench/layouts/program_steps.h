#ifndef VOXGRID_LAYOUT_PROGRAM_STEPS_H
#define VOXGRID_LAYOUT_PROGRAM_STEPS_H

#include "layouts.h"

#include <voxgrid/layout.h>

#include <omp.h>

#include <cstddef>
#include <cstdint>
#include <valarray>

namespace voxgrid {

// The program's three layouts for an element type other than its int: the
// same allocations and the same loops, written for T and indexed in 64 bits.
// For int the suite runs the program's own steps (nested.h, flat_valarray.h).

// Nested pointers: a top array, a slice array per i and a heap block per row.
// The pointer arrays start null, so that a build cut short by an exhausted
// heap is released by release().
template <class T> class NestedOf : NoCopy {
public:
  explicit NestedOf(const Shape& s) : s_(s) {}
  ~NestedOf() { release(); }
  void build() {
    elementCount(s_);
    grid_ = new T**[static_cast<std::size_t>(s_.nx)]();
    for (int i = 0; i < s_.nx; ++i) {
      grid_[i] = new T*[static_cast<std::size_t>(s_.ny)]();
      for (int j = 0; j < s_.ny; ++j) {
        grid_[i][j] = new T[static_cast<std::size_t>(s_.nz)];
      }
    }
  }
  void fill() {
    T*** const g = grid_;
    const int nx = s_.nx, ny = s_.ny, nz = s_.nz;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        const ValueRun<T> value((std::int64_t{i} * ny + j) * nz);
        for (int k = 0; k < nz; ++k) {
          g[i][j][k] = value[k];
        }
      }
    }
  }
  void release() {
    if (grid_ == nullptr) {
      return;
    }
    for (int i = 0; i < s_.nx && grid_[i] != nullptr; ++i) {
      for (int j = 0; j < s_.ny; ++j) {
        delete[] grid_[i][j];
      }
      delete[] grid_[i];
    }
    delete[] grid_;
    grid_ = nullptr;
  }
  auto at() {
    return [g = grid_](int i, int j, int k) -> T& { return g[i][j][k]; };
  }

private:
  Shape s_;
  T*** grid_ = nullptr;
};

// One std::valarray<T>, zero-filled on the calling thread, then filled by
// three loops in a team of 4 (OneIndex false) or one loop over the flat index
// that works out (i, j, k) by division (OneIndex true), as the program's are;
// only the program's fill prints its team's size.
template <class T, bool OneIndex> class FlatValarrayOf : NoCopy {
public:
  explicit FlatValarrayOf(const Shape& s) : s_(s) {}
  void build() { grid_.resize(static_cast<std::size_t>(elementCount(s_))); }
  void fill() {
    T* const d = grid_.size() == 0 ? nullptr : &grid_[0];
    const std::int64_t ny = s_.ny, nz = s_.nz, slice = ny * nz;
    if constexpr (OneIndex) {
      const std::int64_t size = elementCount(s_);
#pragma omp parallel for schedule(static)
      for (std::int64_t index = 0; index < size; ++index) {
        const std::int64_t i = index / slice, j = index % slice / nz, k = index % slice % nz;
        d[i * slice + j * nz + k] = elementValue<T>(i * slice + j * nz + k);
      }
    } else {
      const int nx = s_.nx;
#pragma omp parallel for num_threads(kLinearTeam) schedule(static)
      for (int i = 0; i < nx; ++i) {
        for (std::int64_t j = 0; j < ny; ++j) {
          const std::int64_t row = i * slice + j * nz;
          const ValueRun<T> value(row);
          for (int k = 0; k < nz; ++k) {
            d[row + k] = value[k];
          }
        }
      }
    }
  }
  void release() { std::valarray<T>().swap(grid_); }
  auto at() {
    T* const d = grid_.size() == 0 ? nullptr : &grid_[0];
    return flatAt(d, s_);
  }

private:
  Shape s_;
  std::valarray<T> grid_;
};

} // namespace voxgrid

#endif
