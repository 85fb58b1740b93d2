#ifndef VOXGRID_LAYOUT_FIELD_BLOCKS_H
#define VOXGRID_LAYOUT_FIELD_BLOCKS_H

#include "memory.h"

#include <voxgrid/detail/field_sweeps.h>
#include <voxgrid/layout.h>
#include <voxgrid/shape.h>

#include <cstddef>

namespace voxgrid {

// Structure of arrays as codes often write it: one block per field, each got
// as Memory gets it and row-major, each first touched by the parallel fill.
// Every block starts at the same alignment, so that one voxel's fields sit
// at the same offset in each: what the one block cut in parts (SoaRuleOf)
// avoids by padding.
template <class T, class Memory = TouchedMemory> class FieldBlocks : NoCopy {
public:
  static constexpr const char* kMemory = Memory::kWords;
  explicit FieldBlocks(const Shape& s) : s_(s) {}
  ~FieldBlocks() { release(); }
  static std::size_t bytes(const Shape& s) {
    return static_cast<std::size_t>(valueCount(s)) * sizeof(T);
  }
  void build() {
    const auto each = static_cast<std::size_t>(elementCount(s_)) * sizeof(T);
    try {
      for (int f = 0; f < s_.fields; ++f) {
        blocks_[f] = static_cast<T*>(Memory::get(each));
      }
    } catch (...) {
      release();
      throw;
    }
  }
  void release() {
    for (T*& block : blocks_) {
      if (block != nullptr) {
        Memory::put(block);
      }
      block = nullptr;
    }
  }
  // Field f of voxel (i, j, k): the field's block, then row-major strides.
  struct At {
    T* const* d;
    std::ptrdiff_t ny, nz;
    T& operator()(int i, int j, int k, int f) const { return d[f][(i * ny + j) * nz + k]; }
  };
  At fieldsAt() const { return {blocks_, s_.ny, s_.nz}; }
  auto at() const { return flatAt(blocks_[0], s_); }
  void fill() { fillFields(fieldsAt(), s_); }

private:
  Shape s_;
  T* blocks_[kMaxFields] = {};
};

} // namespace voxgrid

#endif
