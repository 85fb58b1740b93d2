#ifndef VOXGRID_RACE_H
#define VOXGRID_RACE_H

#include "instance.h"
#include "racing.h"

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace voxgrid {

// A run's rounds under the racing rule (racing.h): which cases each round
// samples, when the run ends, and why each case stopped. The live run and
// the replay of a finished run's samples go through the same steps.

struct RaceSettings {
  bool on = true;       // false: every case takes every round
  RaceRule rule;        // rule.limit: the rounds the run may take
  double timeLimit = 0; // seconds; past it the run ends after its round; 0: none
};

// Why a case stopped being sampled.
extern const char* const kOutOfEvery; // told apart from every choice it faced
extern const char* const kDecided;    // nothing more rounds could change
extern const char* const kRoundLimit; // the limit came first
extern const char* const kTimeLimit;  // --time-limit came first
extern const char* const kFailed;     // a sample failed
extern const char* const kEveryRound; // a floor or ceiling, or --race=off

struct RaceEnd {
  std::string why; // empty while it runs
  int rounds = 0;  // the rounds it was sampled in
  // The uses it left undecided: where, when the rounds ran out, it was open
  // (racing.h) and, after the last, still a tie only by the interval.
  std::vector<Use> undecided;
};

class Race {
public:
  Race(std::vector<Contender> contenders, const RaceSettings& settings);
  // Whether the round about to start samples contender n.
  bool sampling(std::size_t n) const { return contenders_[n].running; }
  // The cost one round measured: total and each sweep's pass, in ms.
  void record(std::size_t n, int round, double totalMs,
              const std::map<std::string, double>& sweeps);
  void fail(std::size_t n);
  // After round `round` (from 1), `elapsed` seconds into the run: stops the
  // cases that are decided; false where the run ends with this round.
  bool endRound(int round, double elapsed);
  const std::vector<Contender>& contenders() const { return contenders_; }
  const RaceEnd& end(std::size_t n) const { return ends_[n]; }
  int rounds() const { return rounds_; }
  int decidedAt() const { return decidedAt_; }    // the round that decided everything, or 0
  const std::string& why() const { return why_; } // why the run ended
  const RaceSettings& settings() const { return settings_; }

private:
  void stop(std::size_t n, const char* why);
  void finish(int round, const std::string& why, const std::vector<Standing>& now,
              const std::function<std::vector<Use>(std::size_t)>& undecided);
  std::vector<Contender> contenders_;
  std::vector<RaceEnd> ends_;
  std::vector<std::vector<Use>> open_; // each one's open uses at the last round judged
  RaceSettings settings_;
  int rounds_ = 0;
  int decidedAt_ = 0;
  std::string why_;
};

// The run's cases as the race sees them, grouped as the report's verdict
// groups them: by shape, element type, heap and team, a case with a team of
// its own beside the widest team; floors and ceilings as references.
std::vector<Contender> contendersOf(const std::vector<Instance*>& selected);
// The cost of the instance's last round into the race, as the report reads it.
void recordLastRound(Race& race, std::size_t n, const Instance& in);

// The run's end in words: "every decision made after 9 of 15 rounds; floors
// and ceilings took 15", "the round limit after 15 of 15 rounds".
std::string raceSummary(const Race& race);
// One case's end, as the context keeps it: "ROUNDS;WHY;USE,USE".
std::string raceEntry(const RaceEnd& end);

} // namespace voxgrid

#endif
