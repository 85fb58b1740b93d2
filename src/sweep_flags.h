#ifndef VOXGRID_SWEEP_FLAGS_H
#define VOXGRID_SWEEP_FLAGS_H

#include <voxgrid/detail/sweep_plan.h>

#include <cstdint>
#include <string>

namespace voxgrid {

// The gather's default: 4,000,000 points, or one per element on a smaller grid.
extern const std::int64_t kDefaultPoints;
// A comma-separated list of sweep names (the built-in ones and the program's
// own) in any order, "all" or "none";
// anything else throws std::invalid_argument with a message that quotes it.
SweepPlan parseSweeps(const std::string& text, int passes);
// The text parseSweeps reads back: the names in table order, or "none".
std::string sweepsName(const SweepPlan& plan);

} // namespace voxgrid

#endif
