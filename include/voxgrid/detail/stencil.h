#ifndef VOXGRID_DETAIL_STENCIL_H
#define VOXGRID_DETAIL_STENCIL_H

#include <voxgrid/access.h>

namespace voxgrid {

// The 7-point stencil from grid g into grid out of the same layout, interior
// elements only: out = 6 g(i, j, k) minus its six neighbours. Unsigned
// arithmetic wraps instead of overflowing, whatever the elements hold.
template <class In, class Out> void stencilSweep(In access, Out outAccess, int nx, int ny, int nz) {
  const auto u = [](int v) { return static_cast<unsigned>(v); };
#pragma omp parallel
  {
    ThreadAccess<In> g = access;
    ThreadAccess<Out> out = outAccess;
#pragma omp for schedule(static)
    for (int i = 1; i < nx - 1; ++i) {
      for (int j = 1; j < ny - 1; ++j) {
        for (int k = 1; k < nz - 1; ++k) {
          const unsigned v = 6u * u(g(i, j, k)) - u(g(i - 1, j, k)) - u(g(i + 1, j, k)) -
                             u(g(i, j - 1, k)) - u(g(i, j + 1, k)) - u(g(i, j, k - 1)) -
                             u(g(i, j, k + 1));
          out(i, j, k) = static_cast<int>(v);
        }
      }
    }
  }
}

} // namespace voxgrid

#endif
