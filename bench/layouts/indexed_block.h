#ifndef VOXGRID_LAYOUT_INDEXED_BLOCK_H
#define VOXGRID_LAYOUT_INDEXED_BLOCK_H

#include "memory.h"

#include <voxgrid/layout.h>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace voxgrid {

// Element (i, j, k) of one block, where an index rule's view puts it. One
// type per rule and element type, whatever the memory, so that a sweep
// compiled for one serves every memory.
template <class View, class T> struct IndexedAt {
  T* d;
  View index;
  T& operator()(int i, int j, int k) const { return d[index(i, j, k)]; }
};

// One block whose elements sit where an index rule puts them, got as Memory
// gets it (memory.h; by default left uninitialised, so that the harness's
// parallel fill through at() first touches it). Slots the rule leaves unused
// (padding, a partial brick) are never touched. The one-block layouts differ
// only in their rule and their memory.
//
// A Rule is made from a Shape once its extents are checked, and has
//   std::size_t size() const;        the slots it spans
//   std::size_t tableBytes() const;  what it keeps beside them (0 for none)
//   View view() const;               a small copyable callable: (i, j, k) -> offset
template <class Rule, class T = int, class Memory = TouchedMemory> class IndexedBlock : NoCopy {
public:
  static constexpr const char* kMemory = Memory::kWords;
  explicit IndexedBlock(const Shape& s) : s_(s) {}
  ~IndexedBlock() { release(); }
  // What build() takes: the slots, and whatever the rule keeps beside them.
  static std::size_t bytes(const Shape& s) {
    const Rule r(s);
    return r.size() * sizeof(T) + r.tableBytes();
  }
  void build() {
    elementCount(s_);
    rule_.emplace(s_);
    block_ = static_cast<T*>(Memory::get(rule_->size() * sizeof(T)));
  }
  void release() {
    if (block_ != nullptr) {
      Memory::put(block_);
    }
    block_ = nullptr;
    rule_.reset();
  }
  // For a layout's own loops over its storage.
  const Shape& shape() const { return s_; }
  const Rule& rule() const { return *rule_; }
  T* data() const { return block_; }
  auto at() const {
    return IndexedAt<decltype(std::declval<const Rule&>().view()), T>{block_, rule_->view()};
  }

private:
  Shape s_;
  std::optional<Rule> rule_;
  T* block_ = nullptr;
};

// Row-major strides: (i, j, k) at (i*ny + j)*nz + k, as a flat block is indexed.
struct RowMajorRule {
  explicit RowMajorRule(const Shape& s) : nx(s.nx), ny(s.ny), nz(s.nz) {}
  std::size_t size() const { return static_cast<std::size_t>(nx * ny * nz); }
  static std::size_t tableBytes() { return 0; }
  auto view() const {
    return [ny = ny, nz = nz](int i, int j, int k) { return (i * ny + j) * nz + k; };
  }

  std::ptrdiff_t nx, ny, nz;
};

template <class T, class Memory = TouchedMemory>
using RowMajorOf = IndexedBlock<RowMajorRule, T, Memory>;

} // namespace voxgrid

#endif
