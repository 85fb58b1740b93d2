#ifndef VOXGRID_SAMPLE_H
#define VOXGRID_SAMPLE_H

#include "steps.h"

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
  long faults = 0; // minor page faults of the whole process in build, fill and release
  long blocks = 0; // heap blocks allocated in build, fill and release (-1: not counted)
  double totalNs() const { return ns[kBuild] + ns[kFill] + ns[kRelease]; }
};

// The median of a sample's passes or of an iteration's samples (the upper
// middle one for an even count).
inline double medianOf(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// The report line a sample process sends back, and its reading, side by side
// so that they cannot drift apart.
std::string formatSample(const Sample& s);
bool parseSample(const std::string& line, Sample& s);

} // namespace voxgrid

#endif
