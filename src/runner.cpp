// voxgrid-suite's run: repeated measurements of building, filling, sweeping
// and releasing a grid under each layout, beside this machine's floors (the
// least a layout can pay) and its ceilings. Every sample runs in a fresh
// process, as the program's tests do; Google Benchmark reports them.

#include "runner.h"

#include "case_expansion.h"
#include "case_filter.h"
#include "cases.h"
#include "checked_reporter.h"
#include "checked_stream.h"
#include "console_reporter.h"
#include "context.h"
#include "counters.h"
#include "options.h"
#include "out_file.h"
#include "progress.h"
#include "progress_reporter.h"
#include "race.h"
#include "race_replay.h"
#include "rounds.h"
#include "run_context.h"
#include "run_plan.h"
#include "run_stop.h"
#include "sample_process.h"
#include "sampled_runs.h"
#include "shape_list.h"
#include "thread_binding.h"

#include <voxgrid/detail/added_sweeps.h>

#include <benchmark/benchmark.h>
#include <omp.h>
#include <unistd.h>

#include <set>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace voxgrid {

namespace {

// The run's state, shared by the cases Google Benchmark calls back.
struct Run {
  Expansion cases;
  std::vector<Instance*> selected; // the ones this run measures
  int rounds = 1;                  // repetitions are rounds
  int samplesPerRound = 1;
  double timeoutOverride = 0; // --sample-timeout; 0: derived from each sample's plan
  std::set<std::string> casesRun;
  Failures failures;
  std::unique_ptr<Progress> progress;
  std::unique_ptr<Race> race;
};
Run run;

void printHelp() {
  std::printf("voxgrid-suite: times building, filling and releasing a 3-D grid under each\n"
              "layout, and sweeping it once built, beside this machine's floors and ceilings.\n"
              "Every sample runs in a fresh process.\n\n"
              "The suite's own flags:\n%s\n"
              "Repetitions run in rounds: each round takes one repetition of every case it\n"
              "still samples (see --race), in an order shuffled afresh for each round from a\n"
              "fixed seed, so that the host's slow stretches fall on every case alike. One\n"
              "sample before the first round is discarded. --benchmark_repetitions is the\n"
              "round limit.\n\n"
              "Every time comes from the sample processes' own clock, so how Google Benchmark\n"
              "itself was built (Debian builds it for debugging) does not move the figures.\n\n"
              "Defaults it gives Google Benchmark (your own flags override them):\n",
              suiteFlagsHelp().c_str());
  for (const char* flag : kDefaultFlags) {
    std::printf("  %s\n", flag);
  }
  std::printf("\nGoogle Benchmark's flags:\n");
  benchmark::PrintDefaultHelp();
}

// Ends a run that a signal has stopped, the progress line first off the screen.
[[noreturn]] void stop() {
  run.progress->clear();
  stopRun();
}

// Runs one sample of the instance in a process of its own; on failure records it.
bool takeSample(const Instance& in, const SweepPlan& plan, Sample& s) {
  const double timeout = run.timeoutOverride > 0 ? run.timeoutOverride
                                                 : sampleTimeout(in.shape, plan, in.heap.aged,
                                                                 info(in.c->element).bytes);
  const SampleResult r = spawnSample(caseKey(*in.c), in.shape, in.threads, plan, in.heap, timeout);
  if (stopSignal() != 0) {
    stop();
  }
  if (!r.ok) {
    run.failures.record(in.name, in.name + ": " + r.error);
    return false;
  }
  s = r.sample;
  run.progress->sampleDone();
  return true;
}

// A case that asked for huge pages and got (mostly) small ones says so in its
// row and once on standard error: its figures are not those of huge pages.
void checkHugePages(benchmark::State& state, Instance& in, double share) {
  if (share < 0 || share >= kHugeEnough) {
    return;
  }
  const std::string what =
      "only " + std::to_string(std::lround(share * 100)) + " % of the grid in huge pages";
  state.SetLabel(what);
  if (!in.warned) {
    in.warned = true;
    std::fprintf(stderr,
                 "voxgrid-suite: warning: %s: %s; its figures are not those of huge pages\n",
                 in.name.c_str(), what.c_str());
  }
}

// One repetition as Google Benchmark reports it: the samples were all taken,
// round by round, before Google Benchmark started.
void reportRepetition(benchmark::State& state, Instance& in) {
  run.casesRun.insert(in.name);
  const auto repetition = static_cast<std::size_t>(in.reported++);
  if (repetition >= in.rounds.size()) {
    // Failed in this round or an earlier one, or no longer sampled.
    const auto failed = run.failures.byCase.find(in.name);
    const bool ran = run.race && repetition < static_cast<std::size_t>(run.race->rounds());
    // Skipped inside the loop: Google Benchmark's aggregates expect every
    // repetition of a case to count the same iterations.
    for (auto _ : state) {
      state.SkipWithError(failed != run.failures.byCase.end() && ran ? failed->second.c_str()
                                                                     : kNotSampled);
    }
    return;
  }
  const Repetition r = repetitionOf(in, in.rounds[repetition]);
  for (auto _ : state) { // the samples were taken in their round: only their time is reported
    state.SetIterationTime(r.seconds);
  }
  for (const auto& [name, value] : r.counters) {
    state.counters[name] = benchmark::Counter(value);
  }
  if (in.c->hugePages()) {
    checkHugePages(state, in, r.hugeShare);
  }
  // Decimal units: the console's G/s is 10^9 bytes per second, as in the JSON's plain figure.
  state.counters["bytes_per_second"] =
      benchmark::Counter(r.gridBytes, benchmark::Counter::kIsRate, benchmark::Counter::kIs1000);
}

// Registers every expanded case through Google Benchmark's public API.
void registerCases(const Options& o) {
  run.cases = expandCases(suiteCases(), o, thpMode("enabled"), omp_get_num_procs());
  for (const auto& [name, why] : run.cases.notRun) {
    benchmark::AddCustomContext(name, why);
    std::fprintf(stderr, "voxgrid-suite: %s %s\n", name.c_str(), why.c_str());
  }
  for (Instance& in : run.cases.instances) {
    benchmark::RegisterBenchmark(in.name.c_str(),
                                 [&in](benchmark::State& state) {
                                   // Whatever goes wrong on this side fails the case, not the run.
                                   try {
                                     reportRepetition(state, in);
                                   } catch (const std::exception& e) {
                                     run.failures.record(in.name, in.name + ": " + e.what());
                                     state.SkipWithError(run.failures.byCase[in.name].c_str());
                                   }
                                 })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
}

// Every sample of the run, round by round, under the race, and what became
// of each case into the context.
void sampleRun(const Options& o) {
  RaceSettings settings;
  settings.on = o.race;
  settings.rule.limit = run.rounds;
  settings.timeLimit = o.timeLimit;
  run.race = std::make_unique<Race>(contendersOf(run.selected), settings);
  const auto start = std::chrono::steady_clock::now();
  RoundWatch watch;
  watch.round = [](int r) { run.progress->startRound(r); };
  watch.startCase = [](const std::string& n) { run.progress->startCase(n); };
  watch.sampling = [](std::size_t n) { return run.race->sampling(n); };
  watch.caseDone = [](std::size_t n, bool ok) {
    if (ok) {
      recordLastRound(*run.race, n, *run.selected[n]);
    } else {
      run.race->fail(n);
    }
  };
  watch.endRound = [&start](int round) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const bool goOn = run.race->endRound(round, elapsed.count());
    std::vector<Instance*> left;
    for (std::size_t n = 0; n < run.selected.size(); ++n) {
      if (run.race->sampling(n)) {
        left.push_back(run.selected[n]);
      }
    }
    // What the rounds left may take at most: the warm-up is behind.
    run.progress->plan(static_cast<int>(left.size()),
                       goOn ? countSamples(left, run.rounds - round, run.samplesPerRound).total - 1
                            : 0);
    return goOn;
  };
  takeEverySample(run.selected, run.rounds, run.samplesPerRound, takeSample, run.failures, watch);
  for (std::size_t n = 0; n < run.selected.size(); ++n) {
    benchmark::AddCustomContext("race/" + run.selected[n]->name, raceEntry(run.race->end(n)));
  }
  benchmark::AddCustomContext(
      "race", o.race ? "on: from " + std::to_string(kMinRaceRounds) +
                           " rounds, a case stops once more rounds could not change a decision "
                           "it takes part in; tie margin " +
                           std::to_string(static_cast<int>(kTieMargin * 100)) + " %"
                     : "off: every case takes every round");
  benchmark::AddCustomContext("race_end", raceSummary(*run.race));
}

std::unique_ptr<benchmark::BenchmarkReporter> reporterFor(const std::string& format) {
  if (format == "console") {
    return std::make_unique<SuiteConsoleReporter>();
  }
  if (format == "csv") {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return std::make_unique<benchmark::CSVReporter>();
#pragma GCC diagnostic pop
  }
  return std::make_unique<benchmark::JSONReporter>();
}

// The machine, the libraries, the suite's tables and the run's settings, into
// the report's context; what moves the figures also said on standard error.
void addContext(const Options& o) {
  std::vector<std::string> notBuilt = casesNotBuilt();
  if (!notBuilt.empty()) {
    std::string list;
    for (const std::string& c : notBuilt) {
      list += (list.empty() ? "" : "; ") + c;
    }
    std::fprintf(stderr, "voxgrid-suite: not built: %s\n", list.c_str());
    benchmark::AddCustomContext("not_built", list);
  }
  for (const auto& kv : machineContext()) {
    benchmark::AddCustomContext(kv.first, kv.second);
  }
  if (isaBelow(buildIsa(), cpuIsa())) {
    std::fprintf(stderr,
                 "voxgrid-suite: warning: built for %s while this CPU offers %s: the sweeps and "
                 "ceilings are a portable build's, not what code tuned for this machine sees "
                 "(the native preset builds for it)\n",
                 buildIsa().c_str(), cpuIsa().c_str());
  }
  for (const auto& kv : libraryContext()) {
    benchmark::AddCustomContext(kv.first, kv.second);
    if (kv.first == "assertions" && kv.second == "on") {
      std::fprintf(stderr, "voxgrid-suite: warning: built without NDEBUG: assertions are on "
                           "(Boost.MultiArray checks every index), so the library layouts may "
                           "cost several times what they cost in a release build\n");
    }
  }
  for (const auto& kv : runSettings(o, run.selected, run.timeoutOverride)) {
    benchmark::AddCustomContext(kv.first, kv.second);
  }
  for (const auto& kv : suiteTables()) {
    benchmark::AddCustomContext(kv.first, kv.second);
  }
}

// Writes what was reported; the exit status, after one line for each failure.
int finish(CheckedStream& report, CheckedReporter* file, const OutFile& outFile,
           std::size_t matched) {
  int status = 0;
  report.flush();
  if (report.error() != 0) {
    std::fprintf(stderr, "voxgrid-suite: cannot write the report to standard output: %s\n",
                 std::strerror(report.error()));
    status = 1;
  }
  if (file != nullptr) {
    // Only a whole report takes the file's place; anything less leaves it as it was.
    int error = file->error();
    const int placed = finishOutFile(outFile, file->finished() && error == 0);
    if (error == 0) {
      error = placed;
    }
    if (error != 0) {
      std::fprintf(stderr, "voxgrid-suite: cannot write --benchmark_out=%s: %s\n",
                   outFile.target.c_str(), std::strerror(error));
      status = 1;
    }
  }
  if (matched == 0) {
    status = 1; // Google Benchmark has said that nothing matched
  }
  if (!run.failures.byCase.empty()) {
    std::fprintf(stderr, "voxgrid-suite: %zu of %zu cases failed; first: %s\n",
                 run.failures.byCase.size(), run.casesRun.size(), run.failures.first.c_str());
    status = 1;
  }
  return status;
}

} // namespace

