#ifndef VOXGRID_LAYOUT_POINTER_TABLES_H
#define VOXGRID_LAYOUT_POINTER_TABLES_H

#include "memory.h"
#include "row_tables.h"

#include <voxgrid/layout.h>

#include <cstddef>

namespace voxgrid {

// One block, got as Memory gets it (memory.h), plus a table of nx*ny row
// pointers into it and a table of nx slice pointers into that, so code keeps
// writing g[i][j][k]. Only the tables are written here: with the default
// memory the parallel fill is what first touches the block.
template <class T, class Memory = TouchedMemory> class PointerTablesOf : NoCopy {
public:
  static constexpr const char* kMemory = Memory::kWords;
  explicit PointerTablesOf(const Shape& s) : s_(s) {}
  ~PointerTablesOf() { release(); }
  void build() {
    const auto n = static_cast<std::size_t>(elementCount(s_));
    block_ = static_cast<T*>(Memory::get(n * sizeof(T)));
    tables_.point(block_, s_);
  }
  void release() {
    tables_.reset();
    if (block_ != nullptr) {
      Memory::put(block_);
    }
    block_ = nullptr;
  }
  auto at() { return tables_.at(); }

private:
  Shape s_;
  T* block_ = nullptr;
  RowTables<T> tables_;
};

} // namespace voxgrid

#endif
