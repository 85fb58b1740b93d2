#include "sweep_flags.h"

#include <voxgrid/detail/added_sweeps.h>
#include <voxgrid/detail/sweep_plan.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace voxgrid {

const std::int64_t kDefaultPoints = 4000000;

std::int64_t pointsFor(const SweepPlan& plan, const Shape& shape) {
  const std::int64_t elements = std::int64_t{shape.nx} * shape.ny * shape.nz;
  return plan.points > 0 ? plan.points : std::min(kDefaultPoints, elements);
}

namespace {

std::string sweepNames() {
  std::string names;
  for (int s = 0; s < kStepCount; ++s) {
    if (kSteps[s].sweep) {
      names += (names.empty() ? "" : ", ") + std::string(kSteps[s].name);
    }
  }
  for (const AddedSweep& a : addedSweeps()) {
    names += ", " + std::string(a.name);
  }
  return names;
}

} // namespace

SweepPlan parseSweeps(const std::string& text, int passes) {
  SweepPlan plan;
  plan.passes = passes;
  const std::vector<AddedSweep>& added = addedSweeps();
  plan.added.assign(added.size(), false);
  if (text == "none") {
    return plan;
  }
  if (text == "all") {
    for (int s = 0; s < kStepCount; ++s) {
      plan.on[s] = kSteps[s].sweep;
    }
    plan.added.assign(added.size(), true);
    return plan;
  }
  std::istringstream in(text);
  std::string word;
  bool named = false;
  while (std::getline(in, word, ',')) {
    bool known = false;
    for (int s = 0; s < kStepCount; ++s) {
      if (kSteps[s].sweep && word == kSteps[s].name && !plan.on[s]) {
        plan.on[s] = known = true;
      }
    }
    for (std::size_t a = 0; a < added.size() && !known; ++a) {
      if (word == added[a].name && !plan.added[a]) {
        plan.added[a] = known = true;
      }
    }
    if (!known) {
      named = false;
      break;
    }
    named = true;
  }
  if (!named || text.back() == ',') {
    throw std::invalid_argument("bad --sweeps \"" + text + "\": expected all, none, or a list of " +
                                sweepNames() + ", each at most once, separated by commas");
  }
  return plan;
}

std::string sweepsName(const SweepPlan& plan) {
  std::string name;
  for (int s = 0; s < kStepCount; ++s) {
    if (plan.on[s]) {
      name += (name.empty() ? "" : ",") + std::string(kSteps[s].name);
    }
  }
  for (std::size_t a = 0; a < plan.added.size(); ++a) {
    if (plan.added[a]) {
      name += (name.empty() ? "" : ",") + std::string(addedSweeps()[a].name);
    }
  }
  return name.empty() ? "none" : name;
}

} // namespace voxgrid
