#ifndef VOXGRID_LAYOUT_H
#define VOXGRID_LAYOUT_H

#include "layouts.h"
#include "shape.h"

#include <cstddef>

// What every measured layout is: one class in one file of this folder, the
// only place that knows its storage, with the same five members:
//
//   explicit L(const Shape&);  remembers the shape, allocates nothing
//   void build();              allocates (and initialises, where its idiom does)
//   void fill();               stores each element's linear index i*ny*nz + j*nz + k,
//                              one parallel loop over i, static schedule
//   void release();            gives everything back; the destructor calls it too
//   auto at();                 element (i, j, k) as its users write it, as a small
//                              callable g(i, j, k) returning int&, for the sweeps
//
// The harness times each step; a layout never times itself. NoCopy keeps a
// grid from being released twice.
struct NoCopy {
  NoCopy() = default;
  NoCopy(const NoCopy&) = delete;
  NoCopy& operator=(const NoCopy&) = delete;
};

// nx*ny*nz, once the extents have passed the layouts' extent check.
inline int elementCount(const Shape& s) {
  checkExtents(s.nx, s.ny, s.nz);
  return s.nx * s.ny * s.nz;
}

// Element (i, j, k) of a flat block, as its users index it. The offset is
// computed in std::ptrdiff_t, as std::vector's size_type index is: from a
// 32-bit int offset, g++ cannot prove the stencil's loads and stores apart and
// leaves it unvectorised (2.5x slower).
inline auto flatAt(int* d, const Shape& s) {
  return [d, ny = std::ptrdiff_t{s.ny}, nz = std::ptrdiff_t{s.nz}](int i, int j, int k) -> int& {
    return d[(i * ny + j) * nz + k];
  };
}

#endif
