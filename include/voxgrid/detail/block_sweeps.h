#ifndef VOXGRID_DETAIL_BLOCK_SWEEPS_H
#define VOXGRID_DETAIL_BLOCK_SWEEPS_H

#include <voxgrid/detail/stencil.h>
#include <voxgrid/element.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace voxgrid {

// The ceiling's own sum and stencil over one flat nx x ny x nz block: the same
// results as the layouts' sweeps, written for the machine's bandwidth, so that
// "x ceiling" measures a layout against the machine and not against code
// every layout shares.

// Every element, one flat stream, added up in 64 bits.
std::int64_t sumBlock(const int* grid, std::int64_t n);

// out = the 7-point stencil of g inside, g itself on the boundary: every
// element of out written once, with non-temporal stores as wide as the build
// where it has them, so the sweep moves what a copy moves (read g, write out)
// and nothing more. out must be 64-byte aligned.
void stencilBlock(const int* g, int* out, int nx, int ny, int nz);

// The same for every element type: int's are the kernels above; the others'
// are one flat stream for the sum, added as SumOf<T>, and one flat loop per
// row for the stencil, with plain stores, leaving out's boundary as it was, as
// the layouts' stencil does (the kernels with non-temporal stores are int's).
template <class T> SumOf<T> sumBlockOf(const T* grid, std::int64_t n) {
  if constexpr (std::is_same_v<T, int>) {
    return static_cast<SumOf<T>>(sumBlock(grid, n));
  } else {
    SumOf<T> total = 0;
#pragma omp parallel for simd schedule(static) reduction(+ : total)
    for (std::int64_t p = 0; p < n; ++p) {
      total += grid[p];
    }
    return total;
  }
}

template <class T> void stencilBlockOf(const T* g, T* out, int nx, int ny, int nz) {
  if constexpr (std::is_same_v<T, int>) {
    stencilBlock(g, out, nx, ny, nz);
  } else {
    const std::ptrdiff_t row = nz, slice = std::ptrdiff_t{ny} * nz;
#pragma omp parallel for schedule(static)
    for (int i = 1; i < nx - 1; ++i) {
      for (int j = 1; j < ny - 1; ++j) {
        const T* const c = g + i * slice + j * row;
        T* const o = out + i * slice + j * row;
#pragma omp simd
        for (int k = 1; k < nz - 1; ++k) {
          o[k] = stencilValue(c[k], c[k - slice], c[k + slice], c[k - row], c[k + row], c[k - 1],
                              c[k + 1]);
        }
      }
    }
  }
}

} // namespace voxgrid

#endif
