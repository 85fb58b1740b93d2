#ifndef VOXGRID_SAMPLE_LINE_H
#define VOXGRID_SAMPLE_LINE_H

#include <voxgrid/detail/sample.h>

#include <algorithm>
#include <string>
#include <vector>

namespace voxgrid {

// The median of samples by their time: the middle one, or for an even count
// the two middle ones averaged, step by step, so that build, fill and release
// still add up to the time. `samples` holds at least one.
inline Sample medianSample(std::vector<Sample> samples) {
  std::sort(samples.begin(), samples.end(),
            [](const Sample& a, const Sample& b) { return a.totalNs() < b.totalNs(); });
  const Sample& upper = samples[samples.size() / 2];
  if (samples.size() % 2 == 1) {
    return upper;
  }
  const Sample& lower = samples[samples.size() / 2 - 1];
  Sample m = upper;
  for (int step = 0; step < kStepCount; ++step) {
    m.ns[step] = (lower.ns[step] + upper.ns[step]) / 2;
  }
  for (std::size_t n = 0; n < m.added.size() && n < lower.added.size(); ++n) {
    m.added[n] = (lower.added[n] + upper.added[n]) / 2;
  }
  m.faults = (lower.faults + upper.faults) / 2;
  m.blocks = (lower.blocks + upper.blocks) / 2;
  m.hugeBytes = (lower.hugeBytes + upper.hugeBytes) / 2;
  return m;
}

// The report line a sample process sends back, and its reading, side by side
// so that they cannot drift apart.
std::string formatSample(const Sample& s);
bool parseSample(const std::string& line, Sample& s);

} // namespace voxgrid

#endif
