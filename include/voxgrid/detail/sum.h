#ifndef VOXGRID_DETAIL_SUM_H
#define VOXGRID_DETAIL_SUM_H

#include <voxgrid/access.h>

#include <cstdint>

namespace voxgrid {

// A read-only sweep: every element in storage order (k innermost), added up in
// 64 bits (SumOf). g(i, j, k) is the layout's own element access, as its users write it.
template <class Access> auto sumSweep(Access access, int nx, int ny, int nz) {
  SumOf<ElementOf<Access>> total = 0;
#pragma omp parallel reduction(+ : total)
  {
    ThreadAccess<Access> g = access;
#pragma omp for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        for (int k = 0; k < nz; ++k) {
          total += g(i, j, k);
        }
      }
    }
  }
  return total;
}

} // namespace voxgrid

#endif
