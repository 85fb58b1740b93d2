// voxgrid-suite: repeated measurements of building, filling, sweeping and
// releasing a grid under each layout, beside this machine's floors (the least a
// layout can pay) and its ceilings (the fill and the sweeps alone, in memory
// already mapped). Every sample runs in a fresh process, as the program's tests do.

#include "case_filter.h"
#include "cases.h"
#include "checked_reporter.h"
#include "checked_stream.h"
#include "console_reporter.h"
#include "context.h"
#include "memory_plan.h"
#include "options.h"
#include "out_file.h"
#include "progress.h"
#include "progress_reporter.h"
#include "run_stop.h"
#include "sample_process.h"
#include "shape_list.h"
#include "thread_binding.h"

#include <voxgrid/detail/added_sweeps.h>
#include <voxgrid/detail/seeded_random.h>
#include <voxgrid/detail/steps.h>
#include <voxgrid/layout.h>

#include <benchmark/benchmark.h>
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace voxgrid {

namespace {

// One registered case at one shape and team size (threads 0: the default team),
// and the samples the run takes of it.
struct Instance {
  std::string name;
  const Case* c;
  Shape shape;
  int threads;
  SweepPlan plan; // none for the cases that do not sweep
  HeapPlan heap;
  std::vector<std::vector<Sample>> rounds; // the samples of each round it ran in
  bool warned = false;                     // about its huge pages, once
  int reported = 0;                        // the repetitions handed to Google Benchmark
};

// Every instance registered, at a stable address for the cases that measure them.
std::deque<Instance> instances;
// The ones this run measures, and its shape: repetitions are rounds.
std::vector<Instance*> selected;
int rounds = 1;
int samplesPerRound = 1;
double timeoutOverride = 0; // --sample-timeout; 0: derived from each sample's plan

// What ran and what failed, over every repetition of the run.
std::set<std::string> casesRun;
std::map<std::string, std::string> failures;
std::string firstFailure;
std::unique_ptr<Progress> progress;

void printHelp() {
  std::printf("voxgrid-suite: times building, filling and releasing a 3-D grid under each\n"
              "layout, and sweeping it once built, beside this machine's floors and ceilings.\n"
              "Every sample runs in a fresh process.\n\n"
              "The suite's own flags:\n"
              "  --shape=NXxNYxNZ[,NXxNYxNZ...]  the grids to measure (default %s)\n"
              "  --samples=N                     fresh-process samples per repetition; a\n"
              "                                  repetition reports the median one (default %d)\n"
              "  --sweeps=LIST|all|none           the sweeps each sample times after its fill,\n"
              "                                  outside the case's time: any of sum, stencil,\n"
              "                                  lines_j, lines_i, gather and the program's own,\n"
              "                                  comma-separated (default %s and the program's\n"
              "                                  own; none: build, fill and release only)\n"
              "  --passes=N                      timed passes of each sweep per sample; the\n"
              "                                  median pass is reported (default %d)\n"
              "  --points=N                      the points gather reads (default %lld, or one\n"
              "                                  per element on a smaller grid)\n"
              "  --element=LIST                  the element types the grids hold: any of int32,\n"
              "                                  float, double, uint16, uint8, comma-separated\n"
              "                                  (default int32)\n"
              "  --heap=fresh|aged|fresh,aged    the heap each sample builds its grid on: a new\n"
              "                                  process's, or one aged first by small blocks\n"
              "                                  totalling the grid's bytes, a share of them\n"
              "                                  freed (default fresh)\n"
              "  --heap-freed=F                  the share of the aging blocks freed, between 0\n"
              "                                  and 1 (default %g)\n"
              "  --bind=close|spread|none|inherit the samples' thread binding: close and spread\n"
              "                                  set OMP_PROC_BIND to it and OMP_PLACES=cores\n"
              "                                  (close pins as likwid-bench does), none sets\n"
              "                                  OMP_PROC_BIND=false, inherit keeps the\n"
              "                                  environment's (default inherit)\n"
              "  --sample-timeout=S              seconds a sample may run before it is stopped\n"
              "                                  and its case failed (default: from the grid,\n"
              "                                  the heap and the sweeps, see the context)\n\n"
              "Repetitions run in rounds: each round takes one repetition of every case, in\n"
              "an order shuffled afresh for each round from a fixed seed, so that the host's\n"
              "slow stretches fall on every case alike. One sample before the first round\n"
              "is discarded.\n\n"
              "Every time comes from the sample processes' own clock, so how Google Benchmark\n"
              "itself was built (Debian builds it for debugging) does not move the figures.\n\n"
              "Defaults it gives Google Benchmark (your own flags override them):\n",
              kDefaultShape, kDefaultSamples, kDefaultSweeps, kDefaultPasses,
              static_cast<long long>(kDefaultPoints), kDefaultHeapFreed);
  for (const char* flag : kDefaultFlags) {
    std::printf("  %s\n", flag);
  }
  std::printf("\nGoogle Benchmark's flags:\n");
  benchmark::PrintDefaultHelp();
}

// The gather's points per sample: one count, or one per shape where they differ.
std::string gatherPoints(const Options& o) {
  std::string each;
  std::set<std::int64_t> counts;
  for (const Shape& s : o.shapes) {
    const std::int64_t n = pointsFor(o.sweeps, s);
    counts.insert(n);
    each += (each.empty() ? "" : ", ") + shapeName(s) + ": " + std::to_string(n);
  }
  return counts.size() == 1 ? std::to_string(*counts.begin()) : each;
}

void recordFailure(const std::string& name, const std::string& message) {
  if (failures.emplace(name, message).second && firstFailure.empty()) {
    firstFailure = message;
  }
}

// Ends a run that a signal has stopped, the progress line first off the screen.
[[noreturn]] void stop() {
  progress->clear();
  stopRun();
}

// Runs one sample of the instance; on failure records it and returns false.
bool takeSample(const Instance& in, const SweepPlan& plan, Sample& s) {
  const double timeout =
      timeoutOverride > 0 ? timeoutOverride
                          : sampleTimeout(in.shape, plan, in.heap.aged, info(in.c->element).bytes);
  const SampleResult r = spawnSample(caseKey(*in.c), in.shape, in.threads, plan, in.heap, timeout);
  if (stopSignal() != 0) {
    stop();
  }
  if (!r.ok) {
    recordFailure(in.name, in.name + ": " + r.error);
    return false;
  }
  s = r.sample;
  progress->sampleDone();
  return true;
}

// The seed of the rounds' order: fixed, so a run can be repeated sample for sample.
constexpr std::uint64_t kOrderSeed = 0x726f756e64730aULL; // "rounds\n"

// Every sample of the run, before Google Benchmark reports the first
// repetition. Round r takes repetition r of every case, in an order shuffled
// afresh for each round, so a slow stretch of the host spreads over every case
// instead of falling on whichever ran during it, and no case always follows
// the same one. A case that fails is not sampled again. One sample, not
// swept, comes first and is discarded: on a virtual machine the first pages a
// run touches after a pause cost far more, and from then on samples follow
// one another. Huge pages are the exception: the host takes back those left
// untouched for a few seconds, so among other cases a 2 MiB floor sample cost
// up to ten times its back-to-back figure. Each sample of a case that needs
// them follows a discarded one of its own, so that its figure is, mostly, the
// back-to-back one, as a program that keeps making such grids sees.
void takeEverySample() {
  if (selected.empty()) {
    return;
  }
  Sample warm;
  takeSample(*selected.front(), SweepPlan{}, warm);
  failures.clear(); // a failing case fails again in its own turn, and is reported there
  firstFailure.clear();
  SeededRandom random(kOrderSeed);
  std::vector<Instance*> order = selected;
  for (int round = 1; round <= rounds; ++round) {
    progress->startRound(round);
    for (std::size_t n = 0; n + 1 < order.size(); ++n) {
      std::swap(order[n], order[n + random.below(order.size() - n)]);
    }
    for (Instance* in : order) {
      if (failures.count(in->name) != 0) {
        continue;
      }
      progress->startCase(in->name);
      std::vector<Sample> taken(static_cast<std::size_t>(samplesPerRound));
      const bool ok = std::all_of(taken.begin(), taken.end(), [in](Sample& sample) {
        return (!in->c->hugePages() || takeSample(*in, SweepPlan{}, sample)) &&
               takeSample(*in, in->plan, sample);
      });
      if (ok) {
        in->rounds.push_back(std::move(taken));
      }
    }
  }
}

// The share of the grid's bytes in huge pages, or -1 where the kernel does not say.
double hugePageShare(const Sample& s, const Shape& shape, int elementBytes) {
  const double bytes = static_cast<double>(elementCount(shape)) * elementBytes;
  return s.hugeBytes < 0 || bytes <= 0 ? -1
                                       : std::min(1.0, static_cast<double>(s.hugeBytes) / bytes);
}

// A case that asked for huge pages and got (mostly) small ones says so in its
// row and once on standard error: its figures are not those of huge pages.
constexpr double kHugeEnough = 0.9;
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

// One repetition, from the samples its round took: its time, and its build,
// fill and release, are the median sample's (by time, so that they add up; the
// two middle ones averaged for an even count); each sweep reports the median
// of the samples' own medians over their passes.
void measure(benchmark::State& state, Instance& in) {
  casesRun.insert(in.name);
  const std::size_t repetition = static_cast<std::size_t>(in.reported++);
  if (repetition >= in.rounds.size()) { // its sample failed in this round, or an earlier one
    const auto failed = failures.find(in.name);
    state.SkipWithError(failed != failures.end() ? failed->second.c_str()
                                                 : "no sample taken for this repetition");
    return;
  }
  const std::vector<Sample>& taken = in.rounds[repetition];
  const Sample median = medianSample(taken);
  double ns[kStepCount] = {};
  for (int step = kBuild; step <= kRelease; ++step) {
    ns[step] = median.ns[step];
  }
  for (int step = kSum; step < kStepCount; ++step) {
    std::vector<double> passes;
    std::transform(taken.begin(), taken.end(), std::back_inserter(passes),
                   [step](const Sample& s) { return s.ns[step]; });
    ns[step] = medianOf(passes);
  }
  for (auto _ : state) { // the samples were taken in their round: only their time is reported
    state.SetIterationTime(median.totalNs() * 1e-9);
  }
  using benchmark::Counter;
  const double elements = static_cast<double>(elementCount(in.shape));
  const double points = static_cast<double>(pointsFor(in.plan, in.shape));
  for (int step = 0; step < kStepCount; ++step) {
    if (kSteps[step].sweep && !in.plan.on[step]) {
      continue;
    }
    const std::string name = kSteps[step].name;
    state.counters[name + "_ms"] = Counter(ns[step] * 1e-6);
    if (kSteps[step].sweep) {
      const double items = step == kGather ? points : elements;
      state.counters[name + "_" + kSteps[step].rate] = Counter(
          bytesPerItem(static_cast<Step>(step), in.c->ceiling(), info(in.c->element).bytes) *
          items / ns[step]);
    }
  }
  // The program's own sweeps: their median pass, where every sample ran them.
  for (std::size_t n = 0; n < in.plan.added.size(); ++n) {
    std::vector<double> passes;
    for (const Sample& s : taken) {
      if (n < s.added.size() && s.added[n] >= 0) {
        passes.push_back(s.added[n]);
      }
    }
    if (in.plan.added[n] && !passes.empty() && passes.size() == taken.size()) {
      state.counters[std::string(addedSweeps()[n].name) + "_ms"] = Counter(medianOf(passes) * 1e-6);
    }
  }
  state.counters["faults"] = Counter(static_cast<double>(median.faults));
  state.counters["blocks"] = Counter(static_cast<double>(median.blocks));
  if (in.c->hugePages()) {
    const double share = hugePageShare(median, in.shape, info(in.c->element).bytes);
    state.counters["huge_pages"] = Counter(share);
    checkHugePages(state, in, share);
  }
  // Decimal units: the console's G/s is 10^9 bytes per second, as in the JSON's plain figure.
  state.counters["bytes_per_second"] =
      Counter(elements * info(in.c->element).bytes, Counter::kIsRate, Counter::kIs1000);
}

// A case as Google Benchmark runs it: every repetition through measure(). The
// first repetition of the run takes every sample of the run, interleaved.
class SampledCase : public benchmark::internal::Benchmark {
public:
  explicit SampledCase(Instance& in) : Benchmark(in.name.c_str()), in_(in) {}
  void Run(benchmark::State& state) override {
    // Whatever goes wrong on this side fails the case, not the run.
    try {
      static const bool sampled = (takeEverySample(), true);
      (void)sampled;
      measure(state, in_);
    } catch (const std::exception& e) {
      recordFailure(in_.name, in_.name + ": " + e.what());
      state.SkipWithError(failures[in_.name].c_str());
    }
  }

private:
  Instance& in_;
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

// Registers every case at every shape, heap and team size, into `instances`.
void registerCases(const Options& o) {
  const std::string thp = thpMode("enabled");
  const bool hugePages = thp == "always" || thp == "madvise";
  for (const Case& c : suiteCases()) {
    if (c.hugePages() && !hugePages) {
      const std::string why = "not run: transparent huge pages are " + thp;
      benchmark::AddCustomContext(c.name, why);
      std::fprintf(stderr, "voxgrid-suite: %s %s\n", c.name, why.c_str());
    }
  }
  // A case that indexes in int is left out at a shape past 2^31 - 1
  // elements, named once with the shapes, before anything runs.
  for (const Case& c : suiteCases()) {
    std::string past;
    for (const Shape& shape : o.shapes) {
      if (c.intIndex() && elementCount(shape) > INT_MAX) {
        past += (past.empty() ? "" : ", ") + shapeName(shape);
      }
    }
    if (!past.empty() && o.elements[static_cast<int>(c.element)]) {
      const std::string why = "not run at " + past +
                              ": the program's own steps index the grid in int, at most " +
                              std::to_string(INT_MAX) + " elements";
      benchmark::AddCustomContext(c.name, why);
      std::fprintf(stderr, "voxgrid-suite: %s %s\n", c.name, why.c_str());
    }
  }
  for (const Shape& shape : o.shapes) {
    for (const HeapPlan& heap : o.heaps) {
      for (const Case& c : suiteCases()) {
        if ((c.hugePages() && !hugePages) || (c.intIndex() && elementCount(shape) > INT_MAX)) {
          continue;
        }
        if (!o.elements[static_cast<int>(c.element)]) {
          continue;
        }
        const std::string element =
            c.element == ElementType::kInt32 ? "" : std::string("/element:") + info(c.element).name;
        const std::string base = std::string(c.name) + "/shape:" + shapeName(shape) + element +
                                 (heap.aged ? "/heap:aged" : "");
        const SweepPlan plan = c.sweeps() ? o.sweeps : SweepPlan{};
        const auto add = [&](const std::string& name, int threads) {
          instances.push_back(Instance{name, &c, shape, threads, plan, heap, {}, false, 0});
          // Google Benchmark's registry owns what it is given; the analyzer cannot see that.
          // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks)
          benchmark::internal::RegisterBenchmarkInternal(new SampledCase(instances.back()))
              ->UseManualTime()
              ->Unit(benchmark::kMillisecond);
        };
        if (c.ownTeam()) {
          add(base, 0);
        } else {
          for (int t : threadCounts()) {
            add(base + "/threads:" + std::to_string(t), t);
          }
        }
      }
    }
  }
}

// The deadline each sample waits under, for the context.
std::string timeoutText() {
  if (timeoutOverride > 0) {
    return formatSeconds(timeoutOverride) + " (--sample-timeout)";
  }
  double longest = 0;
  for (const Instance* in : selected) {
    longest = std::max(
        longest, sampleTimeout(in->shape, in->plan, in->heap.aged, info(in->c->element).bytes));
  }
  return "from each sample's plan: " + std::string(kTimeoutRule) + "; at most " +
         formatSeconds(longest) + " in this run";
}

// The plan on one line before the first sample, after the memory check: false,
// with one line saying why, where a sample would need more than the run may use.
// `selected` holds at least one instance.
bool planRun(const Options& o, long measured, long samples) {
  const auto needOf = [](const Instance& in) {
    const Case& c = *in.c;
    SampleNeed need = sampleNeed(in.shape, in.plan, c.sweeps(), in.heap.aged,
                                 c.bytes ? std::optional(c.bytes(in.shape)) : std::nullopt,
                                 info(c.element).bytes);
    need.estimated = c.added() && c.bytes == nullptr;
    return need;
  };
  const Instance* largest = selected.front();
  SampleNeed need = needOf(*largest);
  bool estimated = false; // a layout that states nothing makes the figure an estimate
  for (const Instance* in : selected) {
    const SampleNeed n = needOf(*in);
    estimated = estimated || n.estimated;
    if (n.total() > need.total()) {
      largest = in;
      need = n;
    }
  }
  need.estimated = estimated;
  const std::vector<MemoryLimit> limits = readMemoryLimits();
  const MemoryCheck check = checkMemory(need.total(), limits);
  const std::string shape = shapeName(largest->shape);
  const std::string needs = "a sample at " + shape + " needs up to " + bytesText(need.total()) +
                            " (" + needText(need) + ")";
  if (check.verdict == Verdict::kRefused) {
    std::fprintf(stderr,
                 "voxgrid-suite: %s, more than the %s this run may use (%s); choose a smaller "
                 "--shape, fewer --sweeps or --heap=fresh\n",
                 needs.c_str(), bytesText(check.least->bytes).c_str(), check.least->name.c_str());
    return false;
  }
  if (check.verdict == Verdict::kClose) {
    std::fprintf(stderr,
                 "voxgrid-suite: warning: %s, within %.0f %% of the %s this run may use (%s): "
                 "it may run out of memory\n",
                 needs.c_str(), kMemoryMargin * 100, bytesText(check.least->bytes).c_str(),
                 check.least->name.c_str());
  }
  std::fprintf(stderr,
               "voxgrid-suite: plan: %zu cases x %d rounds x %d samples + %ld warm-up = %ld "
               "samples; %s; limits: %s; the time left shows once the first round has run\n",
               selected.size(), rounds, o.samples, samples - measured, samples, needs.c_str(),
               limitsText(limits).c_str());
  return true;
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

} // namespace

// The suite, with every case registered so far: the built-in ones, and those
// of the program it is linked into.
int runSuite(int argc, char** argv) {
  if (isSampleMode(argc, argv)) {
    return runSampleMode(argc, argv);
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
  timeoutOverride = o.sampleTimeout;
  registerCases(o);

  // Google Benchmark writes --benchmark_out's temporary, the last flag of its kind.
  const std::string& out = o.out.target;
  const OutFile& outFile = o.out;
  std::string writeTo = "--benchmark_out=" + outFile.writing;
  std::vector<char*> args{argv[0]};
  std::transform(o.benchmarkArgs.begin(), o.benchmarkArgs.end(), std::back_inserter(args),
                 [](std::string& a) { return a.data(); });
  if (!out.empty()) {
    args.push_back(writeTo.data());
  }
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data(), printHelp);
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) {
    return 1;
  }
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
  benchmark::AddCustomContext("samples_per_iteration", std::to_string(o.samples));
  benchmark::AddCustomContext("sweeps", sweepsName(o.sweeps));
  benchmark::AddCustomContext("passes_per_sample", std::to_string(o.sweeps.passes));
  if (o.sweeps.anyAdded()) {
    std::string names;
    for (std::size_t a = 0; a < o.sweeps.added.size(); ++a) {
      if (o.sweeps.added[a]) {
        names += (names.empty() ? "" : ",") + std::string(addedSweeps()[a].name);
      }
    }
    benchmark::AddCustomContext("added_sweeps", names);
  }
  if (o.sweeps.on[kGather]) {
    benchmark::AddCustomContext("gather_points", gatherPoints(o));
  }
  benchmark::AddCustomContext("heap", heapsName(o.heaps));
  if (o.heaps.back().aged) {
    benchmark::AddCustomContext("heap_recipe", heapRecipe(o.heaps.back().freed));
  }
  benchmark::AddCustomContext("thread_binding", bindingInForce(o.bind));
  benchmark::AddCustomContext("bytes_per_element", bytesPerElementText());
  char order[224];
  std::snprintf(order, sizeof order,
                "interleaved: round r takes repetition r of every case, in an order shuffled for "
                "each round from seed 0x%llx; one warm-up sample first, and one before each "
                "sample of a case on huge pages, discarded",
                static_cast<unsigned long long>(kOrderSeed));
  benchmark::AddCustomContext("sample_order", order);

  const std::string filter = lastValue(o.benchmarkArgs, "benchmark_filter", ".");
  for (Instance& in : instances) {
    if (filterSelects(filter, in.name + "/manual_time")) {
      selected.push_back(&in);
    }
  }
  rounds = std::stoi(lastValue(o.benchmarkArgs, "benchmark_repetitions", "1"));
  samplesPerRound = o.samples;
  // One warm-up for the run, and one before each sample of a case on huge pages.
  const long measured = static_cast<long>(selected.size()) * rounds * o.samples;
  const long hugeCases = std::count_if(selected.begin(), selected.end(),
                                       [](const Instance* in) { return in->c->hugePages(); });
  const long samples = measured + 1 + hugeCases * rounds * o.samples;
  progress = std::make_unique<Progress>(mode, static_cast<int>(selected.size()), rounds, samples);
  benchmark::AddCustomContext("sample_timeout", timeoutText());
  const bool listOnly = lastValue(o.benchmarkArgs, "benchmark_list_tests", "false") == "true";
  if (!selected.empty() && !listOnly && !planRun(o, measured, samples)) {
    return 1;
  }

  CheckedStream report(std::cout.rdbuf());
  std::unique_ptr<benchmark::BenchmarkReporter> display = std::make_unique<ProgressReporter>(
      reporterFor(lastValue(o.benchmarkArgs, "benchmark_format", "console")), *progress);
  display->SetOutputStream(&report);
  std::unique_ptr<CheckedReporter> file;
  if (!out.empty()) {
    file = std::make_unique<CheckedReporter>(
        reporterFor(lastValue(o.benchmarkArgs, "benchmark_out_format", "json")));
    if (!outFile.inPlace()) {
      removeOnStop(outFile.writing, out);
    }
  }
  const std::size_t matched = benchmark::RunSpecifiedBenchmarks(display.get(), file.get());
  benchmark::Shutdown();
  if (stopSignal() != 0) {
    stop();
  }

  int status = 0;
  report.flush();
  if (report.error() != 0) {
    std::fprintf(stderr, "voxgrid-suite: cannot write the report to standard output: %s\n",
                 std::strerror(report.error()));
    status = 1;
  }
  if (file) {
    // Only a whole report takes the file's place; anything less leaves it as it was.
    int error = file->error();
    const int placed = finishOutFile(outFile, file->finished() && error == 0);
    if (error == 0) {
      error = placed;
    }
    if (error != 0) {
      std::fprintf(stderr, "voxgrid-suite: cannot write --benchmark_out=%s: %s\n", out.c_str(),
                   std::strerror(error));
      status = 1;
    }
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

} // namespace voxgrid

int main(int argc, char** argv) { return voxgrid::runSuite(argc, argv); }
