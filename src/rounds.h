#ifndef VOXGRID_ROUNDS_H
#define VOXGRID_ROUNDS_H

#include "instance.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace voxgrid {

// The seed of the rounds' order: fixed, so a run can be repeated sample for sample.
constexpr std::uint64_t kOrderSeed = 0x726f756e64730aULL; // "rounds\n"

// The order in which each round takes the run's `cases` (indices into the
// run's list): round r shuffles round r-1's order afresh (Fisher-Yates from
// kOrderSeed), so that a slow stretch of the host spreads over every case and
// no case always follows the same one.
std::vector<std::vector<std::size_t>> roundOrders(std::size_t cases, int rounds);

// What ran and what failed over a run; the first failure is the one the run's
// last line names.
struct Failures {
  std::map<std::string, std::string> byCase;
  std::string first;
  void record(const std::string& name, const std::string& message);
  bool has(const std::string& name) const { return byCase.count(name) != 0; }
  void clear() {
    byCase.clear();
    first.clear();
  }
};

// Takes one sample of an instance under a plan; false when it failed (and was recorded).
using TakeSample = std::function<bool(const Instance&, const SweepPlan&, Sample&)>;
// Called as each round and each case starts, for the progress line, and
// asked which cases a round samples and whether the run goes on: the race.
struct RoundWatch {
  std::function<void(int round)> round = [](int) {};
  std::function<void(const std::string& name)> startCase = [](const std::string&) {};
  // Whether the round about to start samples the case at this index of `selected`.
  std::function<bool(std::size_t n)> sampling = [](std::size_t) { return true; };
  // The case at this index has taken its round's samples, or failed.
  std::function<void(std::size_t n, bool ok)> caseDone = [](std::size_t, bool) {};
  // After each round; false ends the run there.
  std::function<bool(int round)> endRound = [](int) { return true; };
};

// Every sample of the run, into each instance's rounds. One sample, not swept,
// comes first and is discarded: on a virtual machine the first pages a run
// touches after a pause cost far more. Each sample of a case on huge pages
// follows a discarded one of its own, since the host takes back huge pages
// left untouched for a few seconds: its figure is then, mostly, the
// back-to-back one a program that keeps making such grids sees. A case that
// fails is not sampled again, nor one the watch no longer samples. At most
// `rounds` rounds.
void takeEverySample(const std::vector<Instance*>& selected, int rounds, int samplesPerRound,
                     const TakeSample& take, Failures& failures, const RoundWatch& watch = {});

} // namespace voxgrid

#endif
