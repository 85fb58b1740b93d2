#ifndef VOXGRID_LAYOUT_H
#define VOXGRID_LAYOUT_H

#include <voxgrid/access.h>
#include <voxgrid/detail/contract.h>
#include <voxgrid/detail/measure.h>
#include <voxgrid/detail/registry.h>
#include <voxgrid/shape.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

namespace voxgrid {

// What every measured layout is: one class, the only place that knows its
// storage. Required:
//
//   explicit L(const Shape&);  remembers the shape, allocates nothing; may throw
//                              std::length_error for a shape it cannot hold
//   void build();              allocates (and initialises, where its idiom does)
//   void release();            gives everything back; the destructor calls it too
//   auto at();                 element (i, j, k) as its users write it, as a small
//                              callable g(i, j, k) returning a reference to the
//                              element: int, float, double, std::uint16_t or
//                              std::uint8_t; the layout holds that type
// Optional:
//   void fill();               stores each element's linear index i*ny*nz + j*nz + k;
//                              without it the harness does, through at(), one
//                              parallel loop over i, static schedule
//   static std::size_t bytes(const Shape&);
//                              what build() allocates, for the memory plan;
//                              without it the plan estimates
//   ownSum(), ownStencil(L&), ownLinesJ(), ownLinesI(), ownGather(points, count)
//                              the layout's own loops for a sweep (detail/contract.h):
//                              measured as the case "<name>/loops:own", checked
//                              as the generic sweeps are
//
// The harness times each step; a layout never times itself. NoCopy keeps a
// grid from being released twice. VOXGRID_LAYOUT(L, "name") adds one to the
// suite, beside the built-in ones; VOXGRID_LAYOUT_TEMPLATE(L, "name") adds a
// class template L<T>, once for each element type.
struct NoCopy {
  NoCopy() = default;
  NoCopy(const NoCopy&) = delete;
  NoCopy& operator=(const NoCopy&) = delete;
};

// Adds layout L to the suite under `name`, measured and swept as every
// built-in layout is; through the same registry as the built-in case table.
// The suite checks the name when it starts: not empty, not taken, and only
// [a-z0-9_]. A class that is not a layout stops the build with one message.
template <class L> bool registerLayout(const char* name) {
  if constexpr (detail::isLayout<L>()) {
    std::int64_t (*bytes)(const Shape&) = nullptr;
    if constexpr (detail::HasBytes<L>::value) {
      bytes = detail::statedBytes<L>;
    }
    using T = std::remove_reference_t<decltype(std::declval<L&>().at()(0, 0, 0))>;
    addCase(Case{name, measure<L>, kSweeps | kAdded, bytes, elementType<T>()});
    if constexpr (detail::hasOwnLoops<L>()) {
      // Its own loops as a case of their own, beside the generic ones.
      static const std::string own = std::string(name) + kOwnLoops;
      addCase(Case{own.c_str(), measure<L, true>, kSweeps | kAdded, bytes, elementType<T>()});
    }
    return true;
  } else {
    return false;
  }
}

// Adds L<T> for every element type T, under one name.
template <template <class> class L> bool registerLayoutTemplate(const char* name) {
  return registerLayout<L<int>>(name) && registerLayout<L<float>>(name) &&
         registerLayout<L<double>>(name) && registerLayout<L<std::uint16_t>>(name) &&
         registerLayout<L<std::uint8_t>>(name);
}

} // namespace voxgrid

#define VOXGRID_CONCAT_(a, b) a##b
#define VOXGRID_CONCAT(a, b) VOXGRID_CONCAT_(a, b)

// VOXGRID_LAYOUT(MyGrid, "my_grid"); at namespace scope in the program that
// links voxgrid::suite: my_grid then runs beside every built-in case.
#define VOXGRID_LAYOUT(Layout, name)                                                               \
  namespace {                                                                                      \
  [[maybe_unused]] const bool VOXGRID_CONCAT(voxgridLayoutAdded,                                   \
                                             __LINE__) = ::voxgrid::registerLayout<Layout>(name);  \
  }                                                                                                \
  static_assert(true, "")

// VOXGRID_LAYOUT_TEMPLATE(MyGrid, "my_grid"): my_grid for every element type.
#define VOXGRID_LAYOUT_TEMPLATE(Layout, name)                                                      \
  namespace {                                                                                      \
  [[maybe_unused]] const bool VOXGRID_CONCAT(voxgridLayoutAdded, __LINE__) =                       \
      ::voxgrid::registerLayoutTemplate<Layout>(name);                                             \
  }                                                                                                \
  static_assert(true, "")

#endif
