#ifndef VOXGRID_LAYOUT_HUGEPAGE_TABLES_H
#define VOXGRID_LAYOUT_HUGEPAGE_TABLES_H

#include "layout.h"
#include "layouts.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstddef>
#include <memory>
#include <new>
#include <system_error>

// The pointer tables over one block aligned to 2 MiB and advised to use huge
// pages, so g[i][j][k] keeps working while the block costs what the 2 MiB
// floor does; the parallel fill is what first touches it.
class HugepageTables : NoCopy {
public:
  static constexpr std::size_t kPage = std::size_t{2} << 20;

  explicit HugepageTables(const Shape& s) : s_(s) {}
  ~HugepageTables() { release(); }
  void build() {
    checkExtents(s_.nx, s_.ny, s_.nz);
    const std::size_t rows = static_cast<std::size_t>(s_.nx) * s_.ny;
    const std::size_t bytes = (rows * s_.nz * sizeof(int) + kPage - 1) / kPage * kPage;
    block_ = static_cast<int*>(::operator new (bytes, std::align_val_t{kPage}));
    if (madvise(block_, bytes, MADV_HUGEPAGE) != 0) {
      const int err = errno;
      release();
      throw std::system_error(err, std::generic_category(), "madvise(MADV_HUGEPAGE)");
    }
    rows_.reset(new int*[rows]);
    slices_.reset(new int**[s_.nx]);
    for (int i = 0; i < s_.nx; ++i) {
      slices_[i] = rows_.get() + static_cast<std::size_t>(i) * s_.ny;
      for (int j = 0; j < s_.ny; ++j) {
        slices_[i][j] = block_ + (static_cast<std::size_t>(i) * s_.ny + j) * s_.nz;
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
    ::operator delete (block_, std::align_val_t{kPage});
    block_ = nullptr;
  }
  auto at() {
    return [g = slices_.get()](int i, int j, int k) -> int& { return g[i][j][k]; };
  }

private:
  Shape s_;
  int* block_ = nullptr;
  std::unique_ptr<int*[]> rows_;
  std::unique_ptr<int**[]> slices_;
};

#endif
