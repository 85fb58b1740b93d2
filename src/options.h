#ifndef VOXGRID_OPTIONS_H
#define VOXGRID_OPTIONS_H

#include "out_file.h"
#include "shape_list.h"

#include <voxgrid/detail/heap_aging.h>
#include <voxgrid/detail/sweep_plan.h>
#include <voxgrid/element.h>

#include <string>
#include <vector>

namespace voxgrid {

// The suite's command line: its own flags, and Google Benchmark's behind them.
struct Options {
  std::vector<Shape> shapes;
  int samples = 0;
  SweepPlan sweeps;
  std::vector<HeapPlan> heaps; // fresh first
  bool elements[kElementTypes] = {
      true}; // --element: which element types run; int32 alone by default
  // --memory: the memories the crossed cases run under; empty for the default
  // (every rule under touched and huge, its own loops under touched).
  std::vector<std::string> memories;
  std::string progress = "auto";
  std::string bind = "inherit";
  double sampleTimeout = 0; // seconds; 0: derived from each sample's plan
  bool race = true;         // --race: stop sampling a case once nothing it takes part in is open
  double timeLimit = 0;     // --time-limit, seconds; 0: none
  OutFile out;              // --benchmark_out, planned once and checked; an empty target where none
  std::vector<std::string> benchmarkArgs; // for Google Benchmark, the suite's defaults first
};

extern const char* const kDefaultShape;
extern const int kDefaultSamples;
extern const int kDefaultPasses;
extern const char* const kDefaultSweeps;
// Google Benchmark settings the suite starts from; the user's own flags, which
// come after these, override them.
extern const std::vector<const char*> kDefaultFlags;

// Takes the suite's own flags and checks the Google Benchmark flags that it
// would crash on or misreport, before anything runs. Bad input throws
// std::invalid_argument with a one-line message.
Options parseOptions(int argc, char** argv);

// The suite's own flags for --help, one paragraph each, wrapped; from the same
// table the parsing reads.
std::string suiteFlagsHelp();

// --memory's value: "default" (an empty list), "all", or memory names,
// comma-separated, each once; anything else throws std::invalid_argument quoting it.
std::vector<std::string> parseMemories(const std::string& text);

// --element's list, in the order given: each type's name once, comma-separated;
// anything else throws std::invalid_argument quoting it.
std::vector<ElementType> parseElements(const std::string& text);

// Whether the last --NAME or --NAME=VALUE among args sets a Google Benchmark
// boolean flag, as Google Benchmark reads it ("--NAME" alone, or 1, t, true,
// y, yes, on in any case).
bool lastFlag(const std::vector<std::string>& args, const std::string& name);

// The value of the last --NAME=VALUE among args, as Google Benchmark takes it.
std::string lastValue(const std::vector<std::string>& args, const std::string& name,
                      const std::string& fallback);

} // namespace voxgrid

#endif
