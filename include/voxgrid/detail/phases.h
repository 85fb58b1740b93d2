#ifndef VOXGRID_DETAIL_PHASES_H
#define VOXGRID_DETAIL_PHASES_H

namespace voxgrid {

// Where a sample's wall time goes, for bench/sample-overhead: with
// VOXGRID_PHASES naming a file, each call appends one line,
// "phase PID NAME NS[ DETAIL]", NAME the part that has just ended and NS the
// monotonic clock, which the suite and every sample process read alike.
// Without it a call costs one test. Called only between timed steps; it
// allocates nothing, so the heap's counts never see it.
void markPhase(const char* name, const char* detail = nullptr);

} // namespace voxgrid

#endif
