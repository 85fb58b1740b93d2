// How the suite plans a run before Google Benchmark starts it: which cases the
// filter selects, the cases it expands, the flags, the rounds' order, and what
// a repetition reports from its samples.

#include "case_expansion.h"
#include "case_filter.h"
#include "counters.h"
#include "heap_flags.h"
#include "options.h"
#include "rounds.h"
#include "sweep_flags.h"

#include <voxgrid/detail/added_sweeps.h>
#include <voxgrid/detail/seeded_random.h>
#include <voxgrid/detail/steps.h>

#ifdef VOXGRID_HAVE_BENCHMARK
#include <benchmark/benchmark.h>
#endif
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace voxgrid {
namespace {

// Names as the suite registers them; Google Benchmark adds "/manual_time".
const char* const kNames[] = {
    "nested/shape:400x800x100/threads:1", "flat_vector/shape:2x2x2/element:float/threads:2",
    "floor/pages:4k/shape:2x2x2/heap:aged/threads:1", "flat_parallel_zero/shape:2x2x2/threads:4"};

// Each filter and the names it selects, by their index in kNames.
const std::pair<const char*, const char*> kFilters[] = {
    {"", "0123"},
    {"all", "0123"},
    {"-all", "012"}, // "all" means everything only as the whole filter
    {"-", ""},
    {"nested", "0"},
    {"-nested", "123"},
    {"^flat", "13"},
    {"-^flat", "02"},
    {"threads:1$", ""}, // the name ends in /manual_time
    {"threads:1/", "02"},
    {"element:float|heap:aged", "12"},
    {"[[:digit:]]x[[:digit:]]", "0123"},
    {"(", ""},   // does not compile
    {"-(", ""},  // nor does its negation
    {"\\d", ""}, // no escape of Perl's in an extended expression
    {"a{,2}", ""},
};

std::string selected(const std::string& filter) {
  std::string found;
  for (std::size_t n = 0; n < std::size(kNames); ++n)
    if (filterSelects(filter, kNames[n] + std::string("/manual_time")))
      found += std::to_string(n);
  return found;
}

#ifdef VOXGRID_HAVE_BENCHMARK
// What Google Benchmark itself runs under a filter, by index in kNames: each
// case skips at once, and the reporter takes its name.
struct Names : benchmark::BenchmarkReporter {
  std::set<std::string> ran;
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      ran.insert(r.benchmark_name());
  }
};

std::string benchmarkSelects(const std::string& filter) {
  static const bool registered = [] {
    for (const char* name : kNames)
      benchmark::RegisterBenchmark(name, [](benchmark::State& s) {
        s.SkipWithError("listed");
      })->UseManualTime();
    return true;
  }();
  (void)registered;
  Names names;
  std::ostringstream said; // "Failed to match", "Could not compile"
  names.SetErrorStream(&said);
  names.SetOutputStream(&said);
  benchmark::RunSpecifiedBenchmarks(&names, filter);
  std::string found;
  for (std::size_t n = 0; n < std::size(kNames); ++n)
    if (names.ran.count(kNames[n] + std::string("/manual_time")) != 0)
      found += std::to_string(n);
  return found;
}
#endif

TEST(CaseFilter, SelectsWhatGoogleBenchmarkRuns) {
  for (const auto& [filter, expected] : kFilters) {
    EXPECT_EQ(selected(filter), expected) << filter;
#ifdef VOXGRID_HAVE_BENCHMARK
    EXPECT_EQ(benchmarkSelects(filter), expected) << filter << " in Google Benchmark";
#endif
  }
}

// Hand-made cases: one of each kind that expansion treats apart.
const Case kCases[] = {
    {"plain", nullptr, kSweeps},
    {"huge", nullptr, kHugePages},
    {"int_steps", nullptr, kIntIndex},
    {"team", nullptr, kOwnTeam},
    {"plain", nullptr, kSweeps, nullptr, ElementType::kFloat},
    {"wide", nullptr, kPlain, nullptr, ElementType::kDouble}, // an element not asked for
};

TEST(ExpandCases, NamesEachCaseAsTheReportReadsItAndSaysWhatCannotRun) {
  Options o;
  o.shapes = parseShapes("2x2x2,65536x32768x1"); // the second past 2^31 - 1 elements
  o.heaps = parseHeaps("aged", 0.5);
  o.sweeps = parseSweeps("sum", 3);
  o.elements[static_cast<int>(ElementType::kFloat)] = true;
  const std::vector<Case> cases(std::begin(kCases), std::end(kCases));
  const Expansion e = expandCases(cases, o, "never", 2);
  std::vector<std::string> names;
  for (const Instance& in : e.instances) {
    names.push_back(in.name);
    const std::size_t at = in.name.find("/threads:");
    EXPECT_EQ(in.threads, at == std::string::npos ? 0 : std::stoi(in.name.substr(at + 9)));
    EXPECT_EQ(in.plan.any(), in.c->sweeps()) << in.name;
  }
  EXPECT_THAT(
      names,
      testing::ElementsAre(
          "plain/shape:2x2x2/heap:aged/threads:1", "plain/shape:2x2x2/heap:aged/threads:2",
          "int_steps/shape:2x2x2/heap:aged/threads:1", "int_steps/shape:2x2x2/heap:aged/threads:2",
          "team/shape:2x2x2/heap:aged", "plain/shape:2x2x2/element:float/heap:aged/threads:1",
          "plain/shape:2x2x2/element:float/heap:aged/threads:2",
          "plain/shape:65536x32768x1/heap:aged/threads:1",
          "plain/shape:65536x32768x1/heap:aged/threads:2", "team/shape:65536x32768x1/heap:aged",
          "plain/shape:65536x32768x1/element:float/heap:aged/"
          "threads:1",
          "plain/shape:65536x32768x1/element:float/heap:aged/"
          "threads:2"));
  ASSERT_EQ(e.notRun.size(), 2u);
  EXPECT_EQ(e.notRun[0], std::make_pair(std::string("huge"),
                                        std::string("not run: transparent huge pages are never")));
  EXPECT_EQ(e.notRun[1].first, "int_steps");
  EXPECT_THAT(e.notRun[1].second, testing::StartsWith("not run at 65536x32768x1: "));
  // Where the kernel gives huge pages, the case runs, and nothing is said of it.
  for (const auto& [thp, given] : {std::pair("always", 4u), {"madvise", 4u}, {"unavailable", 0u}}) {
    const Expansion x = expandCases(cases, o, thp, 2);
    EXPECT_EQ(x.instances.size(), e.instances.size() + given) << thp;
    EXPECT_EQ(x.notRun.size(), given > 0 ? 1u : 2u) << thp;
  }
}

TEST(ExpandCases, TeamSizesAreOneThePowersOfTwoBelowAndAll) {
  const std::pair<int, std::vector<int>> counts[] = {
      {1, {1}}, {2, {1, 2}}, {6, {1, 2, 4, 6}}, {8, {1, 2, 4, 8}}};
  for (const auto& [procs, expected] : counts)
    EXPECT_EQ(threadCounts(procs), expected) << procs;
}

// Each of the suite's flags, read from its help, given with no value.
TEST(Options, EveryFlagInTheHelpNeedsAValueAndNoOtherNameIsTakenForIt) {
  std::vector<std::string> flags;
  std::istringstream help(suiteFlagsHelp());
  for (std::string line; std::getline(help, line);)
    if (line.rfind("  --", 0) == 0)
      flags.push_back(line.substr(2, line.find('=') - 2));
  EXPECT_GE(flags.size(), 2u) << suiteFlagsHelp();
  EXPECT_EQ(std::set<std::string>(flags.begin(), flags.end()).size(), flags.size());
  const auto parse = [](std::string arg) {
    std::string exe = "voxgrid-suite";
    char* argv[] = {exe.data(), arg.data()};
    return parseOptions(2, argv);
  };
  for (const std::string& flag : flags) {
    try {
      parse(flag);
      ADD_FAILURE() << flag << " taken with no value";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(e.what(), flag + " needs a value (" + flag + "=...); see --help");
    }
    // A longer name is not this flag: it goes on to Google Benchmark.
    EXPECT_EQ(parse(flag + "x=1").benchmarkArgs.back(), flag + "x=1");
  }
}

// Google Benchmark's boolean flags as it reads them: a list-only run takes no samples.
TEST(Options, LastFlagReadsABooleanAsGoogleBenchmarkDoes) {
  const std::pair<std::vector<std::string>, bool> table[] = {
      {{}, false},
      {{"--benchmark_list_tests"}, true},
      {{"--benchmark_list_tests=TRUE"}, true},
      {{"--benchmark_list_tests=1"}, true},
      {{"--benchmark_list_tests=false"}, false},
      {{"--benchmark_list_tests", "--benchmark_list_tests=no"}, false},
      {{"--benchmark_list_testsx"}, false},
  };
  for (const auto& [args, set] : table) {
    EXPECT_EQ(lastFlag(args, "benchmark_list_tests"), set) << testing::PrintToString(args);
  }
}

// Each round is a permutation, the same on every run; each shuffles the one before.
TEST(RoundOrders, EachRoundShufflesTheOneBeforeFromAFixedSeed) {
  for (const std::size_t n : {0, 1, 2, 8}) {
    const auto orders = roundOrders(n, 6);
    ASSERT_EQ(orders.size(), 6u);
    EXPECT_EQ(orders, roundOrders(n, 6));
    for (std::vector<std::size_t> order : orders) {
      std::sort(order.begin(), order.end());
      std::vector<std::size_t> all(n);
      std::iota(all.begin(), all.end(), std::size_t{0});
      EXPECT_EQ(order, all) << n;
    }
  }
  const auto orders = roundOrders(8, 6);
  EXPECT_EQ(std::set<std::vector<std::size_t>>(orders.begin(), orders.end()).size(), 6u);
  // The same draws shuffling the identity each round give the moves; the
  // rounds are those moves applied to the round before, not the moves alone.
  SeededRandom random(kOrderSeed);
  std::vector<std::size_t> before(8);
  std::iota(before.begin(), before.end(), std::size_t{0});
  bool composed = false;
  for (const std::vector<std::size_t>& round : orders) {
    std::vector<std::size_t> move(8);
    std::iota(move.begin(), move.end(), std::size_t{0});
    for (std::size_t n = 0; n + 1 < move.size(); ++n)
      std::swap(move[n], move[n + random.below(move.size() - n)]);
    std::vector<std::size_t> expected(8);
    for (std::size_t n = 0; n < 8; ++n)
      expected[n] = before[move[n]];
    EXPECT_EQ(round, expected);
    composed = composed || round != move;
    before = round;
  }
  EXPECT_TRUE(composed);
}

// A repetition from 2 or 3 samples: the step times are the median sample's, by
// its time; each sweep, the median of the samples' own; the program's sweep
// and the load roof only where every sample ran them, the roof's GB/s from
// the median of the samples' passes over the grid's 4000 bytes.
struct Taken {
  double build, fill, release, sum, added, roof; // ns; added, roof -1: not run
};
struct RepetitionRow {
  std::vector<Taken> samples;
  double build, fill, release, sum, added, roofGbs; // ns; added, roofGbs -1: no counter
};

const RepetitionRow kRepetitions[] = {
    {{{1, 8, 1, 50, 2, 400}, {5, 1, 1, 10, 3, 100}, {9, 9, 9, 30, 9, 200}}, 1, 8, 1, 30, 3, 20},
    {{{1, 8, 1, 50, 2, 40}, {5, 1, 1, 10, -1, -1}, {9, 9, 9, 30, 9, 80}}, 1, 8, 1, 30, -1, -1},
    {{{1, 8, 1, 50, 2, 100}, {9, 9, 9, 30, 9, 300}}, 5, 8.5, 5, 40, 5.5, 20},
    {{{9, 9, 9, 30, -1, -1}, {1, 8, 1, 50, 2, -1}}, 5, 8.5, 5, 40, -1, -1},
};

TEST(RepetitionOf, TakesTheMedianSampleAndEachSweepsMedian) {
  ASSERT_FALSE(addedSweeps().empty()); // the tests' own, in test_layouts.cpp
  const std::string added = std::string(addedSweeps()[0].name) + "_ms";
  const Case c{"plain", nullptr, kSweeps};
  SweepPlan plan = parseSweeps("sum", 3);
  plan.added.assign(addedSweeps().size(), true);
  const Instance in{"plain", &c, Shape{10, 10, 10}, 1, plan, HeapPlan{}, {}, false, 0};
  for (const RepetitionRow& row : kRepetitions) {
    std::vector<Sample> samples;
    for (const Taken& t : row.samples) {
      Sample s;
      s.ns[kBuild] = t.build, s.ns[kFill] = t.fill, s.ns[kRelease] = t.release;
      s.ns[kSum] = t.sum;
      s.added.assign(addedSweeps().size(), t.added);
      s.roofNs[kRoofLoad] = t.roof;
      samples.push_back(s);
    }
    const Repetition r = repetitionOf(in, samples);
    std::map<std::string, double> ms(r.counters.begin(), r.counters.end());
    SCOPED_TRACE(testing::PrintToString(ms));
    EXPECT_DOUBLE_EQ(ms["build_ms"], row.build * 1e-6);
    EXPECT_DOUBLE_EQ(ms["fill_ms"], row.fill * 1e-6);
    EXPECT_DOUBLE_EQ(ms["release_ms"], row.release * 1e-6);
    EXPECT_DOUBLE_EQ((ms["build_ms"] + ms["fill_ms"] + ms["release_ms"]) * 1e-3, r.seconds);
    EXPECT_DOUBLE_EQ(ms["sum_ms"], row.sum * 1e-6);
    EXPECT_EQ(ms.count("stencil_ms"), 0u); // not asked for
    EXPECT_EQ(ms.count(added), row.added >= 0 ? 1u : 0u);
    if (row.added >= 0) {
      EXPECT_DOUBLE_EQ(ms[added], row.added * 1e-6);
    }
    EXPECT_EQ(ms.count("sum_bytes"), 1u);
    EXPECT_EQ(ms.count("roof_load_gbs"), row.roofGbs >= 0 ? 1u : 0u);
    if (row.roofGbs >= 0) {
      EXPECT_DOUBLE_EQ(ms["roof_load_gbs"], row.roofGbs);
    }
    EXPECT_EQ(ms.count("roof_copy_gbs"), 0u); // no sample measured it
  }
}

// What one pass must move, worked by hand at two odd shapes: 37x53x11 int32
// (21571 elements, 86284 bytes) and 3x1x500 double (1500 elements, 12000
// bytes), gathers of 1000 and 2000 points (64000 and 128000 bytes of lines),
// with the last-level cache unknown (-1) or holding the grid (1 MiB).
struct BytesRow {
  double grid, points, llc;
  bool streaming;
  double sum, stencil, lines, gather;
};
const BytesRow kBytes[] = {
    {86284, 1000, -1, false, 86284, 258852, 86284, 64000},
    {86284, 2000, -1, false, 86284, 258852, 86284, 128000},
    {86284, 2000, 1 << 20, true, 86284, 172568, 86284, 86284},
    {86284, 1000, 1 << 20, true, 86284, 172568, 86284, 64000},
    {12000, 1000, 1 << 20, false, 12000, 36000, 12000, 12000},
    {12000, 1000, 8192, false, 12000, 36000, 12000, 64000}, // a grid over the cache
};

TEST(PassBytes, EachSweepsCompulsoryTraffic) {
  for (const BytesRow& r : kBytes) {
    SCOPED_TRACE(testing::Message() << r.grid << " bytes, " << r.points << " points, llc " << r.llc
                                    << (r.streaming ? ", streaming" : ""));
    EXPECT_EQ(passBytes(kSum, r.grid, r.points, r.llc, r.streaming), r.sum);
    EXPECT_EQ(passBytes(kStencil, r.grid, r.points, r.llc, r.streaming), r.stencil);
    EXPECT_EQ(passBytes(kLinesJ, r.grid, r.points, r.llc, r.streaming), r.lines);
    EXPECT_EQ(passBytes(kLinesI, r.grid, r.points, r.llc, r.streaming), r.lines);
    EXPECT_EQ(passBytes(kGather, r.grid, r.points, r.llc, r.streaming), r.gather);
  }
  // Through a repetition, as the report reads them: the grid's bytes, not the
  // layout's, and the ceiling's streaming stencil at 2 x.
  const Case layout{"plain", nullptr, kSweeps, nullptr, ElementType::kDouble};
  const Case ceiling{"ceiling", nullptr, kSweeps | kCeiling};
  const SweepPlan plan = parseSweeps("sum,stencil", 1);
  for (const auto& [c, shape, sum, stencil] :
       {std::make_tuple(&layout, Shape{3, 1, 500}, 12000.0, 36000.0),
        std::make_tuple(&ceiling, Shape{37, 53, 11}, 86284.0, 172568.0)}) {
    const Instance in{c->name, c, shape, 1, plan, HeapPlan{}, {}, false, 0};
    Sample s;
    s.ns[kSum] = s.ns[kStencil] = 1000;
    const Repetition r = repetitionOf(in, {s});
    std::map<std::string, double> counted(r.counters.begin(), r.counters.end());
    EXPECT_EQ(counted["sum_bytes"], sum) << c->name;
    EXPECT_EQ(counted["stencil_bytes"], stencil) << c->name;
    EXPECT_EQ(counted.count("lines_j_bytes"), 0u) << c->name; // not asked for
  }
}

} // namespace
} // namespace voxgrid
