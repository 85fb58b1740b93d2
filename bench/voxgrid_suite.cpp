// voxgrid-suite: repeated measurements of building, filling and releasing a
// grid under each layout, beside this machine's floors (the least a layout can
// pay) and its ceiling (the fill alone, into memory already mapped). Every
// sample runs in a fresh process, as the program's tests do.

#include "cases.h"
#include "checked_reporter.h"
#include "checked_stream.h"
#include "context.h"
#include "sample_process.h"
#include "shape.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

const char* const kDefaultShape = "400x800x100";
constexpr int kDefaultSamples = 3;
// Google Benchmark settings the suite starts from; the user's own flags, which
// come after these, override them. One iteration per repetition: the suite
// decides how many samples an iteration takes.
const char* const kDefaultFlags[] = {"--benchmark_repetitions=5",
                                     "--benchmark_display_aggregates_only=true",
                                     "--benchmark_min_time=0"};

struct Options {
  std::vector<Shape> shapes;
  int samples = kDefaultSamples;
  std::vector<std::string> benchmarkArgs; // for Google Benchmark, defaults first
};

// One registered case at one shape and team size (threads 0: the default team).
struct Instance {
  std::string name;
  const Case* c;
  Shape shape;
  int threads;
};

// What ran and what failed, over every repetition of the run.
std::set<std::string> casesRun;
std::map<std::string, std::string> failures;
std::string firstFailure;

void printHelp() {
  std::printf("voxgrid-suite: times building, filling and releasing a 3-D grid of int under each\n"
              "layout, beside this machine's floors and its write-bandwidth ceiling. Every sample\n"
              "runs in a fresh process.\n\n"
              "The suite's own flags:\n"
              "  --shape=NXxNYxNZ[,NXxNYxNZ...]  the grids to measure (default %s)\n"
              "  --samples=N                     fresh-process samples per iteration, after one\n"
              "                                  discarded warm-up sample per repetition; an\n"
              "                                  iteration reports the median one (default %d)\n\n"
              "Defaults it gives Google Benchmark (your own flags override them):\n",
              kDefaultShape, kDefaultSamples);
  for (const char* flag : kDefaultFlags) {
    std::printf("  %s\n", flag);
  }
  std::printf("\nGoogle Benchmark's flags:\n");
  benchmark::PrintDefaultHelp();
}

int positiveInt(const std::string& flag, const std::string& value) {
  std::size_t used = 0;
  int v = 0;
  try {
    v = std::stoi(value, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != value.size() || v < 1 || value[0] == '+' || value[0] == ' ') {
    throw std::invalid_argument(flag + " must be a whole number of at least 1, not \"" + value +
                                "\"");
  }
  return v;
}

// The value of the last --NAME=VALUE among args, as Google Benchmark takes it.
std::string lastValue(const std::vector<std::string>& args, const std::string& name,
                      const std::string& fallback) {
  const std::string prefix = "--" + name + "=";
  std::string value = fallback;
  for (const std::string& a : args) {
    if (a.compare(0, prefix.size(), prefix) == 0) {
      value = a.substr(prefix.size());
    }
  }
  return value;
}

// Takes the suite's own flags and checks the Google Benchmark flags that it
// would crash on or misreport, before anything runs.
Options parseOptions(int argc, char** argv) {
  Options o;
  std::string shapes = kDefaultShape;
  o.benchmarkArgs.assign(std::begin(kDefaultFlags), std::end(kDefaultFlags));
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.compare(0, 8, "--shape=") == 0) {
      shapes = a.substr(8);
    } else if (a.compare(0, 10, "--samples=") == 0) {
      o.samples = positiveInt("--samples", a.substr(10));
    } else if (a == "--shape" || a == "--samples") {
      throw std::invalid_argument(a + " needs a value (" + a.substr(2) + "=...); see --help");
    } else {
      o.benchmarkArgs.push_back(a);
    }
  }
  o.shapes = parseShapes(shapes);
  positiveInt("--benchmark_repetitions", lastValue(o.benchmarkArgs, "benchmark_repetitions", "1"));
  for (const char* flag : {"benchmark_format", "benchmark_out_format"}) {
    const std::string v = lastValue(o.benchmarkArgs, flag, "json");
    if (v != "console" && v != "json" && v != "csv") {
      throw std::invalid_argument(std::string("--") + flag +
                                  " must be console, json or csv, not \"" + v + "\"");
    }
  }
  const std::string out = lastValue(o.benchmarkArgs, "benchmark_out", "");
  if (!out.empty()) {
    std::FILE* f = std::fopen(out.c_str(), "w");
    if (f == nullptr) {
      throw std::invalid_argument("cannot write --benchmark_out=" + out + ": " +
                                  std::strerror(errno));
    }
    std::fclose(f);
  }
  return o;
}

