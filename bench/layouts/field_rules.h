#ifndef VOXGRID_LAYOUT_FIELD_RULES_H
#define VOXGRID_LAYOUT_FIELD_RULES_H

#include "indexed_block.h"
#include "memory.h"

#include <voxgrid/detail/field_sweeps.h>
#include <voxgrid/layout.h>
#include <voxgrid/shape.h>

#include <cstddef>
#include <utility>

namespace voxgrid {

// Where the fields of a voxel go: index rules that place field f of voxel
// (i, j, k) as well as the voxel, over one block got as a Memory gets it: an
// index rule (indexed_block.h) whose view also takes the field,
// view(i, j, k, f). The arrangements: an array of structures (a voxel's fields
// side by side), a structure of arrays (one grid per field, one after the
// other), and the blocked form between them (for each run of V voxels along
// k, each field's V values together).

// Field f of voxel (i, j, k), for the sweeps that read every field.
template <class View, class T> struct FieldAt {
  T* d;
  View index;
  T& operator()(int i, int j, int k, int f) const { return d[index(i, j, k, f)]; }
};

// Field 0 of voxel (i, j, k), for the sweeps of one field.
template <class View, class T> struct FieldZeroAt {
  T* d;
  View index;
  T& operator()(int i, int j, int k) const { return d[index(i, j, k, 0)]; }
};

// One block holding every field where Rule puts it: fieldsAt() every field,
// at() field 0; the fill writes every field, first touching the block from
// the threads that sweep it. A field rule is made from a Shape, whose
// `fields` it places, and has
//   std::size_t size() const;        the slots it spans (at least the values)
//   std::size_t tableBytes() const;  what it keeps beside them (0 for none)
//   View view() const;               a small copyable callable: (i, j, k, f) -> offset
template <class Rule, class T, class Memory = TouchedMemory>
class FieldBlock : public IndexedBlock<Rule, T, Memory> {
  using View = decltype(std::declval<const Rule&>().view());

public:
  using FieldRule = Rule;
  using IndexedBlock<Rule, T, Memory>::IndexedBlock;
  FieldAt<View, T> fieldsAt() const { return {this->data(), this->rule().view()}; }
  FieldZeroAt<View, T> at() const { return {this->data(), this->rule().view()}; }
  void fill() { fillFields(fieldsAt(), this->shape()); }
};

// A stride of `units` units of unitBytes each, padded as padded strides are
// (flat_padded.h): where its bytes are a multiple of 256, by whole units to at
// least one 64-byte line more.
inline std::ptrdiff_t paddedStride(std::ptrdiff_t units, std::ptrdiff_t unitBytes, bool pad) {
  return pad && units > 0 && units * unitBytes % 256 == 0 ? units + (63 + unitBytes) / unitBytes
                                                          : units;
}

// Array of structures: voxel v = i*slice + j*row + k in row-major (or padded)
// voxel strides, its fields at v*fields .. v*fields + fields-1.
template <class T, bool Padded> struct AosRuleOf {
  explicit AosRuleOf(const Shape& s)
      : nx(s.nx), n(s.fields), row(paddedStride(s.nz, n * sizeof(T), Padded)),
        slice(paddedStride(s.ny * row, n * sizeof(T), Padded)) {}
  std::size_t size() const { return static_cast<std::size_t>(nx * slice * n); }
  static std::size_t tableBytes() { return 0; }
  struct View {
    std::ptrdiff_t row, slice, n;
    std::ptrdiff_t operator()(int i, int j, int k, int f) const {
      return (i * slice + j * row + k) * n + f;
    }
  };
  View view() const { return {row, slice, n}; }

  std::ptrdiff_t nx, n, row, slice;
};

// Structure of arrays in one block cut in `fields` parts: field f's grid
// starts at f*field, each in row-major (or padded) strides; padded, the
// fields' stride is padded too, so that one voxel's fields do not share
// cache sets.
template <class T, bool Padded> struct SoaRuleOf {
  explicit SoaRuleOf(const Shape& s)
      : n(s.fields), row(paddedStride(s.nz, sizeof(T), Padded)),
        slice(paddedStride(s.ny * row, sizeof(T), Padded)),
        field(paddedStride(s.nx * slice, sizeof(T), Padded)) {}
  std::size_t size() const { return static_cast<std::size_t>(n * field); }
  static std::size_t tableBytes() { return 0; }
  struct View {
    std::ptrdiff_t row, slice, field;
    std::ptrdiff_t operator()(int i, int j, int k, int f) const {
      return f * field + i * slice + j * row + k;
    }
  };
  View view() const { return {row, slice, field}; }

  std::ptrdiff_t n, row, slice, field;
};

// The blocked form: each row is cut into blocks of V voxels along k (the last
// one partial), and block b holds field 0's V values, then field 1's, and so
// on. V is a power of two.
template <class T, int V> struct AosoaRuleOf {
  static_assert(V > 0 && (V & (V - 1)) == 0, "a block of V voxels, V a power of two");
  explicit AosoaRuleOf(const Shape& s)
      : nx(s.nx), n(s.fields), rowBlocks((s.nz + V - 1) / V), sliceBlocks(s.ny * rowBlocks) {}
  std::size_t size() const { return static_cast<std::size_t>(nx * sliceBlocks * n * V); }
  static std::size_t tableBytes() { return 0; }
  struct View {
    std::ptrdiff_t rowBlocks, sliceBlocks, n;
    std::ptrdiff_t operator()(int i, int j, int k, int f) const {
      const auto kk = static_cast<unsigned>(k);
      const std::ptrdiff_t block = i * sliceBlocks + j * rowBlocks + kk / V;
      return (block * n + f) * V + kk % V;
    }
  };
  View view() const { return {rowBlocks, sliceBlocks, n}; }

  std::ptrdiff_t nx, n, rowBlocks, sliceBlocks;
};

// The widest vector this build compiles for, in bytes: one vector's worth of T.
#if defined(__AVX512F__)
constexpr int kVectorBytes = 64;
#elif defined(__AVX__)
constexpr int kVectorBytes = 32;
#else
constexpr int kVectorBytes = 16;
#endif
template <class T> constexpr int kVectorOf = kVectorBytes / static_cast<int>(sizeof(T));
template <class T> constexpr int kLineOf = 64 / static_cast<int>(sizeof(T));

template <class T, class M = TouchedMemory> using AosOf = FieldBlock<AosRuleOf<T, false>, T, M>;
template <class T, class M = TouchedMemory>
using AosPaddedOf = FieldBlock<AosRuleOf<T, true>, T, M>;
template <class T, class M = TouchedMemory> using SoaOf = FieldBlock<SoaRuleOf<T, false>, T, M>;
template <class T, class M = TouchedMemory>
using SoaPaddedOf = FieldBlock<SoaRuleOf<T, true>, T, M>;
template <class T, class M = TouchedMemory>
using AosoaVectorOf = FieldBlock<AosoaRuleOf<T, kVectorOf<T>>, T, M>;
template <class T, class M = TouchedMemory>
using AosoaLineOf = FieldBlock<AosoaRuleOf<T, kLineOf<T>>, T, M>;

} // namespace voxgrid

#endif
