#ifndef VOXGRID_SHAPE_H
#define VOXGRID_SHAPE_H

#include <cstdint>

namespace voxgrid {

// The most fields a voxel may hold: the 19 distributions of a D3Q19 lattice,
// one for each direction of the streaming step (field_sweeps.h).
constexpr int kMaxFields = 19;

// A grid's extents: nx slices of ny rows of nz voxels. Element (i, j, k) has
// 0 <= i < nx, 0 <= j < ny, 0 <= k < nz; k is the fastest index. Each voxel
// holds `fields` values of the element type (1: the plain grid); a layout
// that holds one value per voxel ignores it.
struct Shape {
  int nx, ny, nz;
  int fields = 1;
};

// nx*ny*nz, the voxels, after the extent check every layout of the suite
// makes: throws std::length_error unless each extent is >= 0 and the fields
// are 1 to kMaxFields. The count may pass 2^31: what bounds a grid is memory,
// which the suite's plan checks before it runs.
std::int64_t elementCount(const Shape& s);

// The values the grid holds: its voxels times their fields.
inline std::int64_t valueCount(const Shape& s) { return elementCount(s) * s.fields; }

} // namespace voxgrid

#endif
