#ifndef VOXGRID_SAMPLE_PROCESS_H
#define VOXGRID_SAMPLE_PROCESS_H

#include "heap_aging.h"
#include "sample.h"
#include "shape_list.h"
#include "sweep_plan.h"

#include <string>

namespace voxgrid {

// Every sample runs in a process of its own, started afresh from this
// executable: no sample inherits pages, heap or threads from another.

// The child's side: argv is {exe, "--sample", CASE, SHAPE, THREADS, SWEEPS,
// PASSES, POINTS, HEAP, FREED}, THREADS 0 meaning the default team, POINTS 0
// the gather's default, HEAP fresh or aged. Runs the case once and writes its
// report line to file descriptor 3; a failure, a sweep's failed check among
// them, goes to standard error. Returns the exit status.
bool isSampleMode(int argc, char** argv);
int runSampleMode(int argc, char** argv);

// The parent's side: starts one sample process and waits for its report.
// Once a signal has asked the run to stop (run_stop.h) it starts none, and the
// one in flight is killed and reaped before it returns.
struct SampleResult {
  bool ok = false;
  Sample sample;
  std::string error; // the process's own message, or how it ended
};
SampleResult spawnSample(const std::string& caseName, const Shape& shape, int threads,
                         const SweepPlan& plan, const HeapPlan& heap);

} // namespace voxgrid

#endif
