// The race that decides which cases a run still samples: on synthetic costs,
// round by round as a run takes them, what each case took and why it stopped.

#include "race.h"
#include "racing.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

namespace voxgrid {
namespace {

// A case's costs: base ms for creation and each sweep, times a factor that
// follows the round (the host's slow stretches), from round `from` on.
struct Synthetic {
  const char* name;
  double create;
  std::map<std::string, double> sweeps; // ms per pass
  std::vector<double> wobble = {1.00, 1.04, 0.97, 1.02, 0.99, 1.01, 0.98};
  int failsIn = 0; // the round whose sample fails; 0: none
  bool reference = false;
};

struct Expected {
  const char* name;
  int rounds;
  const char* why;
  const char* undecided = ""; // the uses left undecided, as the context writes them
};

struct RaceCase {
  const char* what;
  std::vector<Synthetic> cases;
  std::vector<Expected> expected;
  const char* runWhy;
  bool on = true;
  double timeLimit = 0; // each round takes 10 s
};

// Each case of the run under one group; every round's costs, then the race's word.
class RaceTable : public testing::TestWithParam<RaceCase> {};

TEST_P(RaceTable, SamplesWhatCanStillChangeADecision) {
  const RaceCase& t = GetParam();
  std::vector<Contender> contenders;
  for (const Synthetic& s : t.cases) {
    Contender c;
    c.name = s.name;
    c.group = "400x800x100 int32 fresh 2";
    c.reference = s.reference;
    contenders.push_back(c);
  }
  RaceSettings settings;
  settings.on = t.on;
  settings.rule.limit = 15;
  settings.timeLimit = t.timeLimit;
  Race race(contenders, settings);
  for (int round = 1;; ++round) {
    for (std::size_t n = 0; n < t.cases.size(); ++n) {
      const Synthetic& s = t.cases[n];
      if (!race.sampling(n)) {
        continue;
      }
      if (round == s.failsIn) {
        race.fail(n);
        continue;
      }
      const double f = s.wobble[static_cast<std::size_t>(round) % s.wobble.size()];
      std::map<std::string, double> sweeps;
      for (const auto& [name, ms] : s.sweeps) {
        sweeps[name] = ms * f;
      }
      race.record(n, round, s.create * f, sweeps);
    }
    if (!race.endRound(round, 10.0 * round)) {
      break;
    }
  }
  EXPECT_EQ(raceSummary(race), t.runWhy);
  for (const Expected& e : t.expected) {
    std::size_t n = 0;
    while (n < t.cases.size() && t.cases[n].name != std::string(e.name)) {
      ++n;
    }
    ASSERT_LT(n, t.cases.size()) << e.name;
    EXPECT_EQ(raceEntry(race.end(n)), std::to_string(e.rounds) + ";" + e.why + ";" + e.undecided)
        << e.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Races, RaceTable,
    testing::Values(
        RaceCase{"a clear winner from the first rounds",
                 {{"fast", 10, {{"sum_ms", 1.0}}},
                  {"slow", 40, {{"sum_ms", 3.0}}},
                  {"floor", 5, {}, {1.0}, 0, true}},
                 {{"fast", 8, "decided"},
                  {"slow", 8, "out of every decision"},
                  {"floor", 15, "every round"}},
                 "every decision made after 8 of 15 rounds; floors and ceilings took 15"},
        // Within the margin at every N: as good as each other, nothing left open.
        RaceCase{"a tie that never separates",
                 {{"a", 10, {{"sum_ms", 1.0}}},
                  {"b", 10.1, {{"sum_ms", 1.01}}, {1.02, 0.98, 1.01, 0.99, 1.00, 1.03, 0.97}}},
                 {{"a", 8, "decided"}, {"b", 8, "decided"}},
                 "every decision made after 8 of 15 rounds"},
        // 8 % apart, while each wobbles 20 %: the interval would reach 1 at the
        // limit too, so the run spends no more rounds on them: a tie for this run.
        RaceCase{"a difference the limit's rounds cannot tell apart",
                 {{"a", 10, {}, {1.0, 1.2, 0.8, 1.1, 0.9, 1.15, 0.85}},
                  {"b", 10.8, {}, {0.8, 1.0, 1.2, 0.9, 1.1, 0.85, 1.15}}},
                 {{"a", 8, "decided"}, {"b", 8, "decided"}},
                 "every decision made after 8 of 15 rounds"},
        // 10 % apart, one round in nine 3 % the other way: a tie at 8 rounds that
        // the rounds up to the limit would tell apart, and do at 9.
        RaceCase{"a difference the later rounds tell apart",
                 {{"a", 10, {}, {1.0}},
                  {"b", 10, {}, {1.0, 1.10, 0.97, 1.12, 1.08, 1.15, 1.10, 1.09, 1.11, 1.06}}},
                 {{"a", 9, "decided"}, {"b", 9, "out of every decision"}},
                 "every decision made after 9 of 15 rounds"},
        // 9 % apart, one round in three level: each round leaves the tie
        // separable by the next, until the limit leaves it undecided.
        RaceCase{"a difference open until the round limit",
                 {{"a", 10, {}, {1.0}},
                  {"b",
                   10,
                   {},
                   {1.0, 1.10, 1.00, 1.12, 1.08, 1.00, 1.15, 1.10, 1.00, 1.11, 1.06, 1.00, 1.09,
                    1.13, 1.07, 1.10}}},
                 {{"a", 15, "the round limit", "create"}, {"b", 15, "the round limit", "create"}},
                 "the round limit after 15 of 15 rounds"},
        // Cheap to make and slow to sweep against the other way round: each
        // is chosen somewhere, so neither is out; the third is out everywhere.
        RaceCase{"a crossover in N",
                 {{"makes_fast", 5, {{"sum_ms", 2.0}}},
                  {"sweeps_fast", 50, {{"sum_ms", 1.0}}},
                  {"neither", 60, {{"sum_ms", 2.5}}}},
                 {{"makes_fast", 8, "decided"},
                  {"sweeps_fast", 8, "decided"},
                  {"neither", 8, "out of every decision"}},
                 "every decision made after 8 of 15 rounds"},
        // It wins the stencil only, and only just: it is kept for as long as
        // the stencil's decision is open.
        RaceCase{"a case that wins one sweep only",
                 {{"sums", 10, {{"sum_ms", 1.0}, {"stencil_ms", 3.3}}},
                  {"stencils",
                   10,
                   {{"sum_ms", 2.0}, {"stencil_ms", 3.0}},
                   {1.0, 1.03, 0.97, 1.02, 0.98, 1.01, 0.99}}},
                 {{"sums", 8, "decided"}, {"stencils", 8, "decided"}},
                 "every decision made after 8 of 15 rounds"},
        RaceCase{
            "a failed case",
            {{"fast", 10, {{"sum_ms", 1.0}}},
             {"broken", 12, {{"sum_ms", 1.2}}, {1.0}, 3},
             {"slow", 40, {{"sum_ms", 3.0}}}},
            {{"fast", 8, "decided"}, {"broken", 2, "failed"}, {"slow", 8, "out of every decision"}},
            "every decision made after 8 of 15 rounds"},
        RaceCase{"racing off",
                 {{"fast", 10, {{"sum_ms", 1.0}}}, {"slow", 40, {{"sum_ms", 3.0}}}},
                 {{"fast", 15, "every round"}, {"slow", 15, "every round"}},
                 "the round limit after 15 of 15 rounds",
                 false},
        // Past the time limit before the rounds a decision needs: nothing is
        // decided, and the report says it has too few rounds.
        RaceCase{"the time limit",
                 {{"fast", 10, {}}, {"slow", 11, {}, {1.2, 0.8, 1.0}}},
                 {{"fast", 3, "the time limit"}, {"slow", 3, "the time limit"}},
                 "the time limit after 3 of 15 rounds",
                 true,
                 25}),
    [](const testing::TestParamInfo<RaceCase>& info) {
      std::string name;
      for (const char* c = info.param.what; *c != '\0'; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      }
      return name;
    });

// The median's order-statistic interval: the ranks the report also uses.
TEST(IntervalRank, IsTheLargestWhoseCoverageReaches95Percent) {
  const std::map<int, int> ranks{{2, 1},  {5, 1},  {6, 1},  {9, 2},
                                 {10, 2}, {15, 4}, {20, 6}, {50, 18}};
  for (const auto& [n, k] : ranks) {
    EXPECT_EQ(intervalRank(n), k) << n << " values";
  }
}

} // namespace
} // namespace voxgrid