void recordFailure(const std::string& name, const std::string& message) {
  if (failures.emplace(name, message).second && firstFailure.empty()) {
    firstFailure = message;
  }
}

// Runs one sample of the instance; on failure records it and returns false.
bool takeSample(const Instance& in, Sample& s) {
  const SampleResult r = spawnSample(in.c->name, in.shape, in.threads);
  if (!r.ok) {
    recordFailure(in.name, in.name + ": " + r.error);
    return false;
  }
  s = r.sample;
  return true;
}

// One repetition. It starts with a sample it discards, so that the first
// timed sample finds the machine as the others do (on a virtual machine, huge
// pages not touched for a while cost far more). Each iteration then runs
// `samples` fresh-process samples and reports the median one: its time, and
// its build, fill and release, which add up to that time.
void measure(benchmark::State& state, const Instance& in, int samples) {
  casesRun.insert(in.name);
  Sample warm;
  if (failures.count(in.name) == 0) {
    takeSample(in, warm);
  }
  const auto failed = failures.find(in.name);
  if (failed != failures.end()) { // now, or in an earlier repetition: do not retry
    state.SkipWithError(failed->second.c_str());
    return;
  }
  Sample sum;
  std::vector<Sample> taken(static_cast<std::size_t>(samples));
  for (auto _ : state) {
    for (Sample& s : taken) {
      if (!takeSample(in, s)) {
        state.SkipWithError(failures[in.name].c_str());
        return;
      }
    }
    std::nth_element(taken.begin(), taken.begin() + samples / 2, taken.end(),
                     [](const Sample& a, const Sample& b) { return a.totalNs() < b.totalNs(); });
    const Sample& median = taken[static_cast<std::size_t>(samples / 2)];
    state.SetIterationTime(median.totalNs() * 1e-9);
    sum.buildNs += median.buildNs;
    sum.fillNs += median.fillNs;
    sum.releaseNs += median.releaseNs;
    sum.faults += median.faults;
    sum.blocks += median.blocks;
  }
  using benchmark::Counter;
  state.counters["build_ms"] = Counter(sum.buildNs * 1e-6, Counter::kAvgIterations);
  state.counters["fill_ms"] = Counter(sum.fillNs * 1e-6, Counter::kAvgIterations);
  state.counters["release_ms"] = Counter(sum.releaseNs * 1e-6, Counter::kAvgIterations);
  state.counters["faults"] = Counter(static_cast<double>(sum.faults), Counter::kAvgIterations);
  state.counters["blocks"] = Counter(static_cast<double>(sum.blocks), Counter::kAvgIterations);
  const double bytes = static_cast<double>(in.shape.nx) * in.shape.ny * in.shape.nz * sizeof(int);
  // Decimal units: the console's G/s is 10^9 bytes per second, as in the JSON's plain figure.
  state.counters["bytes_per_second"] =
      Counter(bytes * static_cast<double>(state.iterations()), Counter::kIsRate, Counter::kIs1000);
}

// A case as Google Benchmark runs it: every repetition through measure().
class SampledCase : public benchmark::internal::Benchmark {
public:
  SampledCase(Instance in, int samples)
      : Benchmark(in.name.c_str()), in_(std::move(in)), samples_(samples) {}
  void Run(benchmark::State& state) override {
    // Whatever goes wrong on this side fails the case, not the run.
    try {
      measure(state, in_, samples_);
    } catch (const std::exception& e) {
      recordFailure(in_.name, in_.name + ": " + e.what());
      state.SkipWithError(failures[in_.name].c_str());
    }
  }

private:
  Instance in_;
  int samples_;
};

