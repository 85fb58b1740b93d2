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
  double ns[kStepCount] = {0, 0, 0, -1, -1, -1, -1, -1, -1, -1};
  long faults = 0;    // minor page faults of the whole process in build, fill and release
  long blocks = 0;    // heap blocks allocated in build, fill and release (-1: not counted)
  long hugeBytes = 0; // the process's anonymous memory in huge pages once filled (-1: unknown)
  // The ceiling's roof kernels, the median pass of each (-1: not run).
  double roofNs[kRoofCount] = {-1, -1, -1};
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

} // namespace voxgrid

#endif
