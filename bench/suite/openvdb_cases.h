#ifndef VOXGRID_OPENVDB_CASES_H
#define VOXGRID_OPENVDB_CASES_H

#include <voxgrid/detail/registry.h>

#include <string>
#include <vector>

namespace voxgrid {

// openvdb and openvdb/loops:own, in a build that found OpenVDB.
std::vector<Case> openVdbCases();
// The OpenVDB the cases were compiled against, as "10.0.1".
std::string openVdbVersion();

} // namespace voxgrid

#endif
