#include "cases.h"

#include "flat_valarray.h"
#include "flat_vector.h"
#include "floor.h"
#include "measure.h"
#include "nested.h"
#include "pointer_tables.h"
#include "reference_block.h"
#include "vector3d.h"

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

std::vector<std::string> casesNotBuilt() { return {}; }
