#ifndef VOXGRID_LAYOUT_POINTER_TABLES_H
#define VOXGRID_LAYOUT_POINTER_TABLES_H

#include "row_tables.h"

#include <voxgrid/layout.h>

#include <cstddef>
#include <memory>

namespace voxgrid {

// One uninitialised block plus a table of nx*ny row pointers into it and a
// table of nx slice pointers into that, so code keeps writing g[i][j][k]; the
// parallel fill is what first touches the block.
template <class T> class PointerTablesOf : NoCopy {
public:
  explicit PointerTablesOf(const Shape& s) : s_(s) {}
  void build() {
    elementCount(s_);
    block_.reset(
        new T[static_cast<std::size_t>(s_.nx) * s_.ny * s_.nz]); // the fill touches it first
    tables_.point(block_.get(), s_);
  }
  void release() {
    tables_.reset();
    block_.reset();
  }
  auto at() { return tables_.at(); }

private:
  Shape s_;
  std::unique_ptr<T[]> block_;
  RowTables<T> tables_;
};
using PointerTables = PointerTablesOf<int>;

} // namespace voxgrid

#endif
