#include "race.h"

#include "counters.h"
#include "shape_list.h"

#include <voxgrid/detail/steps.h>

#include <algorithm>
#include <utility>

namespace voxgrid {

const char* const kOutOfEvery = "out of every decision";
const char* const kDecided = "decided";
const char* const kRoundLimit = "the round limit";
const char* const kTimeLimit = "the time limit";
const char* const kFailed = "failed";
const char* const kEveryRound = "every round";

namespace {
const char* const kAllDecided = "every decision made";
} // namespace

Race::Race(std::vector<Contender> contenders, const RaceSettings& settings)
    : contenders_(std::move(contenders)), ends_(contenders_.size()), open_(contenders_.size()),
      settings_(settings) {}

void Race::record(std::size_t n, int round, double totalMs,
                  const std::map<std::string, double>& sweeps) {
  Contender& c = contenders_[n];
  c.rounds.push_back(round);
  c.total.push_back(totalMs);
  for (const auto& [name, ms] : sweeps) {
    c.sweeps[name].push_back(ms);
  }
  ends_[n].rounds = static_cast<int>(c.rounds.size());
}

void Race::fail(std::size_t n) { stop(n, kFailed); }

void Race::stop(std::size_t n, const char* why) {
  if (contenders_[n].running) {
    contenders_[n].running = false;
    ends_[n].why = why;
  }
}

bool Race::endRound(int round, double elapsed) {
  rounds_ = round;
  const bool timeUp = settings_.timeLimit > 0 && elapsed >= settings_.timeLimit;
  std::vector<Standing> now;
  if (round >= settings_.rule.minRounds || timeUp) {
    now = standings(contenders_, settings_.rule);
  }
  if (round >= settings_.rule.limit && decidedAt_ != 0) {
    finish(round, kAllDecided, now, [](std::size_t) { return std::vector<Use>{}; });
    return false;
  }
  if (round >= settings_.rule.limit) {
    // Left undecided by the limit: what the rounds up to it were to tell
    // apart, and the last of them did not.
    finish(round, kRoundLimit, now, [&](std::size_t n) {
      std::vector<Use> left;
      for (const Use& use : now[n].undecided) {
        if (std::find(open_[n].begin(), open_[n].end(), use) != open_[n].end()) {
          left.push_back(use);
        }
      }
      return left;
    });
    return false;
  }
  if (timeUp) {
    finish(round, decidedAt_ != 0 ? kAllDecided : kTimeLimit, now,
           [&](std::size_t n) { return now[n].open; });
    return false;
  }
  if (now.empty()) {
    return true;
  }
  bool needed = false;
  for (std::size_t n = 0; n < contenders_.size(); ++n) {
    open_[n] = contenders_[n].running ? now[n].open : std::vector<Use>{};
    if (!settings_.on || contenders_[n].reference || !contenders_[n].running || !now[n].judged) {
      needed = needed || !settings_.on;
      continue;
    }
    if (now[n].open.empty()) {
      stop(n, now[n].out ? kOutOfEvery : kDecided);
    } else {
      needed = true;
    }
  }
  if (needed || decidedAt_ != 0) {
    return true;
  }
  // The layouts are done with; floors and ceilings go on to the limit, so
  // that their intervals are those of a run that does not race.
  decidedAt_ = round;
  const bool references = std::any_of(contenders_.begin(), contenders_.end(),
                                      [](const Contender& c) { return c.running; });
  if (!references) {
    finish(round, kAllDecided, now, [](std::size_t) { return std::vector<Use>{}; });
  }
  return references;
}

void Race::finish(int round, const std::string& why, const std::vector<Standing>& now,
                  const std::function<std::vector<Use>(std::size_t)>& undecided) {
  rounds_ = round;
  why_ = why;
  for (std::size_t n = 0; n < contenders_.size(); ++n) {
    if (contenders_[n].running && !now.empty()) {
      ends_[n].undecided = undecided(n);
    }
    stop(n, contenders_[n].reference ? kEveryRound
            : why == kTimeLimit      ? kTimeLimit
            : settings_.on           ? kRoundLimit
                                     : kEveryRound);
  }
}

std::vector<Contender> contendersOf(const std::vector<Instance*>& selected) {
  int widest = 0;
  for (const Instance* in : selected) {
    widest = std::max(widest, in->threads);
  }
  std::vector<Contender> out;
  for (const Instance* in : selected) {
    Contender c;
    c.name = in->name;
    c.group = shapeName(in->shape) + " " + info(in->c->element).name +
              (in->heap.aged ? " aged " : " fresh ") +
              std::to_string(in->threads == 0 ? widest : in->threads);
    const std::string name = in->c->name;
    c.reference = name.rfind("floor/", 0) == 0 || name.rfind("bandwidth/", 0) == 0;
    out.push_back(std::move(c));
  }
  return out;
}

void recordLastRound(Race& race, std::size_t n, const Instance& in) {
  const Repetition r = repetitionOf(in, in.rounds.back());
  std::map<std::string, double> sweeps;
  for (const auto& counter : r.counters) {
    const std::string& name = counter.first;
    const bool step = std::any_of(std::begin(kSteps), std::end(kSteps), [&](const StepInfo& s) {
      return !s.sweep && name == std::string(s.name) + "_ms";
    });
    if (!step && name.size() > 3 && name.compare(name.size() - 3, 3, "_ms") == 0) {
      sweeps[name] = counter.second;
    }
  }
  race.record(n, static_cast<int>(in.rounds.size()), r.seconds * 1e3, sweeps);
}

std::string raceSummary(const Race& race) {
  const std::string limit = std::to_string(race.settings().rule.limit);
  if (race.decidedAt() != 0 && race.rounds() > race.decidedAt()) {
    return race.why() + " after " + std::to_string(race.decidedAt()) + " of " + limit +
           " rounds; floors and ceilings took " + std::to_string(race.rounds());
  }
  return race.why() + " after " + std::to_string(race.rounds()) + " of " + limit + " rounds";
}

std::string raceEntry(const RaceEnd& end) {
  std::string uses;
  for (const Use& use : end.undecided) {
    uses += (uses.empty() ? "" : ",") + useName(use);
  }
  return std::to_string(end.rounds) + ";" + end.why + ";" + uses;
}

} // namespace voxgrid
