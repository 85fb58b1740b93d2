#ifndef VOXGRID_DETAIL_STEPS_H
#define VOXGRID_DETAIL_STEPS_H

namespace voxgrid {

// Every step of a sample, named once: the sample line, the counters, the
// --sweeps flag and the context all read this table.
enum Step : int { kBuild, kFill, kRelease, kSum, kStencil, kLinesJ, kLinesI, kGather, kStepCount };

struct StepInfo {
  const char* name;
  bool sweep;        // runs after the fill, outside the case's time
  const char* rate;  // the sweep's rate counter, <name>_<rate>
  double perItem;    // per grid element, or per point for gather
  const char* reads; // what one pass does, for the report ({points}: the gather's count)
};

// A sweep's rate is bytesPerItem x items / ns of its median pass. GB/s: the
// bytes each element costs the memory system as the kernel moves them. sum and
// the lines read each element once: 4. The stencil reads the grid (4) and
// writes the output (4); a plain store first reads the output's line into the
// cache (write-allocate, 4 more), so a layout's stencil moves 12, while the
// ceiling's, whose non-temporal stores skip that read, moves 8, as a copy does.
// gather counts points, not bytes, since a scattered read moves a whole cache
// line for 4 useful bytes: 10^6 points per second, 1000 for each point per
// nanosecond.
constexpr StepInfo kSteps[kStepCount] = {
    {"build", false, "", 0, ""},
    {"fill", false, "", 0, ""},
    {"release", false, "", 0, ""},
    {"sum", true, "gbs", 4, "a read-only sum over the grid"},
    {"stencil", true, "gbs", 12, "a 7-point stencil from the grid into a second grid"},
    {"lines_j", true, "gbs", 4, "a read-only sum with j innermost"},
    {"lines_i", true, "gbs", 4, "a read-only sum with i innermost"},
    {"gather", true, "mpts", 1e3, "a sum of the grid at {points}"}};
constexpr double kStreamingStencilBytes = 8;

// What one item of a sweep moves, for a layout or for the ceiling, whose
// elements take elementBytes each (the figures above are for 4).
constexpr double bytesPerItem(Step step, bool ceiling, int elementBytes = 4) {
  const double perItem =
      step == kStencil && ceiling ? kStreamingStencilBytes : kSteps[step].perItem;
  return step == kGather ? perItem : perItem * elementBytes / 4;
}

// The same, in one line for the report's context.
inline const char* bytesPerElementText() {
  return "sum, lines_j, lines_i: 4 (each element read once); stencil: 12 (read, write, and "
         "the written line read first); the int32 ceiling's stencil: 8 (non-temporal stores, "
         "no line read before it is written); gather: points, not bytes; for int32 and float, "
         "scaled by the element's size for the other types";
}

} // namespace voxgrid

#endif
