#ifndef VOXGRID_SHAPE_H
#define VOXGRID_SHAPE_H

namespace voxgrid {

// A grid's extents: nx slices of ny rows of nz ints. Element (i, j, k) has
// 0 <= i < nx, 0 <= j < ny, 0 <= k < nz; k is the fastest index.
struct Shape {
  int nx, ny, nz;
};

// nx*ny*nz, after the extent check every built-in layout makes: throws
// std::length_error unless each extent is >= 0 and the count fits in an int.
int elementCount(const Shape& s);

} // namespace voxgrid

#endif
