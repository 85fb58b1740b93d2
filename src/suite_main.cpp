// main() of the suite: the built-in cases, and those of the program it is
// linked into (VOXGRID_LAYOUT, VOXGRID_SWEEP), as benchmark_main gives one.
#include "runner.h"

int main(int argc, char** argv) { return voxgrid::runSuite(argc, argv); }
