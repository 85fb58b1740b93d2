#ifndef VOXGRID_DETAIL_CONTRACT_H
#define VOXGRID_DETAIL_CONTRACT_H

#include <voxgrid/detail/gather.h>
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
template <class L, class = void> struct AtGivesInt : std::false_type {};
template <class L>
struct AtGivesInt<L, std::void_t<decltype(std::declval<L&>().at()(0, 0, 0))>>
    : std::is_same<decltype(std::declval<L&>().at()(0, 0, 0)), int&> {};
template <class L, class = void> struct HasBytes : std::false_type {};
template <class L>
struct HasBytes<L, std::void_t<decltype(L::bytes(std::declval<const Shape&>()))>>
    : std::is_convertible<decltype(L::bytes(std::declval<const Shape&>())), std::size_t> {};

// A layout's own loops for a sweep, each optional:
//   std::int64_t ownSum();              every element added up, in 64 bits
//   void ownStencil(L& out);            the 7-point stencil into out, interior only
//   std::int64_t ownLinesJ(), ownLinesI();  the lines' sum, line by line
//   std::int64_t ownGather(const Point* points, std::int64_t count);
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
  static_assert(!HasAt<L>::value || AtGivesInt<L>::value,
                "voxgrid: a layout's at() must give a callable g(i, j, k) that returns the "
                "element as int& (see docs/own-layout.md)");
  return made && HasBuild<L>::value && HasRelease<L>::value && AtGivesInt<L>::value;
}

// What the layout states it allocates at a shape, for the memory plan.
template <class L> std::int64_t statedBytes(const Shape& s) {
  return static_cast<std::int64_t>(L::bytes(s));
}

} // namespace voxgrid::detail

#endif
