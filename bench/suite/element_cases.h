#ifndef VOXGRID_ELEMENT_CASES_H
#define VOXGRID_ELEMENT_CASES_H

// Each element type's built-in cases. Every layout compiled for five types is
// the suite's slowest code to compile, so each type's cases are a translation
// unit of their own, made by the build from this header (casesOf<T> below), and
// they compile in parallel.

#include "builtin_layouts.h"
#include "floor.h"

#include <voxgrid/detail/measure.h>
#include <voxgrid/detail/registry.h>

#include <cstdint>
#include <type_traits>
#include <vector>

namespace voxgrid {

// The program's three layouts for an element type other than its int.
template <class T> std::vector<Case> programStepsCases() {
  const ElementType e = elementType<T>();
  return {
      {"nested", measure<NestedOf<T>>, kSweeps, nullptr, e},
      {"flat_three_loops/team_of_4", measure<FlatValarrayOf<T, false>>, kOwnTeam | kSweeps, nullptr,
       e},
      {"flat_one_index", measure<FlatValarrayOf<T, true>>, kSweeps, nullptr, e},
  };
}

// The layouts written for every element type, holding T, in report order.
template <class T> std::vector<Case> everyElementCases() {
  const ElementType e = elementType<T>();
  return {
      {"vector3d", measure<Vector3dOf<T>>, kSweeps, nullptr, e},
      {"flat_vector", measure<FlatVectorOf<T>>, kSweeps, nullptr, e},
      {"pointer_tables", measure<PointerTablesOf<T>>, kSweeps, nullptr, e},
      {"flat_parallel_zero", measure<FlatParallelZeroOf<T>>, kSweeps, nullptr, e},
      {"hugepage_tables", measure<HugepageTablesOf<T>>, kHugePages | kSweeps, nullptr, e},
      // Built for locality; each states its slots, which padding and partial
      // bricks or a curve's span make more than the elements.
      {"flat_padded", measure<FlatPaddedOf<T>>, kSweeps, detail::statedBytes<FlatPaddedOf<T>>, e},
      {"bricks_4", measure<Bricks4Of<T>>, kSweeps, detail::statedBytes<Bricks4Of<T>>, e},
      {"bricks_4/loops:own", measure<Bricks4Of<T>, true>, kSweeps,
       detail::statedBytes<Bricks4Of<T>>, e},
      {"bricks_8", measure<Bricks8Of<T>>, kSweeps, detail::statedBytes<Bricks8Of<T>>, e},
      {"bricks_8/loops:own", measure<Bricks8Of<T>, true>, kSweeps,
       detail::statedBytes<Bricks8Of<T>>, e},
      {"morton", measure<MortonOf<T>>, kSweeps, detail::statedBytes<MortonOf<T>>, e},
#ifdef VOXGRID_HAVE_BOOST
      {"boost_multi_array", measure<BoostMultiArrayOf<T>>, kSweeps, nullptr, e},
#endif
#ifdef VOXGRID_HAVE_EIGEN
      {"eigen_tensor", measure<EigenTensorOf<T>>, kSweeps, nullptr, e},
#endif
  };
}

// The floors and the ceiling for an element type other than int: its stencil
// stores plainly, so it moves what a layout's does (no kCeiling flag).
template <class T> std::vector<Case> floorCases() {
  const ElementType e = elementType<T>();
  return {{"floor/pages:4k", measure<Floor4kOf<T>>, kPlain, nullptr, e},
          {"floor/pages:2m", measure<Floor2mOf<T>>, kHugePages, nullptr, e},
          {"bandwidth/stores:plain", measure<PlainStoresOf<T>>, kSweeps, nullptr, e}};
}

#ifdef VOXGRID_HAVE_OPENVDB
template <class T> std::vector<Case> openVdbCases() {
  const auto bytes = detail::statedBytes<OpenVdbGridOf<T>>;
  const ElementType e = elementType<T>();
  return {{"openvdb", measure<OpenVdbGridOf<T>>, kSweeps, bytes, e},
          {"openvdb/loops:own", measure<OpenVdbGridOf<T>, true>, kSweeps, bytes, e}};
}
#endif

// T's cases in report order: for int, the layouts written for every type
// (the program's own steps, the floors and the ceilings come from the case
// table); for the others, the program's layouts written for T, those layouts,
// and T's floors and ceiling.
template <class T> std::vector<Case> casesOf() {
  std::vector<Case> cases;
  const auto append = [&cases](const std::vector<Case>& more) {
    cases.insert(cases.end(), more.begin(), more.end());
  };
  if constexpr (!std::is_same_v<T, int>) {
    append(programStepsCases<T>());
  }
  append(everyElementCases<T>());
#ifdef VOXGRID_HAVE_OPENVDB
  append(openVdbCases<T>());
#endif
  if constexpr (!std::is_same_v<T, int>) {
    append(floorCases<T>());
  }
  return cases;
}

extern template std::vector<Case> casesOf<int>();
extern template std::vector<Case> casesOf<float>();
extern template std::vector<Case> casesOf<double>();
extern template std::vector<Case> casesOf<std::uint16_t>();
extern template std::vector<Case> casesOf<std::uint8_t>();

} // namespace voxgrid

#endif