// 1, the powers of two below the processor count, and the processor count.
std::vector<int> threadCounts() {
  const int procs = omp_get_num_procs();
  std::vector<int> counts;
  for (int t = 1; t < procs; t *= 2) {
    counts.push_back(t);
  }
  counts.push_back(procs);
  return counts;
}

void registerCases(const Options& o) {
  const std::string thp = thpMode("enabled");
  const bool hugePages = thp == "always" || thp == "madvise";
  if (!hugePages) {
    const std::string why = "not run: transparent huge pages are " + thp;
    benchmark::AddCustomContext("floor/pages:2m", why);
    std::fprintf(stderr, "voxgrid-suite: floor/pages:2m %s\n", why.c_str());
  }
  for (const Shape& shape : o.shapes) {
    for (const Case& c : suiteCases()) {
      if (!hugePages && std::strcmp(c.name, "floor/pages:2m") == 0) {
        continue;
      }
      const std::string base = std::string(c.name) + "/shape:" + shapeName(shape);
      const auto add = [&](const std::string& name, int threads) {
        // Google Benchmark's registry owns what it is given; the analyzer cannot see that.
        // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks)
        benchmark::internal::RegisterBenchmarkInternal(
            new SampledCase(Instance{name, &c, shape, threads}, o.samples))
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
      };
      if (c.ownTeam) {
        add(base, 0);
      } else {
        for (int t : threadCounts()) {
          add(base + "/threads:" + std::to_string(t), t);
        }
      }
    }
  }
}

std::unique_ptr<benchmark::BenchmarkReporter> reporterFor(const std::string& format) {
  if (format == "console") {
    return std::make_unique<benchmark::ConsoleReporter>(benchmark::ConsoleReporter::OO_None);
  }
  if (format == "csv") {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return std::make_unique<benchmark::CSVReporter>();
#pragma GCC diagnostic pop
  }
  return std::make_unique<benchmark::JSONReporter>();
}

} // namespace

int main(int argc, char** argv) {
  if (isSampleMode(argc, argv)) {
    return runSampleMode(argc, argv);
  }
  Options o;
  try {
    o = parseOptions(argc, argv);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "voxgrid-suite: %s\n", e.what());
    return 1;
  }
  registerCases(o);

  std::vector<char*> args{argv[0]};
  std::transform(o.benchmarkArgs.begin(), o.benchmarkArgs.end(), std::back_inserter(args),
                 [](std::string& a) { return a.data(); });
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data(), printHelp);
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) {
    return 1;
  }
  for (const auto& kv : machineContext()) {
    benchmark::AddCustomContext(kv.first, kv.second);
  }
  benchmark::AddCustomContext("samples_per_iteration", std::to_string(o.samples));

  CheckedStream report(std::cout.rdbuf());
  benchmark::BenchmarkReporter* display = benchmark::CreateDefaultDisplayReporter();
  display->SetOutputStream(&report);
  const std::string out = lastValue(o.benchmarkArgs, "benchmark_out", "");
  std::unique_ptr<CheckedReporter> file;
  if (!out.empty()) {
    file = std::make_unique<CheckedReporter>(
        reporterFor(lastValue(o.benchmarkArgs, "benchmark_out_format", "json")));
  }
  const std::size_t matched = benchmark::RunSpecifiedBenchmarks(display, file.get());
  benchmark::Shutdown();

  int status = 0;
  report.flush();
  if (report.error() != 0) {
    std::fprintf(stderr, "voxgrid-suite: cannot write the report to standard output: %s\n",
                 std::strerror(report.error()));
    status = 1;
  }
  if (file && file->error() != 0) {
    std::fprintf(stderr, "voxgrid-suite: cannot write --benchmark_out=%s: %s\n", out.c_str(),
                 std::strerror(file->error()));
    status = 1;
  }
  if (matched == 0) {
    status = 1; // Google Benchmark has said that nothing matched
  }
  if (!failures.empty()) {
    std::fprintf(stderr, "voxgrid-suite: %zu of %zu cases failed; first: %s\n", failures.size(),
                 casesRun.size(), firstFailure.c_str());
    status = 1;
  }
  return status;
}
