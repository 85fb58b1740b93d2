#ifndef VOXGRID_LAYOUT_FLOOR_H
#define VOXGRID_LAYOUT_FLOOR_H

#include "index_fill.h"

#include <voxgrid/layout.h>

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>
#include <system_error>
#include <type_traits>

namespace voxgrid {

// The floor: the least any layout can pay to build, fill and release. A block
// aligned to the page size, advised to use (or not use) huge pages, first
// touched by one vectorised parallel loop, then released. Of T elements, one
// for each value of the grid (every field of every voxel), each filled by the
// suite's index fill for its type.
template <std::size_t Page, int Advice, class T = int> class Floor : NoCopy {
public:
  explicit Floor(const Shape& s) : s_(s) {}
  ~Floor() { release(); }
  void build() {
    const std::size_t bytes = (std::size_t(valueCount(s_)) * sizeof(T) + Page - 1) / Page * Page;
    grid_ = static_cast<T*>(::operator new (bytes, std::align_val_t{Page}));
    // Without huge pages compiled in, MADV_NOHUGEPAGE fails and 4 KiB pages are what we get.
    if (madvise(grid_, bytes, Advice) != 0 && Advice == MADV_HUGEPAGE) {
      const int err = errno;
      release();
      throw std::system_error(err, std::generic_category(), "madvise(MADV_HUGEPAGE)");
    }
  }
  void fill() { fillValues(grid_, valueCount(s_)); }
  void release() {
    ::operator delete (grid_, std::align_val_t{Page});
    grid_ = nullptr;
  }
  auto at() { return flatAt(grid_, s_); }

private:
  Shape s_;
  T* grid_ = nullptr;
};

constexpr std::size_t kSmallPage = std::size_t{4} << 10;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
template <class T> using Floor4kOf = Floor<kSmallPage, MADV_NOHUGEPAGE, T>;
template <class T> using Floor2mOf = Floor<kHugePage, MADV_HUGEPAGE, T>;
using Floor4k = Floor4kOf<int>;
using Floor2m = Floor2mOf<int>;

} // namespace voxgrid

#endif
