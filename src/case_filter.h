#ifndef VOXGRID_CASE_FILTER_H
#define VOXGRID_CASE_FILTER_H

#include <string>

namespace voxgrid {

// Whether Google Benchmark's --benchmark_filter selects a registered name, read
// as it reads it (an extended regular expression, in std::regex's grammar,
// found anywhere in the name; empty or "all" for everything; a leading '-'
// for everything else, "-all" too), so that the suite can plan the run before
// Google Benchmark starts it. A pattern that does not compile selects nothing;
// Google Benchmark then says why.
bool filterSelects(const std::string& filter, const std::string& name);

} // namespace voxgrid

#endif
