#ifndef VOXGRID_LAYOUT_PROGRAM_STEPS_H
#define VOXGRID_LAYOUT_PROGRAM_STEPS_H

#include <voxgrid/layout.h>

#include <omp.h>

#include <cstddef>
#include <cstdint>
#include <valarray>

namespace voxgrid {

// The program's three layouts, for every element type: the same allocations
// and the same loops, written for T and indexed in 64 bits. Each class takes
// its steps from a policy; the suite's int cases run the program's very own
// steps through the same classes.

// Nested pointers: a top array, a slice array per i and a heap block per row.
// The pointer arrays start null, so that a build cut short by an exhausted
// heap is released by release().
template <class T> struct NestedSteps {
  static void check(const Shape&) {} // elementCount checks the extents as it allocates
  static T*** alloc(const Shape& s) {
    elementCount(s);
    T*** const g = new T**[static_cast<std::size_t>(s.nx)]();
    try {
      for (int i = 0; i < s.nx; ++i) {
        g[i] = new T*[static_cast<std::size_t>(s.ny)]();
        for (int j = 0; j < s.ny; ++j) {
          g[i][j] = new T[static_cast<std::size_t>(s.nz)];
        }
      }
    } catch (...) {
      release(g, s);
      throw;
    }
    return g;
  }
  static void fill(T*** g, const Shape& s) {
    const int nx = s.nx, ny = s.ny, nz = s.nz;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        fillRow(g[i][j], (std::int64_t{i} * ny + j) * nz, nz);
      }
    }
  }
  static void release(T*** g, const Shape& s) {
    for (int i = 0; i < s.nx && g[i] != nullptr; ++i) {
      for (int j = 0; j < s.ny; ++j) {
        delete[] g[i][j];
      }
      delete[] g[i];
    }
    delete[] g;
  }
};

// Element (i, j, k) of nested pointers; one type for every nested layout of T,
// so that a sweep compiled for one serves them all.
template <class T> struct NestedAt {
  T*** g;
  T& operator()(int i, int j, int k) const { return g[i][j][k]; }
};

template <class T, class Steps = NestedSteps<T>> class NestedOf : NoCopy {
public:
  static constexpr const char* kMemory = "a heap block per row, first touched by the fill";
  explicit NestedOf(const Shape& s) : s_(s) { Steps::check(s); }
  ~NestedOf() { release(); }
  void build() { grid_ = Steps::alloc(s_); }
  void fill() { Steps::fill(grid_, s_); }
  void release() {
    if (grid_ != nullptr) {
      Steps::release(grid_, s_);
      grid_ = nullptr;
    }
  }
  NestedAt<T> at() { return {grid_}; }

private:
  Shape s_;
  T*** grid_ = nullptr;
};

// One std::valarray<T>, zero-filled on the calling thread, then filled by
// three loops in a team of 4 (OneIndex false) or by one loop over the flat
// index that works out (i, j, k) by division (OneIndex true).
template <class T, bool OneIndex> struct FlatValarraySteps {
  static constexpr int kTeam = 4;
  static void check(const Shape&) {}
  static void alloc(std::valarray<T>& v, const Shape& s) {
    v.resize(static_cast<std::size_t>(elementCount(s)));
  }
  static void fill(std::valarray<T>& v, const Shape& s) {
    T* const d = v.size() == 0 ? nullptr : &v[0];
    const std::int64_t ny = s.ny, nz = s.nz, slice = ny * nz;
    if constexpr (OneIndex) {
      const std::int64_t size = elementCount(s);
#pragma omp parallel for schedule(static)
      for (std::int64_t index = 0; index < size; ++index) {
        const std::int64_t i = index / slice, j = index % slice / nz, k = index % slice % nz;
        d[i * slice + j * nz + k] = elementValue<T>(i * slice + j * nz + k);
      }
    } else {
      const int nx = s.nx;
#pragma omp parallel for num_threads(kTeam) schedule(static)
      for (int i = 0; i < nx; ++i) {
        for (std::int64_t j = 0; j < ny; ++j) {
          fillRow(d + i * slice + j * nz, i * slice + j * nz, s.nz);
        }
      }
    }
  }
  static void release(std::valarray<T>& v) { std::valarray<T>().swap(v); }
};

template <class T, bool OneIndex, class Steps = FlatValarraySteps<T, OneIndex>>
class FlatValarrayOf : NoCopy {
public:
  static constexpr const char* kMemory = "one std::valarray, value-initialised by one thread";
  explicit FlatValarrayOf(const Shape& s) : s_(s) { Steps::check(s); }
  void build() { Steps::alloc(grid_, s_); }
  void fill() { Steps::fill(grid_, s_); }
  void release() { Steps::release(grid_); }
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
