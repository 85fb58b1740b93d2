#ifndef VOXGRID_CASE_EXPANSION_H
#define VOXGRID_CASE_EXPANSION_H

#include "instance.h"
#include "options.h"

#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace voxgrid {

// 1, the powers of two below `procs`, and `procs`: the team sizes each case runs at.
std::vector<int> threadCounts(int procs);

// Every case of the suite at every shape, heap and team size the options ask
// for, named as the report reads them
// ("flat_vector/shape:400x800x100/element:float/heap:aged/threads:2", and
// "/fields:N" after the shape for voxels of several fields), in report order:
// where a voxel holds several fields, the field arrangements, floors and
// ceilings; else every other case; a case with its own team once. Cases that cannot run here
// are left out and said in `notRun`, one (case, why) each: huge pages where
// `thp` (the kernel's mode) is neither always nor madvise; the program's
// int-indexed steps at a shape past 2^31 - 1 elements.
// Whether case c runs under --memory's list (empty: the default). Cases that
// are not crossed always do, and a program's own rule under every memory.
// By default: every rule under huge (the memory that makes grids cheapest
// wherever transparent huge pages are on), and every rule but row_major under
// touched, with a rule's own loops under touched only (the loops are the
// rule's concern). Row-major under the small-page memories is what flat_vector
// (zeroed by one thread) and flat_parallel_zero (zeroed by the fill's threads)
// measure; zeroed, under the other rules, --memory adds.
bool memoryRuns(const Case& c, const std::vector<std::string>& memories);

struct Expansion {
  std::deque<Instance> instances; // stable addresses: the registered cases point at them
  std::vector<std::pair<std::string, std::string>> notRun;
};
Expansion expandCases(const std::vector<Case>& cases, const Options& o, const std::string& thp,
                      int procs);

} // namespace voxgrid

#endif
