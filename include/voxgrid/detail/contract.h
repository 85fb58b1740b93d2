#ifndef VOXGRID_DETAIL_CONTRACT_H
#define VOXGRID_DETAIL_CONTRACT_H

#include <voxgrid/detail/gather.h>
#include <voxgrid/element.h>
#include <voxgrid/shape.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace voxgrid::detail {

// Which members a layout has, found without instantiating anything that would
// fail, so that a missing one gets one message instead of a template backtrace.
template <class L, class = void> struct HasBuild : std::false_type {};
template <class L>
struct HasBuild<L, std::void_t<decltype(std::declval<L&>().build())>> : std::true_type {};
template <class L, class = void> struct HasFill : std::false_type {};
template <class L>
struct HasFill<L, std::void_t<decltype(std::declval<L&>().fill())>> : std::true_type {};
template <class L, class = void> struct HasRelease : std::false_type {};
template <class L>
struct HasRelease<L, std::void_t<decltype(std::declval<L&>().release())>> : std::true_type {};
template <class L, class = void> struct HasAt : std::false_type {};
template <class L>
struct HasAt<L, std::void_t<decltype(std::declval<L&>().at())>> : std::true_type {};
// at()'s g(i, j, k) gives a reference to one of the element types.
template <class L, class = void> struct AtGivesElement : std::false_type {};
template <class L>
struct AtGivesElement<L, std::void_t<decltype(std::declval<L&>().at()(0, 0, 0))>>
    : std::bool_constant<
          std::is_lvalue_reference_v<decltype(std::declval<L&>().at()(0, 0, 0))> &&
          !std::is_const_v<std::remove_reference_t<decltype(std::declval<L&>().at()(0, 0, 0))>> &&
          IsElement<std::remove_reference_t<decltype(std::declval<L&>().at()(0, 0, 0))>>::value> {};
template <class L, class = void> struct HasBytes : std::false_type {};
template <class L>
struct HasBytes<L, std::void_t<decltype(L::bytes(std::declval<const Shape&>()))>>
    : std::is_convertible<decltype(L::bytes(std::declval<const Shape&>())), std::size_t> {};

// A layout's own loops for a sweep, each optional:
//   SumOf<T> ownSum();                  every element added up (T: the element type)
//   void ownStencil(L& out);            the 7-point stencil into out, interior only
//   SumOf<T> ownLinesJ(), ownLinesI();  the lines' sum, line by line
//   SumOf<T> ownGather(const Point* points, std::int64_t count);
template <class L, class = void> struct HasOwnSum : std::false_type {};
template <class L>
struct HasOwnSum<L, std::void_t<decltype(std::declval<L&>().ownSum())>> : std::true_type {};
template <class L, class = void> struct HasOwnStencil : std::false_type {};
template <class L>
struct HasOwnStencil<L, std::void_t<decltype(std::declval<L&>().ownStencil(std::declval<L&>()))>>
    : std::true_type {};
template <class L, class = void> struct HasOwnLinesJ : std::false_type {};
template <class L>
struct HasOwnLinesJ<L, std::void_t<decltype(std::declval<L&>().ownLinesJ())>> : std::true_type {};
template <class L, class = void> struct HasOwnLinesI : std::false_type {};
template <class L>
struct HasOwnLinesI<L, std::void_t<decltype(std::declval<L&>().ownLinesI())>> : std::true_type {};
template <class L, class = void> struct HasOwnGather : std::false_type {};
template <class L>
struct HasOwnGather<L, std::void_t<decltype(std::declval<L&>().ownGather(
                           std::declval<const Point*>(), std::int64_t{}))>> : std::true_type {};
template <class L> constexpr bool hasOwnLoops() {
  return HasOwnSum<L>::value || HasOwnStencil<L>::value || HasOwnLinesJ<L>::value ||
         HasOwnLinesI<L>::value || HasOwnGather<L>::value;
}

// True for a layout the harness can measure; otherwise stops the build with
// one message per missing member, naming the page that describes them.
template <class L> constexpr bool isLayout() {
  constexpr bool made = std::is_constructible_v<L, const Shape&>;
  static_assert(made, "voxgrid: a layout needs the constructor L(const voxgrid::Shape&) "
                      "(see docs/own-layout.md)");
  static_assert(HasBuild<L>::value,
                "voxgrid: a layout needs the member void build() (see docs/own-layout.md)");
  static_assert(HasRelease<L>::value,
                "voxgrid: a layout needs the member void release() (see docs/own-layout.md)");
  static_assert(HasAt<L>::value, "voxgrid: a layout needs the member auto at(), its element "
                                 "access g(i, j, k) (see docs/own-layout.md)");
  static_assert(!HasAt<L>::value || AtGivesElement<L>::value,
                "voxgrid: a layout's at() must give a callable g(i, j, k) that returns the "
                "element by reference: int&, float&, double&, std::uint16_t& or std::uint8_t& "
                "(see docs/own-layout.md)");
  return made && HasBuild<L>::value && HasRelease<L>::value && AtGivesElement<L>::value;
}

// What the layout states it allocates at a shape, for the memory plan.
template <class L> std::int64_t statedBytes(const Shape& s) {
  return static_cast<std::int64_t>(L::bytes(s));
}

} // namespace voxgrid::detail

#endif
