#ifndef VOXGRID_COUNTERS_H
#define VOXGRID_COUNTERS_H

#include "instance.h"

#include <string>
#include <utility>
#include <vector>

namespace voxgrid {

// What one repetition reports, from the samples its round took: its time, and
// its build, fill and release, are the median sample's (by time, so that they
// add up; the two middle ones averaged for an even count); each sweep reports
// the median of the samples' own medians over their passes; a program's own
// sweep only where every sample ran it.
struct Repetition {
  double seconds = 0;
  std::vector<std::pair<std::string, double>> counters; // in the order the report lists them
  double hugeShare = -1; // for a case on huge pages: the share of the grid in them, or -1
  double gridBytes = 0;  // the grid's element bytes, for the rate counter
};
Repetition repetitionOf(const Instance& in, const std::vector<Sample>& taken);

// Below this share of the grid in huge pages, a case that asked for them
// measured mostly something else, and says so.
constexpr double kHugeEnough = 0.9;

// The share of the grid's bytes in huge pages, or -1 where the kernel does not say.
double hugePageShare(const Sample& s, const Shape& shape, int elementBytes);

} // namespace voxgrid

#endif
