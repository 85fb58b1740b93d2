#ifndef VOXGRID_LAYOUT_H
#define VOXGRID_LAYOUT_H

#include "layouts.h"
#include "shape.h"

#include <cstddef>

namespace voxgrid {

// What every measured layout is: one class, the only place that knows its
// storage, with the same five members:
//
//   explicit L(const Shape&);  remembers the shape, allocates nothing
//   void build();              allocates (and initialises, where its idiom does)
//   void fill();               stores each element's linear index i*ny*nz + j*nz + k,
//                              one parallel loop over i, static schedule
//                              (fillThroughAccess(at(), shape) does it)
//   void release();            gives everything back; the destructor calls it too
//   auto at();                 element (i, j, k) as its users write it, as a small
//                              callable g(i, j, k) returning int&, for the sweeps
//
// Define at() before the members that call it: C++ needs a deduced return
// type seen before its use. The harness times each step; a layout never times
// itself. NoCopy keeps a
// grid from being released twice. VOXGRID_LAYOUT(L, "name") adds one to the
// suite, beside the built-in ones.
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

// The fill of a layout written through its element access: each element's
// linear index, g(i, j, k) = i*ny*nz + j*nz + k, one parallel loop over i,
// static schedule, so each thread first touches its own slices.
template <class Access> void fillThroughAccess(Access g, const Shape& s) {
  const int nx = s.nx, ny = s.ny, nz = s.nz;
#pragma omp parallel for schedule(static)
  for (int i = 0; i < nx; ++i) {
    for (int j = 0; j < ny; ++j) {
      for (int k = 0; k < nz; ++k) {
        g(i, j, k) = i * ny * nz + j * nz + k;
      }
    }
  }
}

} // namespace voxgrid

// Registration needs the contract above, and the harness that measures it.
#include "registration.h"

#endif
