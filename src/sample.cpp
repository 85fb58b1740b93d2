#include "sample_line.h"

#include <voxgrid/detail/sample.h>

#include <sstream>

namespace voxgrid {

std::string formatSample(const Sample& s) {
  std::ostringstream line;
  line.precision(17);
  line << "sample";
  for (const double ns : s.ns) {
    line << ' ' << ns;
  }
  line << ' ' << s.faults << ' ' << s.blocks << ' ' << s.hugeBytes;
  for (const double ns : s.roofNs) {
    line << ' ' << ns;
  }
  for (const double ns : s.added) {
    line << ' ' << ns;
  }
  line << '\n';
  return line.str();
}

bool parseSample(const std::string& line, Sample& s) {
  std::istringstream in(line);
  std::string word;
  Sample r;
  if (!(in >> word) || word != "sample") {
    return false;
  }
  for (double& ns : r.ns) {
    if (!(in >> ns)) {
      return false;
    }
  }
  if (!(in >> r.faults >> r.blocks >> r.hugeBytes)) {
    return false;
  }
  for (double& ns : r.roofNs) {
    if (!(in >> ns)) {
      return false;
    }
  }
  double ns = 0;
  while (in >> ns) {
    r.added.push_back(ns);
  }
  if (!in.eof()) {
    return false;
  }
  s = r;
  return true;
}

} // namespace voxgrid
