#ifndef VOXGRID_STEPS_H
#define VOXGRID_STEPS_H

namespace voxgrid {

// Every step of a sample, named once: the sample line, the counters, the
// --sweeps flag and the context all read this table.
enum Step : int { kBuild, kFill, kRelease, kSum, kStencil, kLinesJ, kLinesI, kGather, kStepCount };

struct StepInfo {
  const char* name;
  bool sweep;       // runs after the fill, outside the case's time
  const char* rate; // the sweep's rate counter, <name>_<rate>
  double perItem;   // per grid element, or per point for gather
};

// A sweep's rate is perItem x items / ns of its median pass. GB/s: bytes per
// element moved (sum and the lines read each element once, 4 bytes; stencil
// reads the grid (4), writes the output (4) and reads the output's line before
// writing it (4, write-allocate)). gather counts points, not bytes, since a
// scattered read moves a whole cache line for 4 useful bytes: 10^6 points per
// second, 1000 for each point per nanosecond.
constexpr StepInfo kSteps[kStepCount] = {
    {"build", false, "", 0},     {"fill", false, "", 0},       {"release", false, "", 0},
    {"sum", true, "gbs", 4},     {"stencil", true, "gbs", 12}, {"lines_j", true, "gbs", 4},
    {"lines_i", true, "gbs", 4}, {"gather", true, "mpts", 1e3}};

} // namespace voxgrid

#endif
