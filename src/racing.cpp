#include "racing.h"

#include <voxgrid/detail/sample.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

namespace voxgrid {

namespace {

constexpr double kLevel = 0.95;

// {round: cost} of one contender in one use, or nothing where it has no cost there.
std::optional<std::map<int, double>> spans(const Contender& c, const Use& use) {
  if (c.total.empty()) {
    return std::nullopt;
  }
  const std::vector<double>* passes = nullptr;
  if (!use.sweep.empty()) {
    const auto found = c.sweeps.find(use.sweep);
    if (found == c.sweeps.end()) {
      return std::nullopt;
    }
    passes = &found->second;
  }
  std::map<int, double> out;
  for (std::size_t n = 0; n < c.total.size(); ++n) {
    out[c.rounds[n]] = c.total[n] + (passes ? use.passes * (*passes)[n] : 0.0);
  }
  return out;
}

double medianCost(const std::map<int, double>& costs) {
  std::vector<double> v(costs.size());
  std::transform(costs.begin(), costs.end(), v.begin(), [](const auto& kv) { return kv.second; });
  return medianOf(v);
}

// How a case compares with a use's choice: told apart beyond the margin; a
// tie only because the interval reaches 1, its median beyond the margin; and
// whether the rounds left may still change its mark.
struct Mark {
  bool out = false;
  bool undecided = false;
  bool open = false;
};

Mark markOf(const std::map<int, double>& cost, const std::map<int, double>& best, bool bothRunning,
            const RaceRule& rule) {
  std::vector<double> ratios;
  for (const auto& [round, value] : cost) {
    const auto b = best.find(round);
    if (b != best.end() && b->second > 0) {
      ratios.push_back(value / b->second);
    }
  }
  const int pairs = static_cast<int>(ratios.size());
  if (pairs < rule.minRounds) {
    return {false, bothRunning};
  }
  std::sort(ratios.begin(), ratios.end());
  const double median = medianOf(ratios);
  const double low = ratios[static_cast<std::size_t>(intervalRank(pairs) - 1)];
  const bool beyond = median > 1 + rule.margin;
  Mark m;
  m.out = beyond && low > 1;
  m.undecided = beyond && !m.out;
  // Where the limit's rounds would narrow the interval off 1, the tie is not yet settled.
  const double projected =
      median - (median - low) * std::sqrt(static_cast<double>(pairs) / rule.limit);
  m.open = bothRunning && pairs < rule.limit && m.undecided && projected > 1;
  return m;
}

} // namespace

std::string useName(const Use& use) {
  return use.sweep.empty() ? "create" : use.sweep + "@" + std::to_string(use.passes);
}

int intervalRank(int n) {
  const double half = n * std::log(0.5);
  int k = 1;
  double tail = std::exp(half); // P(B <= j-1), from j = 1
  for (int j = 2; j <= (n + 1) / 2; ++j) {
    tail += std::exp(std::lgamma(n + 1.0) - std::lgamma(j) - std::lgamma(n - j + 2.0) + half);
    if (1 - 2 * tail < kLevel) {
      break;
    }
    k = j;
  }
  return k;
}

std::vector<Standing> standings(const std::vector<Contender>& contenders, const RaceRule& rule) {
  std::vector<Standing> out(contenders.size());
  std::map<std::string, std::vector<std::size_t>> groups;
  for (std::size_t n = 0; n < contenders.size(); ++n) {
    if (!contenders[n].reference && !contenders[n].total.empty()) {
      groups[contenders[n].group].push_back(n);
    }
  }
  for (const auto& [group, members] : groups) {
    if (members.size() < 2) {
      continue;
    }
    std::vector<Use> uses{Use{}};
    for (const std::size_t n : members) {
      for (const auto& kv : contenders[n].sweeps) {
        for (const int passes : kCostPasses) {
          const Use use{kv.first, passes};
          if (std::find(uses.begin(), uses.end(), use) == uses.end()) {
            uses.push_back(use);
          }
        }
      }
    }
    std::map<std::size_t, bool> outEverywhere;
    for (const std::size_t n : members) {
      out[n].judged = true;
      outEverywhere[n] = true;
    }
    for (const Use& use : uses) {
      std::vector<std::pair<std::size_t, std::map<int, double>>> rows;
      for (const std::size_t n : members) {
        if (auto costs = spans(contenders[n], use)) {
          rows.emplace_back(n, std::move(*costs));
        }
      }
      if (rows.size() < 2) {
        continue;
      }
      const auto best =
          std::min_element(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
            return medianCost(a.second) < medianCost(b.second);
          });
      const Contender& chosen = contenders[best->first];
      outEverywhere[best->first] = false;
      bool anyOpen = false;
      bool anyUndecided = false;
      for (const auto& [n, costs] : rows) {
        if (n == best->first) {
          continue;
        }
        const Mark m = markOf(costs, best->second, contenders[n].running && chosen.running, rule);
        outEverywhere[n] = outEverywhere[n] && m.out;
        if (m.open) {
          out[n].open.push_back(use);
          anyOpen = true;
        }
        if (m.undecided) {
          out[n].undecided.push_back(use);
          anyUndecided = true;
        }
      }
      if (anyOpen) {
        out[best->first].open.push_back(use);
      }
      if (anyUndecided) {
        out[best->first].undecided.push_back(use);
      }
    }
    for (const auto& [n, every] : outEverywhere) {
      out[n].out = every;
    }
  }
  return out;
}

} // namespace voxgrid
