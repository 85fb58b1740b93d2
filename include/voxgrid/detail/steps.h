#ifndef VOXGRID_DETAIL_STEPS_H
#define VOXGRID_DETAIL_STEPS_H

namespace voxgrid {

// Every step of a sample, named once: the sample line, the counters, the
// --sweeps flag and the context all read this table.
enum Step : int {
  kBuild,
  kFill,
  kRelease,
  kSum,
  kStencil,
  kLinesJ,
  kLinesI,
  kGather,
  kFieldsSum, // a grid of several fields only: every field of every voxel
  kStream,    // a grid of several fields only: D3Q19's streaming step
  kStepCount
};

struct StepInfo {
  const char* name;
  bool sweep;       // runs after the fill, outside the case's time
  const char* rate; // the sweep's rate counter, <name>_<rate>
  double perItem;   // per grid element, or per point for gather, or per value for fields and stream
  const char* reads; // what one pass does, for the report ({points}: the gather's count)
  bool fields;       // only for a grid of several fields; its items are the values
};

// A sweep's rate is bytesPerItem x items / ns of its median pass. GB/s: the
// bytes each element costs the memory system as the kernel moves them. sum and
// the lines read each element once: 4. The stencil reads the grid (4) and
// writes the output (4); a plain store first reads the output's line into the
// cache (write-allocate, 4 more), so a layout's stencil moves 12, while the
// ceiling's, whose non-temporal stores skip that read, moves 8, as a copy does.
// gather counts points, not bytes, since a scattered read moves a whole cache
// line for 4 useful bytes: 10^6 points per second, 1000 for each point per
// nanosecond. In a grid of several fields those sweeps read field 0; fields
// reads every value once (4 a value), and stream reads each value and writes
// it into a second grid (12 a value, as the stencil).
constexpr StepInfo kSteps[kStepCount] = {
    {"build", false, "", 0, "", false},
    {"fill", false, "", 0, "", false},
    {"release", false, "", 0, "", false},
    {"sum", true, "gbs", 4, "a read-only sum over the grid", false},
    {"stencil", true, "gbs", 12, "a 7-point stencil from the grid into a second grid", false},
    {"lines_j", true, "gbs", 4, "a read-only sum with j innermost", false},
    {"lines_i", true, "gbs", 4, "a read-only sum with i innermost", false},
    {"gather", true, "mpts", 1e3, "a sum of the grid at {points}", false},
    {"fields", true, "gbs", 4, "a weighted sum of every field of every voxel", true},
    {"stream", true, "gbs", 12,
     "a D3Q19 streaming step: field f from the neighbour along direction f, into a second grid",
     true}};
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

// The bytes one pass of a sweep must move from memory, at the least, for a
// grid whose one field takes gridBytes (its elements' bytes: a layout's
// padding and unused slots are no use to the sweep, so not counted) that does
// not fit in the caches: the sum and both line sweeps read each element of
// field 0 once (1 x); the stencil reads field 0 and writes its output once,
// and a plain store first reads the line it writes (write-allocate): 3 x, or
// 2 x where the stores stream, as the int32 ceiling's do. fields reads every
// field (fields x), and the streaming step reads and writes every field with
// write-allocate (3 x fields). The gather reads one 64-byte line per point; where
// the whole grid fits in the last-level cache (gridBytes <= llcBytes, with
// llcBytes known, > 0), no more than the grid itself comes from memory, so
// min(points x 64, gridBytes). A program's own sweep has no such figure here.
constexpr double kLineBytes = 64;
constexpr double passBytes(Step step, double gridBytes, double points, double llcBytes,
                           bool streamingStores, int fields = 1) {
  switch (step) {
  case kFieldsSum:
    return fields * gridBytes;
  case kStream:
    return 3 * fields * gridBytes;
  case kSum:
  case kLinesJ:
  case kLinesI:
    return gridBytes;
  case kStencil:
    return (streamingStores ? 2 : 3) * gridBytes;
  case kGather: {
    const double lines = points * kLineBytes;
    return llcBytes > 0 && gridBytes <= llcBytes && gridBytes < lines ? gridBytes : lines;
  }
  default:
    return 0;
  }
}

// The machine's roofs, measured in the ceiling's own sample over flat blocks
// of the grid's bytes: what a read-only pass, a copy with plain stores and a
// copy with non-temporal stores reach. Each counts its bytes as passBytes
// counts a sweep's: 1, 3 and 2 x the grid's.
enum Roof : int { kRoofLoad, kRoofCopy, kRoofCopyStreaming, kRoofCount };
struct RoofInfo {
  const char* counter; // GB/s, 10^9 bytes
  double gridTimes;    // the bytes a pass moves, in grids
  const char* kernel;  // for the run's context
};
constexpr RoofInfo kRoofs[kRoofCount] = {
    {"roof_load_gbs", 1, "a read-only pass over a flat block of the grid's bytes (1 x the grid)"},
    {"roof_copy_gbs", 3,
     "a copy between two such blocks with plain stores (3 x the grid: read, write, and the "
     "written line read first)"},
    {"roof_copy_streaming_gbs", 2,
     "the same copy with non-temporal stores (2 x the grid: no line read before it is written)"}};

} // namespace voxgrid

#endif
