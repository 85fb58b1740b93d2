#include "run_plan.h"

#include "memory_plan.h"
#include "sample_process.h"
#include "shape_list.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

namespace voxgrid {

SampleCount countSamples(const std::vector<Instance*>& selected, int rounds, int samplesPerRound) {
  SampleCount c;
  c.measured = static_cast<long>(selected.size()) * rounds * samplesPerRound;
  const long hugeCases = std::count_if(selected.begin(), selected.end(),
                                       [](const Instance* in) { return in->c->hugePages(); });
  c.total = c.measured + 1 + hugeCases * rounds * samplesPerRound;
  return c;
}

bool planRun(const std::vector<Instance*>& selected, int rounds, int samplesPerRound,
             const SampleCount& count, int leastRounds, double timeLimit) {
  const auto needOf = [](const Instance& in) {
    const Case& c = *in.c;
    SampleNeed need = sampleNeed(in.shape, in.plan, c.sweeps(), in.heap.aged,
                                 c.bytes ? std::optional(c.bytes(in.shape)) : std::nullopt,
                                 info(c.element).bytes, c.ceiling());
    need.estimated = c.added() && c.bytes == nullptr;
    return need;
  };
  const Instance* largest = selected.front();
  SampleNeed need = needOf(*largest);
  bool estimated = false; // a layout that states nothing makes the figure an estimate
  for (const Instance* in : selected) {
    const SampleNeed n = needOf(*in);
    estimated = estimated || n.estimated;
    if (n.total() > need.total()) {
      largest = in;
      need = n;
    }
  }
  need.estimated = estimated;
  const std::vector<MemoryLimit> limits = readMemoryLimits();
  const MemoryCheck check = checkMemory(need.total(), limits);
  const int fields = largest->shape.fields;
  const std::string needs = "a sample at " + shapeName(largest->shape) +
                            (fields > 1 ? " of " + std::to_string(fields) + " fields" : "") +
                            " needs up to " + bytesText(need.total()) + " (" + needText(need) + ")";
  if (check.verdict == Verdict::kRefused) {
    std::fprintf(stderr,
                 "voxgrid-suite: %s, more than the %s this run may use (%s); choose a smaller "
                 "--shape, fewer --fields or --sweeps, or --heap=fresh\n",
                 needs.c_str(), bytesText(check.least->bytes).c_str(), check.least->name.c_str());
    return false;
  }
  if (check.verdict == Verdict::kClose) {
    std::fprintf(stderr,
                 "voxgrid-suite: warning: %s, within %.0f %% of the %s this run may use (%s): "
                 "it may run out of memory\n",
                 needs.c_str(), kMemoryMargin * 100, bytesText(check.least->bytes).c_str(),
                 check.least->name.c_str());
  }
  std::string bounds;
  if (leastRounds < rounds) {
    bounds = "; at least " + std::to_string(leastRounds) + " rounds, " +
             std::to_string(countSamples(selected, leastRounds, samplesPerRound).total) +
             " samples, where every decision is made by then";
  }
  if (timeLimit > 0) {
    bounds += "; at most " + formatSeconds(timeLimit) + " and the round then in progress";
  }
  std::fprintf(stderr,
               "voxgrid-suite: plan: %zu cases x %d rounds x %d samples + %ld warm-up = %ld "
               "samples at most%s; %s; limits: %s; the time left shows once the first round has "
               "run\n",
               selected.size(), rounds, samplesPerRound, count.total - count.measured, count.total,
               bounds.c_str(), needs.c_str(), limitsText(limits).c_str());
  return true;
}

} // namespace voxgrid
