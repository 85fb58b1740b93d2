#ifndef VOXGRID_CASES_H
#define VOXGRID_CASES_H

#include "shape.h"

#include <string>
#include <vector>

// What one sample of a case measured: its three steps, back to back.
struct Sample {
  double buildNs = 0;
  double fillNs = 0;
  double releaseNs = 0;
  long faults = 0; // minor page faults of the whole process during the sample
  long blocks = 0; // heap blocks allocated during the sample (-1: not counted)
  double totalNs() const { return buildNs + fillNs + releaseNs; }
};

// One thing the suite measures: a layout, a floor or a ceiling.
struct Case {
  const char* name;
  bool ownTeam; // requests its own team of 4: measured once, with the default team
  Sample (*run)(const Shape& shape);
};

// Every case this build has, in report order.
const std::vector<Case>& suiteCases();
// nullptr when there is no such case.
const Case* findCase(const std::string& name);

#endif
