#ifndef VOXGRID_STEPS_H
#define VOXGRID_STEPS_H

// Every step of a sample, named once: the sample line, the counters, the
// --sweeps flag and the context all read this table.
enum Step : int { kBuild, kFill, kRelease, kSum, kStencil, kStepCount };

struct StepInfo {
  const char* name;
  bool sweep;          // runs after the fill, outside the case's time
  int bytesPerElement; // what a sweep moves per grid element, for its GB/s
};

// sum reads each element once (4 bytes); stencil reads the grid (4), writes the
// output (4) and reads the output's line before writing it (4, write-allocate).
constexpr StepInfo kSteps[kStepCount] = {{"build", false, 0},
                                         {"fill", false, 0},
                                         {"release", false, 0},
                                         {"sum", true, 4},
                                         {"stencil", true, 12}};

#endif
