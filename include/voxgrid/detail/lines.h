#ifndef VOXGRID_DETAIL_LINES_H
#define VOXGRID_DETAIL_LINES_H

#include <voxgrid/access.h>

#include <cstdint>

namespace voxgrid {

// Read-only sums across the storage order, as line solves and derivatives along
// another axis read a grid: each element once, in 64 bits, through the layout's
// own element access. The loops stay in the order written: g++ -O3 interchanges
// a plain flat nest of this sum into storage order (-floop-interchange), which
// would time `sum` again, while a line solve's dependence along its line
// forbids that; through the access callable g++ 12 keeps the order.

// Lines along j (j innermost): for each i, for each k, the line (i, 0..ny, k);
// one parallel loop over i.
template <class Access> auto linesJSweep(Access access, int nx, int ny, int nz) {
  SumOf<ElementOf<Access>> total = 0;
#pragma omp parallel reduction(+ : total)
  {
    ThreadAccess<Access> g = access;
#pragma omp for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int k = 0; k < nz; ++k) {
        for (int j = 0; j < ny; ++j) {
          total += g(i, j, k);
        }
      }
    }
  }
  return total;
}

// Lines along i (i innermost): for each j, for each k, the line (0..nx, j, k);
// one parallel loop over j.
template <class Access> auto linesISweep(Access access, int nx, int ny, int nz) {
  SumOf<ElementOf<Access>> total = 0;
#pragma omp parallel reduction(+ : total)
  {
    ThreadAccess<Access> g = access;
#pragma omp for schedule(static)
    for (int j = 0; j < ny; ++j) {
      for (int k = 0; k < nz; ++k) {
        for (int i = 0; i < nx; ++i) {
          total += g(i, j, k);
        }
      }
    }
  }
  return total;
}

} // namespace voxgrid

#endif
