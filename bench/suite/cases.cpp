#include "cases.h"

#include "flat_parallel_zero.h"
#include "flat_valarray.h"
#include "flat_vector.h"
#include "floor.h"
#include "hugepage_tables.h"
#include "measure.h"
#include "nested.h"
#include "pointer_tables.h"
#include "reference_block.h"
#include "vector3d.h"

#ifdef VOXGRID_HAVE_BOOST
#include "boost_multi_array.h"

#include <boost/version.hpp>
#endif
#ifdef VOXGRID_HAVE_EIGEN
#include "eigen_tensor.h"
#endif

#include <algorithm>

namespace {

std::vector<Case> makeCases() {
  std::vector<Case> cases{
      {"nested", false, false, true, measure<Nested>},
      {"flat_three_loops/team_of_4", true, false, true, measure<FlatThreeLoops>},
      {"flat_one_index", false, false, true, measure<FlatOneIndex>},
      {"vector3d", false, false, true, measure<Vector3d>},
      {"flat_vector", false, false, true, measure<FlatVector>},
      {"pointer_tables", false, false, true, measure<PointerTables>},
      {"flat_parallel_zero", false, false, true, measure<FlatParallelZero>},
      {"hugepage_tables", false, true, true, measure<HugepageTables>},
#ifdef VOXGRID_HAVE_BOOST
      {"boost_multi_array", false, false, true, measure<BoostMultiArray>},
#endif
#ifdef VOXGRID_HAVE_EIGEN
      {"eigen_tensor", false, false, true, measure<EigenTensor>},
#endif
      {"floor/pages:4k", false, false, false, measure<Floor4k>},
      {"floor/pages:2m", false, true, false, measure<Floor2m>},
      {"bandwidth/stores:plain", false, false, true, measure<PlainStores>},
  };
  if (haveStreamingStores()) {
    cases.push_back({"bandwidth/stores:streaming", false, false, false, measure<StreamingStores>});
  }
  return cases;
}

} // namespace

const std::vector<Case>& suiteCases() {
  static const std::vector<Case> cases = makeCases();
  return cases;
}

const Case* findCase(const std::string& name) {
  const std::vector<Case>& cases = suiteCases();
  const auto found =
      std::find_if(cases.begin(), cases.end(), [&](const Case& c) { return name == c.name; });
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
  // Here, where the layouts are compiled, since their libraries check every index unless NDEBUG.
#ifdef NDEBUG
  context.emplace_back("assertions", "off");
#else
  context.emplace_back("assertions", "on");
#endif
  return context;
}
