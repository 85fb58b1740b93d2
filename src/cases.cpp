#include "cases.h"

#include "element_cases.h"
#include "field_cases.h"

#ifdef VOXGRID_HAVE_BOOST
#include <boost/version.hpp>
#endif
#ifdef VOXGRID_HAVE_EIGEN
#include <Eigen/Core>
#endif
#ifdef VOXGRID_HAVE_OPENVDB
#include <openvdb/version.h>
#endif

#include <algorithm>
#include <type_traits>

namespace voxgrid {

namespace {

// The built-in cases, in report order: each element type's, in the suite's
// order, then each type's arrangements of several fields, where built.
std::vector<Case> builtInCases() {
  std::vector<Case> cases;
  for (const std::vector<Case>& more : {casesOf<int>(), casesOf<float>(), casesOf<double>(),
                                        casesOf<std::uint16_t>(), casesOf<std::uint8_t>()}) {
    cases.insert(cases.end(), more.begin(), more.end());
  }
  const auto add = [&cases](const std::vector<Case>& more) {
    cases.insert(cases.end(), more.begin(), more.end());
  };
#ifdef VOXGRID_FIELDS_INT32
  add(fieldCasesOf<int>());
#endif
#ifdef VOXGRID_FIELDS_FLOAT
  add(fieldCasesOf<float>());
#endif
#ifdef VOXGRID_FIELDS_DOUBLE
  add(fieldCasesOf<double>());
#endif
#ifdef VOXGRID_FIELDS_UINT16
  add(fieldCasesOf<std::uint16_t>());
#endif
#ifdef VOXGRID_FIELDS_UINT8
  add(fieldCasesOf<std::uint8_t>());
#endif
  (void)add;
  return cases;
}

// Every case added, in the order added; a function's static, so that a
// program's own registrations, which run before main, find it made.
std::vector<Case>& registry() {
  static std::vector<Case> cases;
  return cases;
}

std::size_t builtInCount = 0;

} // namespace

bool addCase(const Case& c) {
  registry().push_back(c);
  return true;
}

const std::vector<Case>& suiteCases() {
  // A program's own layouts were added before main; the built-in ones go first.
  static const bool ordered = [] {
    const std::vector<Case> added = std::move(registry());
    registry().clear();
    for (const Case& c : builtInCases()) {
      addCase(c);
    }
    builtInCount = registry().size();
    for (const Case& c : added) {
      addCase(c);
    }
    return true;
  }();
  (void)ordered;
  return registry();
}

std::string badCaseName() {
  const std::vector<Case>& cases = suiteCases();
  for (std::size_t n = 0; n < cases.size(); ++n) {
    const std::string name = cases[n].name == nullptr ? "" : cases[n].name;
    const auto named = [&](const Case& c) {
      return c.name != nullptr && name == c.name && c.element == cases[n].element;
    };
    if (name.empty()) {
      return "a layout has an empty name";
    }
    if (std::any_of(cases.begin(), cases.begin() + static_cast<std::ptrdiff_t>(n), named)) {
      return "the layout name \"" + name + "\" is taken";
    }
    const std::string own = kOwnLoops;
    const bool ownLoops =
        name.size() > own.size() && name.compare(name.size() - own.size(), own.size(), own) == 0;
    std::string base = ownLoops ? name.substr(0, name.size() - own.size()) : name;
    const std::size_t memoryAt = base.find(kMemorySegment);
    if (cases[n].crossed() && memoryAt != std::string::npos) { // a rule under one memory
      base.resize(memoryAt);
    }
    if (n >= builtInCount &&
        base.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos) {
      return "the layout name \"" + name + "\" holds characters outside [a-z0-9_]";
    }
  }
  return "";
}

namespace {

template <class L, class = void> struct HasMemoryWords : std::false_type {};
template <class L> struct HasMemoryWords<L, std::void_t<decltype(L::kMemory)>> : std::true_type {};

} // namespace

std::vector<std::pair<std::string, std::string>> storageWords() {
  std::string memories;
  forEachMemory([&](auto memory) {
    using M = decltype(memory);
    memories += (memories.empty() ? "" : "; ") + std::string(M::kName) + ": " + M::kWords;
  });
  std::string rules;
  const auto addRule = [&](const char* rule, const char* words, auto) {
    rules += (rules.empty() ? "" : "; ") + std::string(rule) + ": " + words;
  };
  forEachIndexRule(addRule);
  forEachFieldRule(addRule);
  std::string idioms;
  forEachCaseOf<int>([&](const char* name, auto tag, unsigned flags) {
    using L = typename decltype(tag)::type;
    if constexpr (HasMemoryWords<L>::value) {
      if ((flags & kCrossed) == 0) {
        idioms += (idioms.empty() ? "" : "; ") + std::string(name) + ": " + L::kMemory;
      }
    }
  });
  return {{"memories", memories}, {"index_rules", rules}, {"idiom_memory", idioms}};
}

std::string caseKey(const Case& c) {
  const std::string name = c.name;
  return c.element == ElementType::kInt32 ? name : name + "/element:" + info(c.element).name;
}

const Case* findCase(const std::string& key) {
  const std::vector<Case>& cases = suiteCases();
  const auto found =
      std::find_if(cases.begin(), cases.end(), [&](const Case& c) { return key == caseKey(c); });
  return found == cases.end() ? nullptr : &*found;
}

std::vector<std::string> casesNotBuilt() {
  std::vector<std::string> missing;
#ifndef VOXGRID_HAVE_BOOST
  missing.emplace_back("boost_multi_array (Debian: libboost-dev)");
#endif
#ifndef VOXGRID_HAVE_EIGEN
  missing.emplace_back("eigen_tensor (Debian: libeigen3-dev)");
#endif
#ifndef VOXGRID_HAVE_OPENVDB
  missing.emplace_back("openvdb (Debian: libopenvdb-dev)");
#endif
  return missing;
}

std::vector<std::pair<std::string, std::string>> libraryContext() {
  std::vector<std::pair<std::string, std::string>> context;
#ifdef VOXGRID_HAVE_BOOST
  context.emplace_back("boost_version", std::to_string(BOOST_VERSION / 100000) + "." +
                                            std::to_string(BOOST_VERSION / 100 % 1000) + "." +
                                            std::to_string(BOOST_VERSION % 100));
#endif
#ifdef VOXGRID_HAVE_EIGEN
  context.emplace_back("eigen_version", std::to_string(EIGEN_WORLD_VERSION) + "." +
                                            std::to_string(EIGEN_MAJOR_VERSION) + "." +
                                            std::to_string(EIGEN_MINOR_VERSION));
#endif
#ifdef VOXGRID_HAVE_OPENVDB
  context.emplace_back("openvdb_version",
                       std::to_string(OPENVDB_LIBRARY_MAJOR_VERSION_NUMBER) + "." +
                           std::to_string(OPENVDB_LIBRARY_MINOR_VERSION_NUMBER) + "." +
                           std::to_string(OPENVDB_LIBRARY_PATCH_VERSION_NUMBER));
#endif
  // Here, where the layouts are compiled, since their libraries check every index unless NDEBUG.
#ifdef NDEBUG
  context.emplace_back("assertions", "off");
#else
  context.emplace_back("assertions", "on");
#endif
  return context;
}

} // namespace voxgrid
