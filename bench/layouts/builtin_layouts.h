#ifndef VOXGRID_LAYOUT_BUILTIN_LAYOUTS_H
#define VOXGRID_LAYOUT_BUILTIN_LAYOUTS_H

#include "bricks.h"
#include "flat_padded.h"
#include "flat_parallel_zero.h"
#include "flat_vector.h"
#include "floor.h"
#include "index_fill.h"
#include "indexed_block.h"
#include "memory.h"
#include "morton.h"
#include "pointer_tables.h"
#include "program_steps.h"
#include "reference_block.h"
#include "vector3d.h"

#ifdef VOXGRID_HAVE_BOOST
#include "boost_multi_array.h"
#endif
#ifdef VOXGRID_HAVE_EIGEN
#include "eigen_tensor.h"
#endif
#ifdef VOXGRID_HAVE_OPENVDB
#include "openvdb_grid.h"
#endif

#include <voxgrid/detail/registry.h>

#include <cstdint>
#include <type_traits>

namespace voxgrid {

template <class L> struct LayoutTag { using type = L; };

template <template <class, class> class Rule> struct RuleTag {};

// The built-in index rules over one block, each Rule<T, Memory>, with what it
// is in words.
template <class Visit> void forEachIndexRule(Visit&& visit) {
  visit("row_major", "row-major strides", RuleTag<RowMajorOf>{});
  visit("padded", "padded strides", RuleTag<FlatPaddedOf>{});
  visit("tables", "pointer tables over one block", RuleTag<PointerTablesOf>{});
  visit("bricks_4", "4x4x4 bricks", RuleTag<Bricks4Of>{});
  visit("bricks_8", "8x8x8 bricks", RuleTag<Bricks8Of>{});
  visit("morton", "Morton order", RuleTag<MortonOf>{});
}

// An index rule under every memory.
template <class T, template <class, class> class Rule, class Visit>
void crossMemories(const char* rule, RuleTag<Rule>, Visit& visit, unsigned flags = 0) {
  forEachMemory([&](auto memory) {
    using M = decltype(memory);
    visit(crossedName(rule, M::kName), LayoutTag<Rule<T, M>>{},
          kSweeps | kCrossed | M::kFlags | flags);
  });
}

// The suite's case table for element type T, in report order: each case's
// name, the class it measures and what it asks of the run. Every built-in
// case is written here once; the registry (each type's cases) and the list a
// program's own sweep is compiled for both read it. A layout with loops of
// its own also runs as "<name>/loops:own"; one that states its bytes gives the
// memory plan its figure. Optional ones stand where their library was found.
template <class T, class Visit> void forEachCaseOf(Visit&& visit) {
  // The program's three layouts (for int, the harness runs its very steps).
  visit("nested", LayoutTag<NestedOf<T>>{}, kSweeps);
  visit("flat_three_loops/team_of_4", LayoutTag<FlatValarrayOf<T, false>>{}, kOwnTeam | kSweeps);
  visit("flat_one_index", LayoutTag<FlatValarrayOf<T, true>>{}, kSweeps);
  // Layouts whose storage is their idiom.
  visit("vector3d", LayoutTag<Vector3dOf<T>>{}, kSweeps);
  visit("flat_vector", LayoutTag<FlatVectorOf<T>>{}, kSweeps);
  visit("flat_parallel_zero", LayoutTag<FlatParallelZeroOf<T>>{}, kSweeps);
  // One block: where (i, j, k) lives (the index rule), crossed with how the
  // block is got and first touched (the memory), so that the two decisions
  // are measured apart and together.
  forEachIndexRule(
      [&](const char* rule, const char*, auto tag) { crossMemories<T>(rule, tag, visit); });
#ifdef VOXGRID_HAVE_BOOST
  visit("boost_multi_array", LayoutTag<BoostMultiArrayOf<T>>{}, kSweeps);
#endif
#ifdef VOXGRID_HAVE_EIGEN
  visit("eigen_tensor", LayoutTag<EigenTensorOf<T>>{}, kSweeps);
#endif
#ifdef VOXGRID_HAVE_OPENVDB
  visit("openvdb", LayoutTag<OpenVdbGridOf<T>>{}, kSweeps);
#endif
  // The floors (the least a layout pays) and the ceiling (its block already
  // mapped). int's ceiling streams its stencil's stores, and int alone has a
  // ceiling of streaming stores.
  visit("floor/pages:4k", LayoutTag<Floor4kOf<T>>{}, kReference);
  visit("floor/pages:2m", LayoutTag<Floor2mOf<T>>{}, kHugePages | kReference);
  constexpr bool isInt = std::is_same_v<T, int>;
  visit("bandwidth/stores:plain", LayoutTag<PlainStoresOf<T>>{},
        kSweeps | kReference | (isInt ? kCeiling : kPlain));
  if constexpr (isInt) {
    if (haveStreamingStores()) {
      visit("bandwidth/stores:streaming", LayoutTag<StreamingStores>{}, kReference);
    }
  }
}

// The element types every built-in case is written for, in the suite's order.
template <class Visit> void forEachElementType(Visit&& visit) {
  visit(static_cast<int*>(nullptr));
  visit(static_cast<float*>(nullptr));
  visit(static_cast<double*>(nullptr));
  visit(static_cast<std::uint16_t*>(nullptr));
  visit(static_cast<std::uint8_t*>(nullptr));
}

// Every built-in class that sweeps, for what must be compiled for each of
// them: a program's own sweep (sweep.h).
template <class Visit> void forEachBuiltinLayout(Visit visit) {
  forEachElementType([&](auto* element) {
    using T = std::remove_pointer_t<decltype(element)>;
    forEachCaseOf<T>([&](const char*, auto layout, unsigned flags) {
      if ((flags & kSweeps) != 0) {
        visit(layout);
      }
    });
  });
}

} // namespace voxgrid

#endif
