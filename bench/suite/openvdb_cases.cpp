// OpenVDB's cases, compiled apart: its headers take longer to compile than
// the rest of the case table together.
#include "openvdb_cases.h"

#include "openvdb_grid.h"

#include <voxgrid/detail/measure.h>

#include <openvdb/version.h>

namespace voxgrid {

std::vector<Case> openVdbCases() {
  const auto bytes = detail::statedBytes<OpenVdbGrid>;
  return {{"openvdb", measure<OpenVdbGrid>, kSweeps, bytes},
          {"openvdb/loops:own", measure<OpenVdbGrid, true>, kSweeps, bytes}};
}

std::string openVdbVersion() {
  return std::to_string(OPENVDB_LIBRARY_MAJOR_VERSION_NUMBER) + "." +
         std::to_string(OPENVDB_LIBRARY_MINOR_VERSION_NUMBER) + "." +
         std::to_string(OPENVDB_LIBRARY_PATCH_VERSION_NUMBER);
}

} // namespace voxgrid
