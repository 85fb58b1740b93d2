#ifndef VOXGRID_LAYOUT_BUILTIN_LAYOUTS_H
#define VOXGRID_LAYOUT_BUILTIN_LAYOUTS_H

#include "bricks.h"
#include "flat_padded.h"
#include "flat_parallel_zero.h"
#include "flat_valarray.h"
#include "flat_vector.h"
#include "hugepage_tables.h"
#include "morton.h"
#include "nested.h"
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

#include <cstdint>
#include <type_traits>

namespace voxgrid {

// Every built-in layout that sweeps, once per type it holds, for what must be
// compiled for each of them: a program's own sweep (sweep.h). The case table
// names them; this lists their types.
template <class L> struct LayoutTag { using type = L; };

template <class T, class Visit> void forEachLayoutOf(Visit& visit) {
  if constexpr (!std::is_same_v<T, int>) { // int's are the program's own steps
    visit(LayoutTag<NestedOf<T>>{});
    visit(LayoutTag<FlatValarrayOf<T, false>>{});
    visit(LayoutTag<FlatValarrayOf<T, true>>{});
    visit(LayoutTag<PlainStoresOf<T>>{});
  }
  visit(LayoutTag<Vector3dOf<T>>{});
  visit(LayoutTag<FlatVectorOf<T>>{});
  visit(LayoutTag<PointerTablesOf<T>>{});
  visit(LayoutTag<FlatParallelZeroOf<T>>{});
  visit(LayoutTag<HugepageTablesOf<T>>{});
  visit(LayoutTag<FlatPaddedOf<T>>{});
  visit(LayoutTag<Bricks4Of<T>>{});
  visit(LayoutTag<Bricks8Of<T>>{});
  visit(LayoutTag<MortonOf<T>>{});
#ifdef VOXGRID_HAVE_BOOST
  visit(LayoutTag<BoostMultiArrayOf<T>>{});
#endif
#ifdef VOXGRID_HAVE_EIGEN
  visit(LayoutTag<EigenTensorOf<T>>{});
#endif
#ifdef VOXGRID_HAVE_OPENVDB
  visit(LayoutTag<OpenVdbGridOf<T>>{});
#endif
}

template <class Visit> void forEachBuiltinLayout(Visit visit) {
  visit(LayoutTag<Nested>{});
  visit(LayoutTag<FlatThreeLoops>{});
  visit(LayoutTag<FlatOneIndex>{});
  visit(LayoutTag<PlainStores>{});
  forEachLayoutOf<int>(visit);
  forEachLayoutOf<float>(visit);
  forEachLayoutOf<double>(visit);
  forEachLayoutOf<std::uint16_t>(visit);
  forEachLayoutOf<std::uint8_t>(visit);
}

} // namespace voxgrid

#endif
