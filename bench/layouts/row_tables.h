#ifndef VOXGRID_LAYOUT_ROW_TABLES_H
#define VOXGRID_LAYOUT_ROW_TABLES_H

#include <voxgrid/shape.h>

#include <cstddef>
#include <memory>

namespace voxgrid {

// A table of nx*ny row pointers into a flat block and a table of nx slice
// pointers into that, so code over the block keeps writing g[i][j][k]. Only
// the tables are written: the block is left untouched.
template <class T> class RowTables {
public:
  void point(T* block, const Shape& s) {
    const std::size_t rows = static_cast<std::size_t>(s.nx) * s.ny;
    rows_.reset(new T*[rows]);
    slices_.reset(new T**[s.nx]);
    for (int i = 0; i < s.nx; ++i) {
      slices_[i] = rows_.get() + static_cast<std::size_t>(i) * s.ny;
      for (int j = 0; j < s.ny; ++j) {
        slices_[i][j] = block + (static_cast<std::size_t>(i) * s.ny + j) * s.nz;
      }
    }
  }
  void reset() {
    slices_.reset();
    rows_.reset();
  }
  auto at() const {
    return [g = slices_.get()](int i, int j, int k) -> T& { return g[i][j][k]; };
  }

private:
  std::unique_ptr<T*[]> rows_;
  std::unique_ptr<T**[]> slices_;
};

} // namespace voxgrid

#endif
