#ifndef VOXGRID_DETAIL_SAMPLE_H
#define VOXGRID_DETAIL_SAMPLE_H

#include <voxgrid/detail/steps.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace voxgrid {

// What one sample of a case measured.
struct Sample {
  // Nanoseconds per step: build, fill and release back to back (the case's
  // time), then the median pass of each sweep, or -1 where it did not run.
  double ns[kStepCount] = {0, 0, 0, -1, -1, -1, -1, -1};
  long faults = 0;    // minor page faults of the whole process in build, fill and release
  long blocks = 0;    // heap blocks allocated in build, fill and release (-1: not counted)
  long hugeBytes = 0; // the process's anonymous memory in huge pages once filled (-1: unknown)
  // The median pass of each sweep the program added, by sweep (-1: not run).
  std::vector<double> added;
  double totalNs() const { return ns[kBuild] + ns[kFill] + ns[kRelease]; }
};

// The median, as every tool of the suite takes it: the middle value, or for an
// even count the mean of the two middle ones. v holds at least one value.
inline double medianOf(std::vector<double> v) {
  const auto upper = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), upper, v.end());
  if (v.size() % 2 == 1) {
    return *upper;
  }
  return (*std::max_element(v.begin(), upper) + *upper) / 2;
}

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
