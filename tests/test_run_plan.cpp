// What the suite plans before a run: the memory a sample needs, the verdict
// against the limits, and the progress line while it runs.

#include "memory_plan.h"
#include "progress.h"
#include "sweep_flags.h"

#include <voxgrid/detail/sweep_plan.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace voxgrid {
namespace {

constexpr std::int64_t MB = 1000 * 1000;

// A sample's peak, part by part, over shapes, sweeps, heaps and the cases that do not sweep.
struct NeedRow {
  Shape shape;
  const char* sweeps;
  bool sweeping;
  bool aged;
  std::int64_t grid, output, aging, points; // bytes
  std::optional<std::int64_t> stated = {};  // what the layout says its grid takes
};

const NeedRow kNeeds[] = {
    // 128 MB of ints, 320,000 rows at 48 B and 400 slices at 32 B.
    {{400, 800, 100}, "sum,stencil", true, false, 143372800, 143372800, 0, 0},
    {{400, 800, 100}, "none", true, false, 143372800, 0, 0, 0},
    {{400, 800, 100}, "all", false, false, 143372800, 0, 0, 0}, // a floor: no sweeps
    // The aging: the grid's bytes, and 24 B for each of 246,154 blocks; 4,000,000 points of 12 B.
    {{400, 800, 100}, "all", true, true, 143372800, 143372800, 133907696, 48000000},
    {{400, 800, 100}, "sum,gather", true, true, 143372800, 0, 133907696, 48000000},
    // A small grid reads one point per element.
    {{10, 10, 10}, "gather", true, false, 4000 + 4800 + 320, 0, 0, 12000},
    {{1, 1, 1}, "all", true, true, 4 + 48 + 32, 4 + 48 + 32, 4 + 24, 12},
    // A layout that states its bytes is taken at its word, output included.
    {{400, 800, 100}, "stencil", true, false, 7 * MB, 7 * MB, 0, 0, 7 * MB},
};

TEST(SampleNeed, CountsEveryPartOfASample) {
  for (const NeedRow& r : kNeeds) {
    SCOPED_TRACE(shapeName(r.shape) + " " + r.sweeps + (r.aged ? " aged" : ""));
    const SampleNeed need =
        sampleNeed(r.shape, parseSweeps(r.sweeps, 3), r.sweeping, r.aged, r.stated);
    EXPECT_EQ(need.grid, r.grid);
    EXPECT_EQ(need.output, r.output);
    EXPECT_EQ(need.aging, r.aging);
    EXPECT_EQ(need.points, r.points);
    EXPECT_EQ(need.total(), r.grid + r.output + r.aging + r.points);
  }
  SampleNeed need = sampleNeed({400, 800, 100}, parseSweeps("all", 3), true, true);
  EXPECT_EQ(needText(need),
            "grid 143 MB + stencil's output 143 MB + heap aging 134 MB + gather's points 48 MB");
  need.estimated = true;
  EXPECT_EQ(needText(need).substr(0, 24), "grid 143 MB estimated + ");
}

// Given the limits, not read from this machine: the least decides, and 20 % is close.
struct LimitRow {
  std::int64_t need;
  std::vector<MemoryLimit> limits;
  Verdict verdict;
  const char* least; // nullptr: no limit
};

const LimitRow kLimits[] = {
    {287 * MB, {{"available memory", 22 * 1000 * MB}}, Verdict::kFits, "available memory"},
    {287 * MB,
     {{"available memory", 22 * 1000 * MB}, {"RLIMIT_AS", 96 * MB}},
     Verdict::kRefused,
     "RLIMIT_AS"},
    {287 * MB,
     {{"cgroup v2", 300 * MB}, {"available memory", 900 * MB}},
     Verdict::kClose,
     "cgroup v2"},
    {240 * MB, {{"cgroup v1", 300 * MB}}, Verdict::kFits, "cgroup v1"},
    {241 * MB, {{"cgroup v1", 300 * MB}}, Verdict::kClose, "cgroup v1"},
    {301 * MB, {{"cgroup v1", 300 * MB}}, Verdict::kRefused, "cgroup v1"},
    {287 * MB, {{"cgroup v2", 0}}, Verdict::kRefused, "cgroup v2"},
    {287 * MB, {}, Verdict::kFits, nullptr}, // nothing readable: nothing to refuse on
};

TEST(MemoryCheck, TheLeastLimitDecidesAndAMarginWarns) {
  for (const LimitRow& r : kLimits) {
    SCOPED_TRACE(limitsText(r.limits) + ", need " + bytesText(r.need));
    const MemoryCheck check = checkMemory(r.need, r.limits);
    EXPECT_EQ(check.verdict, r.verdict);
    ASSERT_EQ(check.least.has_value(), r.least != nullptr);
    if (r.least != nullptr) {
      EXPECT_EQ(check.least->name, r.least);
    }
  }
  EXPECT_EQ(limitsText({}), "no limit could be read");
  EXPECT_EQ(limitsText({{"available memory", 22900 * MB}, {"RLIMIT_AS", 96 * MB}}),
            "available memory 22.9 GB, RLIMIT_AS 96 MB");
}

TEST(Progress, ModesLinesAndDurations) {
  const std::pair<const char*, ProgressMode> modes[] = {
      {"auto", ProgressMode::kLines}, {"on", ProgressMode::kInPlace}, {"off", ProgressMode::kOff}};
  for (const auto& m : modes)
    EXPECT_EQ(parseProgress(m.first, false), m.second) << m.first;
  EXPECT_EQ(parseProgress("auto", true), ProgressMode::kInPlace);
  EXPECT_THROW(parseProgress("yes", true), std::invalid_argument);
  for (const auto& d : std::vector<std::pair<double, const char*>>{
           {0.2, "0 s"}, {59.4, "59 s"}, {65, "1 min 05 s"}, {3725, "1 h 02 min"}})
    EXPECT_EQ(durationText(d.first), d.second);

  // Off a terminal: one line per round as it starts, none per case, and an
  // estimate of what is left once a round has run.
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  Progress p(ProgressMode::kLines, 2, 2, 4, out);
  p.startRound(1);
  p.startCase("a/threads:1");
  p.sampleDone();
  p.startCase("b/threads:1");
  p.sampleDone();
  p.clear(); // nothing to take back off a file
  p.startRound(2);
  p.startCase("b/threads:1");
  std::rewind(out);
  char text[512] = {};
  const std::size_t n = std::fread(text, 1, sizeof text - 1, out);
  std::fclose(out);
  const std::string lines(text, n);
  EXPECT_EQ(lines, "voxgrid-suite: round 1 of 2: 0 s so far\n"
                   "voxgrid-suite: round 2 of 2: 0 s so far, about 0 s left\n");
  EXPECT_EQ(p.line(), "voxgrid-suite: round 2 of 2: 0 s so far, about 0 s left");
  // On a terminal the line names the case within its round.
  std::FILE* screen = std::tmpfile();
  ASSERT_NE(screen, nullptr);
  Progress shown(ProgressMode::kInPlace, 2, 2, 4, screen);
  shown.startRound(1);
  shown.startCase("a/threads:1");
  EXPECT_EQ(shown.line(), "voxgrid-suite: round 1 of 2, case 1 of 2, a/threads:1: 0 s so far");
  std::fclose(screen);
}

} // namespace
} // namespace voxgrid
