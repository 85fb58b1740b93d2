#ifndef VOXGRID_CASES_H
#define VOXGRID_CASES_H

#include "heap_aging.h"
#include "sample.h"
#include "shape.h"
#include "sweep_plan.h"

#include <string>
#include <utility>
#include <vector>

// One thing the suite measures: a layout, a floor or a ceiling.
struct Case {
  const char* name;
  bool ownTeam;   // requests its own team of 4: measured once, with the default team
  bool hugePages; // needs transparent huge pages: left out where they are "never"
  bool sweeps;    // runs the sweeps after its fill (layouts and the plain ceiling)
  Sample (*run)(const Shape& shape, const SweepPlan& plan, const HeapPlan& heap);
};

// Every case this build has, in report order.
const std::vector<Case>& suiteCases();
// nullptr when there is no such case.
const Case* findCase(const std::string& name);
// The optional cases this build left out, each with the package that brings
// them: "boost_multi_array (Debian: libboost-dev)".
std::vector<std::string> casesNotBuilt();
// What the report says about the libraries the cases were compiled against:
// boost_version and eigen_version where built, and assertions, "on" when this
// build left NDEBUG undefined (the libraries then check every index).
std::vector<std::pair<std::string, std::string>> libraryContext();

#endif
