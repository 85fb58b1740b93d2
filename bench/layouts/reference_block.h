#ifndef VOXGRID_LAYOUT_REFERENCE_BLOCK_H
#define VOXGRID_LAYOUT_REFERENCE_BLOCK_H

#include "index_fill.h"

#include <voxgrid/layout.h>

#include <cstddef>
#include <new>

namespace voxgrid {

// The ceiling: a flat block every page of which is mapped before the sample
// starts, so its fill and its sweeps move memory and nothing else. Nothing to
// build or release: the block lives as long as the object. The harness sums
// it and takes its stencil with the flat kernels (kCeiling): for int, written
// for the machine's bandwidth, with non-temporal stores; for the other types,
// one flat loop each (block_sweeps.h). Its other sweeps go through its element
// access.
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
  static constexpr bool kCeiling = true;
  T* block() { return block_; }

private:
  Shape s_;
  std::int64_t n_;
  T* block_;
};

using StreamingStores = ReferenceBlock<int, fillIndexStreaming>;
template <class T> using PlainStoresOf = ReferenceBlock<T>;

} // namespace voxgrid

#endif
