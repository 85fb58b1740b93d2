#ifndef VOXGRID_CASES_H
#define VOXGRID_CASES_H

#include <voxgrid/detail/registry.h>

#include <string>
#include <utility>
#include <vector>

namespace voxgrid {

// Every case this build has, in report order: the built-in ones, then those
// the program added.
const std::vector<Case>& suiteCases();
// One line naming the first case whose name is empty or taken (for its
// element type), or, among the added ones, holds characters outside
// [a-z0-9_]; empty when all are sound.
std::string badCaseName();
// The storage decisions in words, for the report's context: "memories" (each
// way of getting a one-block layout's block), "index_rules" (each built-in
// rule) and "idiom_memory" (how each layout outside the crossing gets its memory).
std::vector<std::pair<std::string, std::string>> storageWords();
// One line naming the first added sweep whose name is empty, taken (a step's
// or another sweep's, "all" or "none") or holds characters outside [a-z0-9_];
// empty when all are sound.
std::string badSweepName();
// How a sample process is told its case: the name, and for an element other
// than int32 "/element:NAME" after it ("flat_vector/element:float").
std::string caseKey(const Case& c);
// The case of that key; nullptr when there is no such case.
const Case* findCase(const std::string& key);
// The optional cases this build left out, each with the package that brings
// them: "boost_multi_array (Debian: libboost-dev)".
std::vector<std::string> casesNotBuilt();
// What the report says about the libraries the cases were compiled against:
// boost_version and eigen_version where built, and assertions, "on" when this
// build left NDEBUG undefined (the libraries then check every index).
std::vector<std::pair<std::string, std::string>> libraryContext();

} // namespace voxgrid

#endif
