#ifndef VOXGRID_LAYOUT_REFERENCE_BLOCK_H
#define VOXGRID_LAYOUT_REFERENCE_BLOCK_H

#include "index_fill.h"

#include <voxgrid/detail/block_sweeps.h>
#include <voxgrid/layout.h>

#include <sys/mman.h>

#include <cstddef>
#include <new>

namespace voxgrid {

// A flat block every page of which is mapped before the sample starts, so
// that its fill moves memory and nothing else: the streaming stores' fill.
// Nothing to build or release: the block lives as long as the object.
template <class T, void (*Fill)(T*, std::int64_t) = fillValues<T>> class ReferenceBlock : NoCopy {
public:
  explicit ReferenceBlock(const Shape& s)
      : s_(s), n_(elementCount(s)),
        block_(
            static_cast<T*>(::operator new (std::size_t(n_) * sizeof(T), std::align_val_t{64}))) {
    fillValues(block_, n_); // maps every page, outside the sample
  }
  ~ReferenceBlock() { ::operator delete (block_, std::align_val_t{64}); }
  void build() {}
  void fill() { Fill(block_, n_); }
  void release() {}
  auto at() { return flatAt(block_, s_); }

private:
  Shape s_;
  std::int64_t n_;
  T* block_;
};

// The ceiling: one block laid out as tuned code lays out a grid (its slices
// padded, block_sweeps.h), aligned to 2 MiB and advised huge pages as tuned
// code allocates a large grid (a scattered read then misses no TLB entry that
// a layout on huge pages would hit; without transparent huge pages it runs on
// small ones), every page mapped before the sample starts, filled with plain
// stores. The harness sweeps it with the ceiling's own kernels (kCeiling): for
// int, its stencil streams its stores; the gather goes through its element access.
template <class T> class CeilingBlock : NoCopy {
public:
  explicit CeilingBlock(const Shape& s) : b_(geometryOf(s)), block_(mapped(b_.size())) {
    fillValues(block_, b_.size()); // maps every page, padding included, outside the sample
  }
  ~CeilingBlock() { ::operator delete (block_, std::align_val_t{kHugePage}); }
  void build() {}
  void fill() { fillSlices(block_, b_); }
  void release() {}
  auto at() { return blockAt(block_, b_); }
  static constexpr bool kCeiling = true;
  T* block() { return block_; }
  const BlockGeometry& geometry() const { return b_; }

private:
  // elementCount first: it refuses a shape no grid can have, before anything is allocated.
  static BlockGeometry geometryOf(const Shape& s) {
    elementCount(s);
    return blockGeometry<T>(s);
  }

  static constexpr std::size_t kHugePage = std::size_t{2} << 20;
  static T* mapped(std::int64_t count) {
    const std::size_t whole =
        (std::size_t(count) * sizeof(T) + kHugePage - 1) / kHugePage * kHugePage;
    void* const got = ::operator new (whole, std::align_val_t{kHugePage});
    madvise(got, whole, MADV_HUGEPAGE); // advice only: refused, the block stays on small pages
    return static_cast<T*>(got);
  }

  BlockGeometry b_;
  T* block_;
};

using StreamingStores = ReferenceBlock<int, fillIndexStreaming>;
template <class T> using PlainStoresOf = CeilingBlock<T>;

} // namespace voxgrid

#endif
