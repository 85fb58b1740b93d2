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
// touched by one vectorised parallel loop, then released. Of T elements: for
// int the suite's own index fill, for the other types the same loop in T.
template <std::size_t Page, int Advice, class T = int> class Floor : NoCopy {
public:
  explicit Floor(const Shape& s) : s_(s) {}
  ~Floor() { release(); }
  void build() {
    const std::size_t bytes = (std::size_t(elementCount(s_)) * sizeof(T) + Page - 1) / Page * Page;
    grid_ = static_cast<T*>(::operator new (bytes, std::align_val_t{Page}));
    // Without huge pages compiled in, MADV_NOHUGEPAGE fails and 4 KiB pages are what we get.
    if (madvise(grid_, bytes, Advice) != 0 && Advice == MADV_HUGEPAGE) {
      const int err = errno;
      release();
      throw std::system_error(err, std::generic_category(), "madvise(MADV_HUGEPAGE)");
    }
  }
  void fill() {
    const std::int64_t n = elementCount(s_);
    if constexpr (std::is_same_v<T, int>) {
      fillIndex(grid_, n);
    } else {
      // 2^30 at a time, as the index fill goes, so that the loop's index is an int.
      constexpr std::int64_t kChunk = std::int64_t{1} << 30;
      for (std::int64_t start = 0; start < n; start += kChunk) {
        T* const part = grid_ + start;
        const int count = static_cast<int>(std::min(n - start, kChunk));
        const ValueRun<T> value(start);
#pragma omp parallel for simd schedule(static)
        for (int index = 0; index < count; ++index) {
          part[index] = value[index];
        }
      }
    }
  }
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
