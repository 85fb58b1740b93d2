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
// ("flat_vector/shape:400x800x100/element:float/heap:aged/threads:2"), in
// report order; a case with its own team once. Cases that cannot run here
// are left out and said in `notRun`, one (case, why) each: huge pages where
// `thp` (the kernel's mode) is neither always nor madvise; the program's
// int-indexed steps at a shape past 2^31 - 1 elements.
// Whether case c runs under --memory's list (empty: the default). Cases that
// are not crossed always do; by default every rule runs under touched and
// huge, and its own loops under touched, since the loops are the rule's
// concern and zeroed memory is what flat_vector already measures; a
// program's own rule under every memory.
bool memoryRuns(const Case& c, const std::vector<std::string>& memories);

struct Expansion {
  std::deque<Instance> instances; // stable addresses: the registered cases point at them
  std::vector<std::pair<std::string, std::string>> notRun;
};
Expansion expandCases(const std::vector<Case>& cases, const Options& o, const std::string& thp,
                      int procs);

} // namespace voxgrid

#endif
