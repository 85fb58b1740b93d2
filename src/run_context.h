#ifndef VOXGRID_RUN_CONTEXT_H
#define VOXGRID_RUN_CONTEXT_H

#include "instance.h"
#include "options.h"

#include <string>
#include <utility>
#include <vector>

namespace voxgrid {

using ContextPairs = std::vector<std::pair<std::string, std::string>>;

// What the report needs to read a run without restating the suite: the
// cases in the suite's order, those that sweep and those on huge pages, the
// built-in sweeps and what one pass of each reads, the element types, the
// vector extensions' order and the huge-page share below which a case says so.
ContextPairs suiteTables();

// The run's own settings for the report's context: samples, sweeps, passes,
// heaps, binding, the sample order and deadline. `selected` are the cases
// this run measures; timeoutOverride is --sample-timeout (0: from each plan).
ContextPairs runSettings(const Options& o, const std::vector<Instance*>& selected,
                         double timeoutOverride);

// The ceiling's roof kernels in one line, as the report prints them; the
// streaming copy only where the build has streaming stores.
std::string roofKernelsText(bool streaming);

} // namespace voxgrid

#endif
