#ifndef VOXGRID_LAYOUT_POINTER_TABLES_H
#define VOXGRID_LAYOUT_POINTER_TABLES_H

#include "layout.h"
#include "layouts.h"

#include <cstddef>
#include <memory>

// One uninitialised block plus a table of nx*ny row pointers into it and a
// table of nx slice pointers into that, so code keeps writing g[i][j][k]; the
// parallel fill is what first touches the block.
class PointerTables : NoCopy {
public:
  explicit PointerTables(const Shape& s) : s_(s) {}
  void build() {
    checkExtents(s_.nx, s_.ny, s_.nz);
    const std::size_t rows = static_cast<std::size_t>(s_.nx) * s_.ny;
    block_.reset(new int[rows * s_.nz]); // uninitialised: the fill touches it first
    rows_.reset(new int*[rows]);
    slices_.reset(new int**[s_.nx]);
    for (int i = 0; i < s_.nx; ++i) {
      slices_[i] = rows_.get() + static_cast<std::size_t>(i) * s_.ny;
      for (int j = 0; j < s_.ny; ++j) {
        slices_[i][j] = block_.get() + (static_cast<std::size_t>(i) * s_.ny + j) * s_.nz;
      }
    }
  }
  void fill() {
    int*** const g = slices_.get();
    const int nx = s_.nx, ny = s_.ny, nz = s_.nz;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        for (int k = 0; k < nz; ++k) {
          g[i][j][k] = i * ny * nz + j * nz + k;
        }
      }
    }
  }
  void release() {
    slices_.reset();
    rows_.reset();
    block_.reset();
  }
  auto at() {
    return [g = slices_.get()](int i, int j, int k) -> int& { return g[i][j][k]; };
  }

private:
  Shape s_;
  std::unique_ptr<int[]> block_;
  std::unique_ptr<int*[]> rows_;
  std::unique_ptr<int**[]> slices_;
};

#endif
