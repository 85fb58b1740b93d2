#ifndef VOXGRID_SAMPLED_RUNS_H
#define VOXGRID_SAMPLED_RUNS_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

namespace voxgrid {

// Google Benchmark runs every case for the round limit's repetitions; those
// of the rounds a raced run did not sample it in end with this message, and
// no report shows them (its aggregates already leave errors out).
constexpr const char* kNotSampled = "not sampled: the run had stopped sampling this case";

inline std::vector<benchmark::BenchmarkReporter::Run>
sampledRuns(const std::vector<benchmark::BenchmarkReporter::Run>& runs) {
  std::vector<benchmark::BenchmarkReporter::Run> out;
  std::copy_if(runs.begin(), runs.end(), std::back_inserter(out),
               [](const auto& r) { return !(r.error_occurred && r.error_message == kNotSampled); });
  return out;
}

} // namespace voxgrid

#endif
