#include "rounds.h"

#include <voxgrid/detail/seeded_random.h>

#include <algorithm>
#include <numeric>
#include <utility>

namespace voxgrid {

std::vector<std::vector<std::size_t>> roundOrders(std::size_t cases, int rounds) {
  SeededRandom random(kOrderSeed);
  std::vector<std::size_t> order(cases);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::vector<std::vector<std::size_t>> orders;
  for (int round = 1; round <= rounds; ++round) {
    for (std::size_t n = 0; n + 1 < order.size(); ++n) {
      std::swap(order[n], order[n + random.below(order.size() - n)]);
    }
    orders.push_back(order);
  }
  return orders;
}

void Failures::record(const std::string& name, const std::string& message) {
  if (byCase.emplace(name, message).second && first.empty()) {
    first = message;
  }
}

void takeEverySample(const std::vector<Instance*>& selected, int rounds, int samplesPerRound,
                     const TakeSample& take, Failures& failures, const RoundWatch& watch) {
  if (selected.empty()) {
    return;
  }
  Sample warm;
  take(*selected.front(), SweepPlan{}, warm);
  failures.clear(); // a failing case fails again in its own turn, and is reported there
  const std::vector<std::vector<std::size_t>> orders = roundOrders(selected.size(), rounds);
  for (int round = 1; round <= rounds; ++round) {
    watch.round(round);
    for (const std::size_t n : orders[static_cast<std::size_t>(round - 1)]) {
      Instance* in = selected[n];
      if (failures.has(in->name) || !watch.sampling(n)) {
        continue;
      }
      watch.startCase(in->name);
      std::vector<Sample> taken(static_cast<std::size_t>(samplesPerRound));
      const bool ok = std::all_of(taken.begin(), taken.end(), [&](Sample& sample) {
        return (!in->c->hugePages() || take(*in, SweepPlan{}, sample)) &&
               take(*in, in->plan, sample);
      });
      if (ok) {
        in->rounds.push_back(std::move(taken));
      }
      watch.caseDone(n, ok);
    }
    if (!watch.endRound(round)) {
      return;
    }
  }
}

} // namespace voxgrid
