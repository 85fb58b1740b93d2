#ifndef VOXGRID_CASES_H
#define VOXGRID_CASES_H

#include "heap_aging.h"
#include "sample.h"
#include "shape.h"
#include "sweep_plan.h"

#include <string>
#include <utility>
#include <vector>

namespace voxgrid {

// What a case asks of the run.
enum CaseFlag : unsigned {
  kPlain = 0,
  kOwnTeam = 1u << 0,   // requests its own team of 4: measured once, with the default team
  kHugePages = 1u << 1, // needs transparent huge pages: left out where they are "never"
  kSweeps = 1u << 2,    // runs the sweeps after its fill (layouts and the plain ceiling)
  kCeiling = 1u << 3,   // the ceiling: its stencil streams its stores (steps.h counts 8 B)
};

// One thing the suite measures: a layout, a floor or a ceiling.
struct Case {
  const char* name;
  Sample (*run)(const Shape& shape, const SweepPlan& plan, const HeapPlan& heap);
  unsigned flags;
  bool ownTeam() const { return (flags & kOwnTeam) != 0; }
  bool hugePages() const { return (flags & kHugePages) != 0; }
  bool sweeps() const { return (flags & kSweeps) != 0; }
  bool ceiling() const { return (flags & kCeiling) != 0; }
};

// Adds a case to the suite: the built-in case table and VOXGRID_LAYOUT both
// come through here. Always true, so that a registration can initialise a
// variable; names are checked when the suite starts (badCaseName).
bool addCase(const Case& c);
// Every case this build has, in report order: the built-in ones, then those
// the program added.
const std::vector<Case>& suiteCases();
// One line naming the first case whose name is empty or taken, or, among the
// added ones, holds characters outside [a-z0-9_]; empty when all are sound.
std::string badCaseName();
// nullptr when there is no such case.
const Case* findCase(const std::string& name);
// The optional cases this build left out, each with the package that brings
// them: "boost_multi_array (Debian: libboost-dev)".
std::vector<std::string> casesNotBuilt();
// What the report says about the libraries the cases were compiled against:
// boost_version and eigen_version where built, and assertions, "on" when this
// build left NDEBUG undefined (the libraries then check every index).
std::vector<std::pair<std::string, std::string>> libraryContext();

} // namespace voxgrid

#endif
