#ifndef VOXGRID_CONSOLE_REPORTER_H
#define VOXGRID_CONSOLE_REPORTER_H

#include <benchmark/benchmark.h>

namespace voxgrid {

// Google Benchmark's console table, saying only what is true of this suite:
// - no CPU column: the CPU time Google Benchmark sees is the parent's, which
//   only waits while each sample runs in a process of its own;
// - no warning that the library was built for debugging: every figure comes
//   from the sample processes' own clock, not from the library's timing;
// - no counters on the stddev and cv rows, where a spread of counts or of
//   rates means nothing (and 0/0 printed -nan%).
class SuiteConsoleReporter : public benchmark::ConsoleReporter {
public:
  SuiteConsoleReporter() : ConsoleReporter(OO_None) {}
  bool ReportContext(const Context& context) override;

protected:
  void PrintHeader(const Run& run) override;
  void PrintRunData(const Run& run) override;
};

} // namespace voxgrid

#endif
