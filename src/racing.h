#ifndef VOXGRID_RACING_H
#define VOXGRID_RACING_H

#include <map>
#include <string>
#include <vector>

namespace voxgrid {

// The rule that decides which cases a run still needs to sample: a race, as
// in algorithm configuration. Each use of a grid is a decision among the
// cases of a group (a shape, element type, heap and team): made once (the
// creation alone) or swept N times (the creation plus N passes), for each
// sweep and each N of the report's cost table. The report chooses the case
// of lowest median cost and counts another as good as it where the interval
// of their paired ratio reaches 1 or the median ratio is within the margin.
// A case's mark in a use can still change while it is a tie that the rounds
// left to the limit would likely tell apart: its interval, narrowed as a
// median's interval narrows, by sqrt(rounds / limit), would no longer reach 1.
// Such a use is open (as is any with fewer paired rounds than the minimum); a
// case is needed while any use of its is open, and the choice of a use is
// needed while any other case's mark there is open. Cases that stopped, or
// failed, gain no rounds: nothing against them is open.

// The sweep counts of the report's cost table.
inline const std::vector<int> kCostPasses = {1, 10, 100, 1000};
// A median cost within this share of the choice's counts as good as the choice.
constexpr double kTieMargin = 0.03;
// The rounds before any case stops. 6 paired rounds are the fewest whose
// ratio interval covers 95 % ([min, max], 96.9 %), but on huge pages, whose
// creation is bimodal here, a case's first rounds can all fall in the slow
// mode: replayed, the committed runs disagreed with their full verdicts in 5
// cells when racing from 6 and in none from 8.
constexpr int kMinRaceRounds = 8;

// One case as the race sees it: its cost in each round that sampled it.
struct Contender {
  std::string name;
  std::string group;         // the cases it is judged against share it
  bool reference = false;    // a floor or ceiling: never judged, sampled every round
  bool running = true;       // false once failed or stopped: its comparisons gain no rounds
  std::vector<int> rounds;   // the round of each cost below, rising
  std::vector<double> total; // ms: build, fill and release
  std::map<std::string, std::vector<double>> sweeps; // ms per pass, by counter name, per round
};

// A use: made once (no sweep, passes 0), or a sweep's passes.
struct Use {
  std::string sweep;
  int passes = 0;
  bool operator==(const Use& o) const { return sweep == o.sweep && passes == o.passes; }
};
// "create", "lines_i_ms@100": how a run's context writes a use.
std::string useName(const Use& use);

struct RaceRule {
  int limit = 15; // the rounds a case may take at most
  double margin = kTieMargin;
  int minRounds = kMinRaceRounds;
};

// Where one case stands after the rounds so far.
struct Standing {
  bool judged = false;   // it takes part in a decision: a layout with costs, beside another
  bool out = false;      // told apart from the choice, beyond the margin, in every use
  std::vector<Use> open; // the uses where more rounds may change a mark it takes part in
  // The uses where it, or another against it as the choice, is a tie only
  // because the interval reaches 1 while the median ratio is beyond the
  // margin: this run has not decided them, whatever its rounds.
  std::vector<Use> undecided;
};

// Each contender's standing, in their order. Pure: the same costs, the same answer.
std::vector<Standing> standings(const std::vector<Contender>& contenders, const RaceRule& rule);

// The median's order-statistic interval of n values at 95 %: the 1-based rank
// k of [x(k), x(n+1-k)], the largest whose coverage, 1 - 2 P(B <= k-1) for
// B ~ Binomial(n, 1/2), reaches 95 %; 1 ([min, max]) below 6 values.
int intervalRank(int n);

} // namespace voxgrid

#endif
