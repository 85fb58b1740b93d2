#ifndef VOXGRID_CHECKED_REPORTER_H
#define VOXGRID_CHECKED_REPORTER_H

#include "checked_stream.h"

#include "sampled_runs.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <utility>
#include <vector>

namespace voxgrid {

// Passes everything to the reporter it wraps, onto the stream Google Benchmark
// gives this one, and remembers whether all of it was written: Google
// Benchmark itself never checks its --benchmark_out file.
class CheckedReporter : public benchmark::BenchmarkReporter {
public:
  explicit CheckedReporter(std::unique_ptr<benchmark::BenchmarkReporter> inner)
      : inner_(std::move(inner)) {}

  bool ReportContext(const Context& context) override {
    out_.retarget(GetOutputStream().rdbuf());
    inner_->SetOutputStream(&out_);
    inner_->SetErrorStream(&GetErrorStream());
    return inner_->ReportContext(context);
  }
  void ReportRuns(const std::vector<Run>& runs) override {
    const std::vector<Run> sampled = sampledRuns(runs);
    if (!sampled.empty()) {
      inner_->ReportRuns(sampled);
    }
  }
  void Finalize() override {
    inner_->Finalize();
    out_.flush();
    finished_ = true;
  }
  // errno of the failed write, or 0 when everything was written.
  int error() const { return out_.error(); }
  // Whether the report reached its end: not where nothing ran (no case
  // matched, or only the list of cases was asked for).
  bool finished() const { return finished_; }

private:
  std::unique_ptr<benchmark::BenchmarkReporter> inner_;
  CheckedStream out_;
  bool finished_ = false;
};

} // namespace voxgrid

#endif
