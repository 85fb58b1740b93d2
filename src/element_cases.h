#ifndef VOXGRID_ELEMENT_CASES_H
#define VOXGRID_ELEMENT_CASES_H

// Each element type's built-in cases, from the case table (builtin_layouts.h).
// Every layout compiled for five types is the suite's slowest code to compile,
// so each type's cases are a translation unit of their own, made by the build
// from this header (casesOf<T> below), and they compile in parallel.

#include "builtin_layouts.h"
#include "program_layouts.h"

#include <voxgrid/detail/measure.h>
#include <voxgrid/detail/registry.h>

#include <cstdint>
#include <string>
#include <vector>

namespace voxgrid {

// T's cases in report order; for int, the program's own steps in place of its
// layouts written for every type.
template <class T> std::vector<Case> casesOf() {
  std::vector<Case> cases;
  forEachCaseOf<T>([&cases](const char* name, auto tag, unsigned flags) {
    using Table = typename decltype(tag)::type;
    using L = typename ProgramStepsOf<Table>::type;
    std::int64_t (*bytes)(const Shape&) = nullptr;
    if constexpr (detail::HasBytes<L>::value) {
      bytes = detail::statedBytes<L>;
    }
    const unsigned all = flags | ProgramStepsOf<Table>::kFlags;
    cases.push_back({name, measure<L>, all, bytes, elementType<T>()});
    if constexpr (detail::hasOwnLoops<L>()) {
      static const std::string own = std::string(name) + kOwnLoops; // one per class
      cases.push_back({own.c_str(), measure<L, true>, all, bytes, elementType<T>()});
    }
  });
  return cases;
}

extern template std::vector<Case> casesOf<int>();
extern template std::vector<Case> casesOf<float>();
extern template std::vector<Case> casesOf<double>();
extern template std::vector<Case> casesOf<std::uint16_t>();
extern template std::vector<Case> casesOf<std::uint8_t>();

} // namespace voxgrid

#endif
