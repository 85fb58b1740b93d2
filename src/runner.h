#ifndef VOXGRID_RUNNER_H
#define VOXGRID_RUNNER_H

namespace voxgrid {

// The suite, with every case registered so far: the built-in ones, and those
// of the program it is linked into. Parses the command line, takes every
// sample in interleaved rounds, hands the repetitions to Google Benchmark's
// reporters, and returns the exit status. A sample process (started by the
// run itself) is recognised here and runs its one sample instead.
int runSuite(int argc, char** argv);

} // namespace voxgrid

#endif
