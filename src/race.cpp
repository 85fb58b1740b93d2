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
    : contenders_(std::move(contenders)), ends_(contenders_.size()), settings_(settings) {}

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
  if (round >= settings_.rule.limit) {
    finish(round, kRoundLimit);
    return false;
  }
  if (settings_.timeLimit > 0 && elapsed >= settings_.timeLimit) {
    finish(round, kTimeLimit);
    return false;
  }
  if (!settings_.on || round < settings_.rule.minRounds) {
    return true;
  }
  const std::vector<Standing> now = standings(contenders_, settings_.rule);
  bool needed = false;
  for (std::size_t n = 0; n < contenders_.size(); ++n) {
    if (contenders_[n].reference || !contenders_[n].running || !now[n].judged) {
      continue;
    }
    if (now[n].open.empty()) {
      stop(n, now[n].out ? kOutOfEvery : kDecided);
    } else {
      needed = true;
    }
  }
  if (!needed) {
    finish(round, kAllDecided);
    return false;
  }
  return true;
}

void Race::finish(int round, const std::string& why) {
  rounds_ = round;
  why_ = why;
  for (std::size_t n = 0; n < contenders_.size(); ++n) {
    stop(n, contenders_[n].reference ? kEveryRound
            : why == kTimeLimit      ? kTimeLimit
            : settings_.on           ? kRoundLimit
                                     : kEveryRound);
  }
  const std::vector<Standing> last = standings(contenders_, settings_.rule);
  for (std::size_t n = 0; n < contenders_.size(); ++n) {
    ends_[n].undecided = last[n].undecided;
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
  for (const auto& [name, value] : r.counters) {
    const bool step = std::any_of(std::begin(kSteps), std::end(kSteps), [&](const StepInfo& s) {
      return !s.sweep && name == std::string(s.name) + "_ms";
    });
    if (!step && name.size() > 3 && name.compare(name.size() - 3, 3, "_ms") == 0) {
      sweeps[name] = value;
    }
  }
  race.record(n, static_cast<int>(in.rounds.size()), r.seconds * 1e3, sweeps);
}

std::string raceSummary(const Race& race) {
  return race.why() + " after " + std::to_string(race.rounds()) + " of " +
         std::to_string(race.settings().rule.limit) + " rounds";
}

std::string raceEntry(const RaceEnd& end) {
  std::string uses;
  for (const Use& use : end.undecided) {
    uses += (uses.empty() ? "" : ",") + useName(use);
  }
  return std::to_string(end.rounds) + ";" + end.why + ";" + uses;
}

} // namespace voxgrid
