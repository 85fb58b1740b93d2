#ifndef VOXGRID_ELEMENT_H
#define VOXGRID_ELEMENT_H

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

namespace voxgrid {

// The element types a grid may hold: int32 (the default, the program's), the
// solvers' float and double, CT and microscopy stacks' uint16, masks' uint8.
enum class ElementType : int { kInt32, kFloat, kDouble, kUint16, kUint8 };
constexpr int kElementTypes = 5;

// What the suite stores in each element: its linear index n modulo the type's
// range, a power of two, so that every value is exact and every sweep's result
// can be checked exactly. int32 holds n itself below 2^31; uint16 and uint8
// wrap at their width. float and double hold n mod 2^16: exact, and summed in
// double their sums stay exact up to 2^37 elements, and the stencil's
// 6c - 6 neighbours stays exact in float.
struct ElementInfo {
  const char* name; // as --element and the case names spell it
  int bytes;
  std::uint64_t range;
};
constexpr ElementInfo kElementInfo[kElementTypes] = {{"int32", 4, std::uint64_t{1} << 31},
                                                     {"float", 4, std::uint64_t{1} << 16},
                                                     {"double", 8, std::uint64_t{1} << 16},
                                                     {"uint16", 2, std::uint64_t{1} << 16},
                                                     {"uint8", 1, std::uint64_t{1} << 8}};
constexpr const ElementInfo& info(ElementType e) { return kElementInfo[static_cast<int>(e)]; }

template <class T> struct ElementTraits; // only for the five types
template <> struct ElementTraits<int> { static constexpr ElementType type = ElementType::kInt32; };
template <> struct ElementTraits<float> {
  static constexpr ElementType type = ElementType::kFloat;
};
template <> struct ElementTraits<double> {
  static constexpr ElementType type = ElementType::kDouble;
};
template <> struct ElementTraits<std::uint16_t> {
  static constexpr ElementType type = ElementType::kUint16;
};
template <> struct ElementTraits<std::uint8_t> {
  static constexpr ElementType type = ElementType::kUint8;
};

template <class T, class = void> struct IsElement : std::false_type {};
template <class T>
struct IsElement<T, std::void_t<decltype(ElementTraits<T>::type)>> : std::true_type {};
template <class T> constexpr ElementType elementType() { return ElementTraits<T>::type; }

// The type a sweep adds elements up in: integers in 64 bits, wrapping past
// 2^64 alike on every side of the check; floating point in double.
template <class T>
using SumOf = std::conditional_t<std::is_floating_point_v<T>, double, std::uint64_t>;

// The element a layout's access g(i, j, k) gives a reference to.
template <class Access>
using ElementOf = std::remove_reference_t<decltype(std::declval<Access&>()(0, 0, 0))>;

// What element n holds.
template <class T> T elementValue(std::int64_t n) {
  constexpr std::uint64_t mask = info(elementType<T>()).range - 1;
  return static_cast<T>(static_cast<std::uint64_t>(n) & mask);
}

// What elements n0, n0 + 1, ... hold, for a fill's row loop: in 32 bits,
// since every range is at most 2^31, so that the loop stays as wide as the
// element's own vectors.
template <class T> class ValueRun {
public:
  explicit ValueRun(std::int64_t n0)
      : base_(static_cast<std::uint32_t>(static_cast<std::uint64_t>(n0) & kMask)) {}
  T operator[](int k) const {
    return static_cast<T>((base_ + static_cast<std::uint32_t>(k)) & kMask);
  }

private:
  static constexpr std::uint32_t kMask =
      static_cast<std::uint32_t>(info(elementType<T>()).range - 1);
  std::uint32_t base_;
};

// Stores elements n0 .. n0 + count - 1 into row[0, count): the row loop of every fill.
template <class T> void fillRow(T* row, std::int64_t n0, int count) {
  const ValueRun<T> value(n0);
  for (int k = 0; k < count; ++k) {
    row[k] = value[k];
  }
}

// The sum of elements 0 .. count-1: whole cycles of 0 .. range-1, then a part.
template <class T> SumOf<T> expectedSumOf(std::int64_t count) {
  constexpr std::uint64_t m = info(elementType<T>()).range;
  const std::uint64_t n = static_cast<std::uint64_t>(count), q = n / m, r = n % m;
  const std::uint64_t part = r == 0 ? 0 : r * (r - 1) / 2;
  return static_cast<SumOf<T>>(q * (m * (m - 1) / 2) + part);
}

// What field f of voxel n holds, in a grid of several fields: the value of
// n + f x kFieldStep, so that field 0 holds the linear index as a one-field
// grid does, and a field read from another field's slot holds another value.
// The step is odd, so that no two of the 19 fields coincide even modulo 2^8.
constexpr std::int64_t kFieldStep = 7919;
template <class T> T fieldValue(std::int64_t n, int f) {
  return elementValue<T>(n + f * kFieldStep);
}

// The sum of the values elements from .. to-1 hold (from <= to).
template <class T> SumOf<T> expectedSumOf(std::int64_t from, std::int64_t to) {
  return static_cast<SumOf<T>>(expectedSumOf<T>(to) - expectedSumOf<T>(from));
}

// A value as the messages print it: elements and sums are whole numbers.
template <class V> std::string valueText(V v) {
  if constexpr (std::is_floating_point_v<V>) {
    const auto whole = static_cast<long long>(v);
    return static_cast<V>(whole) == v ? std::to_string(whole) : std::to_string(v);
  } else {
    return std::to_string(+v);
  }
}

} // namespace voxgrid

#endif
