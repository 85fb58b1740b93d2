#ifndef VOXGRID_ACCESS_H
#define VOXGRID_ACCESS_H

#include <voxgrid/element.h>
#include <voxgrid/shape.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace voxgrid {

// Element (i, j, k) of a flat block, as its users index it. The offset is
// computed in std::ptrdiff_t, as std::vector's size_type index is: from a
// 32-bit int offset, g++ cannot prove the stencil's loads and stores apart and
// leaves it unvectorised (2.5x slower).
template <class T> auto flatAt(T* d, const Shape& s) {
  return [d, ny = std::ptrdiff_t{s.ny}, nz = std::ptrdiff_t{s.nz}](int i, int j, int k) -> T& {
    return d[(i * ny + j) * nz + k];
  };
}

// How each thread of a sweep holds the layout's access g: plain data (a
// pointer, extents) is shared, as it would be without this; an access that
// keeps state, such as a tree's accessor caching the last leaf it found, is
// copied into each thread, as its users give every thread its own.
template <class Access>
using ThreadAccess =
    std::conditional_t<std::is_trivially_copyable_v<Access>, const Access&, Access>;

// The fill of a layout written through its element access: each element's
// linear index, i*ny*nz + j*nz + k, as its type holds it (elementValue), one parallel loop over i,
// static schedule, so each thread first touches its own slices. The harness
// fills this way every layout that brings no fill() of its own.
template <class Access> void fillThroughAccess(Access access, const Shape& s) {
  using T = ElementOf<Access>;
  const int nx = s.nx, ny = s.ny, nz = s.nz;
#pragma omp parallel
  {
    ThreadAccess<Access> g = access;
#pragma omp for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        const ValueRun<T> value((std::int64_t{i} * ny + j) * nz);
        for (int k = 0; k < nz; ++k) {
          g(i, j, k) = value[k];
        }
      }
    }
  }
}

} // namespace voxgrid

#endif
