#ifndef VOXGRID_FIELD_CASES_H
#define VOXGRID_FIELD_CASES_H

// Each element type's cases of several fields a voxel, from their table
// (field_layouts.h); a translation unit per type, made by the build from this
// header, as each type's one-field cases are (element_cases.h).

#include "field_layouts.h"

#include <voxgrid/detail/measure.h>
#include <voxgrid/detail/registry.h>

#include <cstdint>
#include <vector>

namespace voxgrid {

template <class T> std::vector<Case> fieldCasesOf() {
  std::vector<Case> cases;
  forEachFieldCaseOf<T>([&cases](const char* name, auto tag, unsigned flags) {
    using L = typename decltype(tag)::type;
    cases.push_back({name, measure<L>, flags, detail::statedBytes<L>, elementType<T>()});
  });
  return cases;
}

extern template std::vector<Case> fieldCasesOf<int>();
extern template std::vector<Case> fieldCasesOf<float>();
extern template std::vector<Case> fieldCasesOf<double>();
extern template std::vector<Case> fieldCasesOf<std::uint16_t>();
extern template std::vector<Case> fieldCasesOf<std::uint8_t>();

} // namespace voxgrid

#endif
