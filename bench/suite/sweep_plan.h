#ifndef VOXGRID_SWEEP_PLAN_H
#define VOXGRID_SWEEP_PLAN_H

#include "steps.h"

#include <string>

// Which sweeps a sample runs after its fill, and how many timed passes of each.
struct SweepPlan {
  bool on[kStepCount] = {};
  int passes = 0;
  bool any() const { return on[kSum] || on[kStencil]; }
};

// "sum,stencil", "sum", "stencil" or "none"; anything else throws
// std::invalid_argument with a message that quotes it.
SweepPlan parseSweeps(const std::string& text, int passes);
// The text parseSweeps reads back.
std::string sweepsName(const SweepPlan& plan);

#endif
