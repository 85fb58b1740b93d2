#ifndef VOXGRID_SHAPE_H
#define VOXGRID_SHAPE_H

#include <cstdint>

namespace voxgrid {

// A grid's extents: nx slices of ny rows of nz ints. Element (i, j, k) has
// 0 <= i < nx, 0 <= j < ny, 0 <= k < nz; k is the fastest index.
struct Shape {
  int nx, ny, nz;
};

// nx*ny*nz, after the extent check every layout of the suite makes: throws
// std::length_error unless each extent is >= 0. The count may pass 2^31: what
// bounds a grid is memory, which the suite's plan checks before it runs.
std::int64_t elementCount(const Shape& s);

} // namespace voxgrid

#endif
