#ifndef VOXGRID_LAYOUT_H
#define VOXGRID_LAYOUT_H

#include <voxgrid/access.h>
#include <voxgrid/detail/contract.h>
#include <voxgrid/detail/measure.h>
#include <voxgrid/detail/registry.h>
#include <voxgrid/shape.h>

#include <string>

namespace voxgrid {

// What every measured layout is: one class, the only place that knows its
// storage. Required:
//
//   explicit L(const Shape&);  remembers the shape, allocates nothing
//   void build();              allocates (and initialises, where its idiom does)
//   void release();            gives everything back; the destructor calls it too
//   auto at();                 element (i, j, k) as its users write it, as a small
//                              callable g(i, j, k) returning int&, for the sweeps
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
// suite, beside the built-in ones.
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
    addCase(Case{name, measure<L>, kSweeps | kAdded, bytes});
    if constexpr (detail::hasOwnLoops<L>()) {
      // Its own loops as a case of their own, beside the generic ones.
      static const std::string own = std::string(name) + kOwnLoops;
      addCase(Case{own.c_str(), measure<L, true>, kSweeps | kAdded, bytes});
    }
    return true;
  } else {
    return false;
  }
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

#endif
