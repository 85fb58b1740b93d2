#include "cases.h"

#include <voxgrid/detail/added_sweeps.h>
#include <voxgrid/detail/steps.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <utility>

namespace voxgrid {

namespace {

// A function's statics, so that registrations running before main find them made.
std::vector<AddedSweep>& sweeps() {
  static std::vector<AddedSweep> added;
  return added;
}

std::map<std::pair<int, const void*>, AddedRunner>& runners() {
  static std::map<std::pair<int, const void*>, AddedRunner> filed;
  return filed;
}

std::map<std::string, SweepBytes>& stated() {
  static std::map<std::string, SweepBytes> bytes;
  return bytes;
}

} // namespace

bool stateSweepBytes(const char* name, SweepBytes bytes) {
  stated()[name == nullptr ? "" : name] = bytes;
  return true;
}

SweepBytes sweepBytesOf(const std::string& name) {
  const auto found = stated().find(name);
  return found == stated().end() ? nullptr : found->second;
}

int addSweep(const char* name, const ReferenceRunner (&reference)[kElementTypes]) {
  AddedSweep s{name, {}};
  std::copy(std::begin(reference), std::end(reference), s.reference);
  sweeps().push_back(s);
  return static_cast<int>(sweeps().size()) - 1;
}

void addSweepRunner(int sweep, const void* accessKey, AddedRunner run) {
  runners()[{sweep, accessKey}] = run;
}

const std::vector<AddedSweep>& addedSweeps() { return sweeps(); }

AddedRunner findSweepRunner(int sweep, const void* accessKey) {
  const auto found = runners().find({sweep, accessKey});
  return found == runners().end() ? nullptr : found->second;
}

std::string badSweepName() {
  const std::vector<AddedSweep>& added = sweeps();
  for (std::size_t n = 0; n < added.size(); ++n) {
    const std::string name = added[n].name == nullptr ? "" : added[n].name;
    if (name.empty()) {
      return "a sweep has an empty name";
    }
    const bool step = std::any_of(std::begin(kSteps), std::end(kSteps),
                                  [&](const StepInfo& s) { return name == s.name; });
    const bool before = std::any_of(added.begin(), added.begin() + static_cast<std::ptrdiff_t>(n),
                                    [&](const AddedSweep& s) { return name == s.name; });
    if (step || before || name == "all" || name == "none") {
      return "the sweep name \"" + name + "\" is taken";
    }
    if (name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos) {
      return "the sweep name \"" + name + "\" holds characters outside [a-z0-9_]";
    }
  }
  for (const auto& [name, bytes] : stated()) {
    if (std::none_of(added.begin(), added.end(), [&, &name = name](const AddedSweep& s) {
          return s.name != nullptr && name == s.name;
        })) {
      return "bytes are stated for \"" + name + "\", which no sweep is called";
    }
    if (bytes == nullptr) {
      return "the bytes stated for \"" + name + "\" are no function";
    }
  }
  return "";
}

void checkAddedSweeps(const AddedResults& results, const Shape& shape, ElementType element) {
  for (std::size_t n = 0; n < results.size(); ++n) {
    if (results[n].text.empty()) {
      continue; // not run
    }
    const AddedSweep& s = sweeps()[n];
    const Checksum want = s.reference[static_cast<int>(element)](shape);
    if (results[n].value != want.value) {
      throw std::runtime_error(std::string(s.name) + ": got " + results[n].text +
                               " on the layout, " + want.text + " on the reference block");
    }
  }
}

} // namespace voxgrid
