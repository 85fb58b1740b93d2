#ifndef VOXGRID_RUN_PLAN_H
#define VOXGRID_RUN_PLAN_H

#include "instance.h"

#include <vector>

namespace voxgrid {

// How many samples a run takes: `measured` ones, one warm-up for the run, and
// one discarded before each sample of a case on huge pages.
struct SampleCount {
  long measured = 0;
  long total = 0;
};
SampleCount countSamples(const std::vector<Instance*>& selected, int rounds, int samplesPerRound);

// The plan on one line of standard error before the first sample, after the
// memory check against the run's limits: false, with one line saying why,
// where a sample would need more than the run may use. `selected` holds at
// least one instance. A raced run may end after `leastRounds`; a time limit
// (seconds, 0 for none) ends it after the round that passes it.
bool planRun(const std::vector<Instance*>& selected, int rounds, int samplesPerRound,
             const SampleCount& count, int leastRounds, double timeLimit);

} // namespace voxgrid

#endif
