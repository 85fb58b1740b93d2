#ifndef VOXGRID_REGISTRATION_H
#define VOXGRID_REGISTRATION_H

#include "cases.h"
#include "measure.h"

namespace voxgrid {

// Adds layout L to the suite under `name`, measured and swept as every
// built-in layout is; through the same registry as the built-in case table.
// The suite checks the name when it starts: not empty, not taken, and only
// [a-z0-9_].
template <class L> bool registerLayout(const char* name) {
  return addCase(Case{name, measure<L>, kSweeps});
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
