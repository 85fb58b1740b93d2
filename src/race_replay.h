#ifndef VOXGRID_RACE_REPLAY_H
#define VOXGRID_RACE_REPLAY_H

namespace voxgrid {

// `voxgrid-suite --race-replay`: the samples of a finished run, read from
// standard input, put through the race round by round in the run's own order,
// so that a script can tell what racing would have kept of any run. Input,
// one record a line, fields split by tabs:
//   limit  ROUNDS
//   case   NAME  GROUP  layout|reference
//   cost   NAME  TOTAL_MS  [SWEEP=MS]...      its next round's cost
// A case whose costs run out before the run's end counts as failed there.
// Output: "case NAME ROUNDS WHY UNDECIDED" for each case, then "run ROUNDS WHY".
bool isReplayMode(int argc, char** argv);
int runReplayMode();

} // namespace voxgrid

#endif
