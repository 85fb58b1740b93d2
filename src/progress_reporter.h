#ifndef VOXGRID_PROGRESS_REPORTER_H
#define VOXGRID_PROGRESS_REPORTER_H

#include "progress.h"

#include "sampled_runs.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <utility>
#include <vector>

namespace voxgrid {

// The display reporter, with the progress line taken off the terminal while it
// prints its rows and put back once they are out, so the table stays whole.
class ProgressReporter : public benchmark::BenchmarkReporter {
public:
  ProgressReporter(std::unique_ptr<benchmark::BenchmarkReporter> inner, Progress& progress)
      : inner_(std::move(inner)), progress_(progress) {}

  bool ReportContext(const Context& context) override {
    inner_->SetOutputStream(&GetOutputStream());
    inner_->SetErrorStream(&GetErrorStream());
    return inner_->ReportContext(context);
  }
  void ReportRuns(const std::vector<Run>& runs) override {
    const std::vector<Run> sampled = sampledRuns(runs);
    if (sampled.empty()) {
      return;
    }
    progress_.clear();
    inner_->ReportRuns(sampled);
    GetOutputStream().flush();
    progress_.redraw();
  }
  void Finalize() override {
    progress_.clear();
    inner_->Finalize();
  }

private:
  std::unique_ptr<benchmark::BenchmarkReporter> inner_;
  Progress& progress_;
};

} // namespace voxgrid

#endif
