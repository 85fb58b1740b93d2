#ifndef VOXGRID_DETAIL_SWEEP_PLAN_H
#define VOXGRID_DETAIL_SWEEP_PLAN_H

#include <voxgrid/detail/steps.h>
#include <voxgrid/shape.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace voxgrid {

// Which sweeps a sample runs after its fill, how many timed passes of each, and
// how many points the gather reads.
struct SweepPlan {
  bool on[kStepCount] = {};
  std::vector<bool> added; // the program's own sweeps, by sweep (added_sweeps.h)
  int passes = 0;
  std::int64_t points = 0; // the gather's points; 0: the default for the grid (pointsFor)
  bool any() const {
    for (int s = 0; s < kStepCount; ++s) {
      if (on[s]) {
        return true;
      }
    }
    return anyAdded();
  }
  bool anyAdded() const { return std::find(added.begin(), added.end(), true) != added.end(); }
};

std::int64_t pointsFor(const SweepPlan& plan, const Shape& shape);

} // namespace voxgrid

#endif
