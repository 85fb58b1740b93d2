#ifndef VOXGRID_DETAIL_STENCIL_H
#define VOXGRID_DETAIL_STENCIL_H

#include <voxgrid/access.h>

#include <type_traits>

namespace voxgrid {

// 6 c minus its six neighbours in the element's arithmetic: integers in
// unsigned arithmetic, which wraps instead of overflowing whatever they hold,
// then cut to the type; float and double in their own, exact on what the
// suite stores.
template <class T> T stencilValue(T c, T im, T ip, T jm, T jp, T km, T kp) {
  if constexpr (std::is_floating_point_v<T>) {
    return T(6) * c - im - ip - jm - jp - km - kp;
  } else {
    const auto u = [](T v) { return static_cast<unsigned>(v); };
    return static_cast<T>(6u * u(c) - u(im) - u(ip) - u(jm) - u(jp) - u(km) - u(kp));
  }
}

// The 7-point stencil from grid g into grid out of the same layout, interior
// elements only: out = 6 g(i, j, k) minus its six neighbours.
template <class In, class Out> void stencilSweep(In access, Out outAccess, int nx, int ny, int nz) {
#pragma omp parallel
  {
    ThreadAccess<In> g = access;
    ThreadAccess<Out> out = outAccess;
#pragma omp for schedule(static)
    for (int i = 1; i < nx - 1; ++i) {
      for (int j = 1; j < ny - 1; ++j) {
        for (int k = 1; k < nz - 1; ++k) {
          out(i, j, k) = stencilValue(g(i, j, k), g(i - 1, j, k), g(i + 1, j, k), g(i, j - 1, k),
                                      g(i, j + 1, k), g(i, j, k - 1), g(i, j, k + 1));
        }
      }
    }
  }
}

} // namespace voxgrid

#endif
