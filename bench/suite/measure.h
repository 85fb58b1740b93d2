#ifndef VOXGRID_MEASURE_H
#define VOXGRID_MEASURE_H

#include "Timer.h"
#include "checks.h"
#include "heap_blocks.h"
#include "sample.h"
#include "shape.h"
#include "stencil.h"
#include "sum.h"
#include "sweep_plan.h"

#include <sys/resource.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// One sample of layout L: build, fill and release timed back to back as the
// case's time, and in between, outside that time, the planned sweeps over the
// filled grid, each checked. A layout never times itself; this does.

namespace measure_detail {

struct Counts {
  long faults;
  long blocks;
};

inline Counts counts() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return {u.ru_minflt, heapBlocks()};
}

template <class L> void sweep(L& grid, const Shape& s, const SweepPlan& plan, Sample& out) {
  checkFill(grid.at(), s.nx, s.ny, s.nz);
  std::vector<double> passes(static_cast<std::size_t>(plan.passes));
  Timer tm;
  if (plan.on[kSum]) {
    for (double& ns : passes) {
      tm.start();
      const std::int64_t total = sumSweep(grid.at(), s.nx, s.ny, s.nz);
      tm.stop();
      ns = tm.getElapsedTimeInNanoSec();
      checkSum(total, s.nx, s.ny, s.nz);
    }
    out.ns[kSum] = medianOf(passes);
  }
  if (plan.on[kStencil]) {
    L second(s); // the stencil's output, built and filled outside the timed passes
    second.build();
    second.fill();
    for (double& ns : passes) {
      tm.start();
      stencilSweep(grid.at(), second.at(), s.nx, s.ny, s.nz);
      tm.stop();
      ns = tm.getElapsedTimeInNanoSec();
    }
    checkStencil(second.at(), s.nx, s.ny, s.nz);
    out.ns[kStencil] = medianOf(passes);
  }
}

} // namespace measure_detail

template <class L> Sample measure(const Shape& s, const SweepPlan& plan) {
  using namespace measure_detail;
  L grid(s);
  Sample out;
  Timer tm;
  const Counts start = counts();
  tm.start();
  grid.build();
  out.ns[kBuild] = tm.getElapsedTimeInNanoSec();
  grid.fill();
  tm.stop();
  out.ns[kFill] = tm.getElapsedTimeInNanoSec() - out.ns[kBuild];
  const Counts filled = counts();
  if (plan.any() && plan.passes > 0) {
    sweep(grid, s, plan, out);
  }
  const Counts swept = counts();
  tm.start();
  grid.release();
  tm.stop();
  out.ns[kRelease] = tm.getElapsedTimeInNanoSec();
  const Counts released = counts();
  out.faults = (filled.faults - start.faults) + (released.faults - swept.faults);
  out.blocks =
      start.blocks < 0 ? -1 : (filled.blocks - start.blocks) + (released.blocks - swept.blocks);
  return out;
}

#endif
