#include "counters.h"
#include "context.h"
#include "sample_line.h"

#include <voxgrid/detail/added_sweeps.h>
#include <voxgrid/detail/steps.h>

#include <algorithm>
#include <iterator>

namespace voxgrid {

double hugePageShare(const Sample& s, const Shape& shape, int elementBytes) {
  const double bytes = static_cast<double>(valueCount(shape)) * elementBytes;
  return s.hugeBytes < 0 || bytes <= 0 ? -1
                                       : std::min(1.0, static_cast<double>(s.hugeBytes) / bytes);
}

Repetition repetitionOf(const Instance& in, const std::vector<Sample>& taken) {
  const Sample median = medianSample(taken);
  const int elementBytes = info(in.c->element).bytes;
  double ns[kStepCount] = {};
  for (int step = kBuild; step <= kRelease; ++step) {
    ns[step] = median.ns[step];
  }
  for (int step = kSum; step < kStepCount; ++step) {
    std::vector<double> passes;
    std::transform(taken.begin(), taken.end(), std::back_inserter(passes),
                   [step](const Sample& s) { return s.ns[step]; });
    ns[step] = medianOf(passes);
  }
  Repetition r;
  r.seconds = median.totalNs() * 1e-9;
  const double elements = static_cast<double>(elementCount(in.shape));
  const double points = static_cast<double>(pointsFor(in.plan, in.shape));
  for (int step = 0; step < kStepCount; ++step) {
    // A sweep the case has no access for (the ceiling's of several fields) did not run.
    if (kSteps[step].sweep && (!in.plan.on[step] || ns[step] < 0)) {
      continue;
    }
    const std::string name = kSteps[step].name;
    r.counters.emplace_back(name + "_ms", ns[step] * 1e-6);
    if (kSteps[step].sweep) {
      const double items = step == kGather       ? points
                           : kSteps[step].fields ? elements * in.shape.fields
                                                 : elements;
      r.counters.emplace_back(name + "_" + kSteps[step].rate,
                              bytesPerItem(static_cast<Step>(step), in.c->ceiling(), elementBytes) *
                                  items / ns[step]);
      // The int32 ceiling alone streams its stencil's stores.
      r.counters.emplace_back(name + "_bytes",
                              passBytes(static_cast<Step>(step), elements * elementBytes, points,
                                        static_cast<double>(llcBytes()), in.c->ceiling(),
                                        in.shape.fields));
    }
  }
  // The roofs, where every sample measured them, each the median of the
  // samples' median passes, as a sweep's.
  for (int roof = 0; roof < kRoofCount; ++roof) {
    std::vector<double> passes;
    for (const Sample& s : taken) {
      if (s.roofNs[roof] > 0) {
        passes.push_back(s.roofNs[roof]);
      }
    }
    if (!passes.empty() && passes.size() == taken.size()) {
      r.counters.emplace_back(kRoofs[roof].counter,
                              kRoofs[roof].gridTimes * elements * elementBytes / medianOf(passes));
    }
  }
  for (std::size_t n = 0; n < in.plan.added.size(); ++n) {
    std::vector<double> passes;
    for (const Sample& s : taken) {
      if (n < s.added.size() && s.added[n] >= 0) {
        passes.push_back(s.added[n]);
      }
    }
    if (in.plan.added[n] && !passes.empty() && passes.size() == taken.size()) {
      r.counters.emplace_back(std::string(addedSweeps()[n].name) + "_ms", medianOf(passes) * 1e-6);
      if (const SweepBytes bytes = sweepBytesOf(addedSweeps()[n].name)) {
        r.counters.emplace_back(std::string(addedSweeps()[n].name) + "_bytes",
                                bytes(in.shape, elementBytes));
      }
    }
  }
  r.counters.emplace_back("faults", static_cast<double>(median.faults));
  r.counters.emplace_back("blocks", static_cast<double>(median.blocks));
  if (in.c->hugePages()) {
    r.hugeShare = hugePageShare(median, in.shape, elementBytes);
    r.counters.emplace_back("huge_pages", r.hugeShare);
  }
  r.gridBytes = static_cast<double>(valueCount(in.shape)) * elementBytes;
  return r;
}

} // namespace voxgrid
