#ifndef VOXGRID_SAMPLE_PROCESS_H
#define VOXGRID_SAMPLE_PROCESS_H

#include "shape_list.h"

#include <voxgrid/detail/heap_aging.h>
#include <voxgrid/detail/sample.h>
#include <voxgrid/detail/sweep_plan.h>

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
// Every wait on it, for its report and for its end, has a deadline `timeout`
// seconds after it starts; past it the process is killed and the sample fails.
SampleResult spawnSample(const std::string& caseName, const Shape& shape, int threads,
                         const SweepPlan& plan, const HeapPlan& heap, double timeout);

// A deadline far beyond what a sample can take unless it hangs: a minute, plus
// every pass it makes over its grid at 100 MB/s, 16 times below the slowest
// sweep seen here (lines across the storage order at powers of two).
extern const char* const kTimeoutRule;
double sampleTimeout(const Shape& shape, const SweepPlan& plan, bool aged, int elementBytes = 4);
// "80 s", "0.001 s".
std::string formatSeconds(double seconds);

} // namespace voxgrid

#endif
