#include "index_fill.h"

#include "simd_ints.h"

#include <cstddef>

namespace voxgrid {

void fillIndex(int* grid, int n) {
#pragma omp parallel for simd schedule(static)
  for (int index = 0; index < n; ++index) {
    grid[index] = index;
  }
}

#ifdef VOXGRID_SIMD_INTS
bool haveStreamingStores() { return true; }

void fillIndexStreaming(int* grid, int n) {
  using namespace simd;
  const int vectors = n / kLanes;
#pragma omp parallel
  {
    const Ints first = iota();
#pragma omp for schedule(static) nowait
    for (int v = 0; v < vectors; ++v) {
      stream(grid + std::ptrdiff_t{kLanes} * v, add(splat(kLanes * v), first));
    }
    fence();
  }
  for (int index = kLanes * vectors; index < n; ++index) {
    grid[index] = index;
  }
}
#else
bool haveStreamingStores() { return false; }

void fillIndexStreaming(int* grid, int n) { fillIndex(grid, n); }
#endif

} // namespace voxgrid
