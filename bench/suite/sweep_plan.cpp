#include "sweep_plan.h"

#include <sstream>
#include <stdexcept>

SweepPlan parseSweeps(const std::string& text, int passes) {
  SweepPlan plan;
  plan.passes = passes;
  if (text == "none") {
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
    if (!known) {
      named = false;
      break;
    }
    named = true;
  }
  if (!named || text.back() == ',') {
    throw std::invalid_argument("bad --sweeps \"" + text +
                                "\": expected none, or sum, stencil or both (sum,stencil)");
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
  return name.empty() ? "none" : name;
}
