#ifndef VOXGRID_LAYOUT_HUGEPAGE_TABLES_H
#define VOXGRID_LAYOUT_HUGEPAGE_TABLES_H

#include "row_tables.h"

#include <voxgrid/layout.h>

#include <sys/mman.h>

#include <cerrno>
#include <cstddef>
#include <new>
#include <system_error>

namespace voxgrid {

// The pointer tables over one block aligned to 2 MiB and advised to use huge
// pages, so g[i][j][k] keeps working while the block costs what the 2 MiB
// floor does; the parallel fill is what first touches it.
template <class T> class HugepageTablesOf : NoCopy {
public:
  static constexpr std::size_t kPage = std::size_t{2} << 20;

  explicit HugepageTablesOf(const Shape& s) : s_(s) {}
  ~HugepageTablesOf() { release(); }
  void build() {
    elementCount(s_);
    const std::size_t bytes =
        (static_cast<std::size_t>(s_.nx) * s_.ny * s_.nz * sizeof(T) + kPage - 1) / kPage * kPage;
    block_ = static_cast<T*>(::operator new (bytes, std::align_val_t{kPage}));
    if (madvise(block_, bytes, MADV_HUGEPAGE) != 0) {
      const int err = errno;
      release();
      throw std::system_error(err, std::generic_category(), "madvise(MADV_HUGEPAGE)");
    }
    tables_.point(block_, s_);
  }
  void release() {
    tables_.reset();
    ::operator delete (block_, std::align_val_t{kPage});
    block_ = nullptr;
  }
  auto at() { return tables_.at(); }

private:
  Shape s_;
  T* block_ = nullptr;
  RowTables<T> tables_;
};
using HugepageTables = HugepageTablesOf<int>;

} // namespace voxgrid

#endif