int runSuite(int argc, char** argv) {
  if (isSampleMode(argc, argv)) {
    return runSampleMode(argc, argv);
  }
  if (isReplayMode(argc, argv)) {
    return runReplayMode();
  }
  std::string badName = badCaseName();
  if (badName.empty()) {
    badName = badSweepName();
  }
  if (!badName.empty()) {
    std::fprintf(stderr, "voxgrid-suite: %s\n", badName.c_str());
    return 1;
  }
  catchStopSignals();
  Options o;
  ProgressMode mode = ProgressMode::kOff;
  try {
    o = parseOptions(argc, argv);
    mode = parseProgress(o.progress, isatty(STDERR_FILENO) == 1);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "voxgrid-suite: %s\n", e.what());
    return 1;
  }
  applyBinding(o.bind);
  run.timeoutOverride = o.sampleTimeout;
  registerCases(o);

  // Google Benchmark writes --benchmark_out's temporary, the last flag of its kind.
  const OutFile& outFile = o.out;
  std::string writeTo = "--benchmark_out=" + outFile.writing;
  std::vector<char*> args{argv[0]};
  std::transform(o.benchmarkArgs.begin(), o.benchmarkArgs.end(), std::back_inserter(args),
                 [](std::string& a) { return a.data(); });
  if (!outFile.target.empty()) {
    args.push_back(writeTo.data());
  }
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data(), printHelp);
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) {
    return 1;
  }

  const std::string filter = lastValue(o.benchmarkArgs, "benchmark_filter", ".");
  for (Instance& in : run.cases.instances) {
    if (filterSelects(filter, in.name + "/manual_time")) {
      run.selected.push_back(&in);
    }
  }
  run.rounds = std::stoi(lastValue(o.benchmarkArgs, "benchmark_repetitions", "1"));
  run.samplesPerRound = o.samples;
  addContext(o);
  const SampleCount count = countSamples(run.selected, run.rounds, o.samples);
  run.progress = std::make_unique<Progress>(mode, static_cast<int>(run.selected.size()), run.rounds,
                                            count.total);
  const bool listOnly = lastFlag(o.benchmarkArgs, "benchmark_list_tests");
  if (!run.selected.empty() && !listOnly &&
      !planRun(run.selected, run.rounds, o.samples, count,
               o.race ? std::min(kMinRaceRounds, run.rounds) : run.rounds, o.timeLimit)) {
    return 1;
  }

  if (!run.selected.empty() && !listOnly) {
    sampleRun(o);
  }

  CheckedStream report(std::cout.rdbuf());
  std::unique_ptr<benchmark::BenchmarkReporter> display = std::make_unique<ProgressReporter>(
      reporterFor(lastValue(o.benchmarkArgs, "benchmark_format", "console")), *run.progress);
  display->SetOutputStream(&report);
  std::unique_ptr<CheckedReporter> file;
  if (!outFile.target.empty()) {
    file = std::make_unique<CheckedReporter>(
        reporterFor(lastValue(o.benchmarkArgs, "benchmark_out_format", "json")));
    if (!outFile.inPlace()) {
      removeOnStop(outFile.writing, outFile.target);
    }
  }
  const std::size_t matched = benchmark::RunSpecifiedBenchmarks(display.get(), file.get());
  benchmark::Shutdown();
  if (stopSignal() != 0) {
    stop();
  }
  return finish(report, file.get(), outFile, matched);
}

} // namespace voxgrid
