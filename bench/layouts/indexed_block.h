#ifndef VOXGRID_LAYOUT_INDEXED_BLOCK_H
#define VOXGRID_LAYOUT_INDEXED_BLOCK_H

#include <voxgrid/layout.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>

namespace voxgrid {

// One uninitialised block, 64-byte aligned, whose elements sit where an index
// rule puts them: the layouts built for locality differ only in their rule.
// The harness's parallel fill through at() first touches the block; slots the
// rule leaves unused (padding, a partial brick) are never touched.
//
// A Rule is made from a Shape once its extents are checked, and has
//   std::size_t size() const;  the slots it spans
//   View view() const;         a small copyable callable: (i, j, k) -> offset
template <class Rule, class T = int> class IndexedBlock : NoCopy {
public:
  static constexpr std::align_val_t kAlign{64};

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
    block_ = static_cast<T*>(::operator new(rule_->size() * sizeof(T), kAlign));
  }
  void release() {
    ::operator delete(block_, kAlign);
    block_ = nullptr;
    rule_.reset();
  }
  // For a layout's own loops over its storage.
  const Shape& shape() const { return s_; }
  const Rule& rule() const { return *rule_; }
  T* data() const { return block_; }
  auto at() const {
    return [d = block_, index = rule_->view()](int i, int j, int k) -> T& {
      return d[index(i, j, k)];
    };
  }

private:
  Shape s_;
  std::optional<Rule> rule_;
  T* block_ = nullptr;
};

} // namespace voxgrid

#endif
