#include "index_fill.h"

#include "simd_ints.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace voxgrid {

namespace {
// A grid past 2^30 elements is filled 2^30 at a time, so that each loop's
// index is an int, as wide as the vectors; element n holds n mod 2^31, as an
// int32 grid does (elementValue).
constexpr std::int64_t kChunk = std::int64_t{1} << 30;

template <class Fill> void inChunks(int* grid, std::int64_t n, Fill fill) {
  for (std::int64_t start = 0; start < n; start += kChunk) {
    fill(grid + start, static_cast<int>(std::min(n - start, kChunk)),
         static_cast<int>(start & 0x7fffffff));
  }
}
} // namespace

void fillIndex(int* grid, std::int64_t n) {
  inChunks(grid, n, [](int* part, int count, int base) {
#pragma omp parallel for simd schedule(static)
    for (int index = 0; index < count; ++index) {
      part[index] = base + index;
    }
  });
}

#ifdef VOXGRID_SIMD_INTS
bool haveStreamingStores() { return true; }

void fillIndexStreaming(int* grid, std::int64_t n) {
  inChunks(grid, n, [](int* part, int count, int base) {
    using namespace simd;
    const int vectors = count / kLanes;
#pragma omp parallel
    {
      const Ints first = add(iota(), splat(base));
#pragma omp for schedule(static) nowait
      for (int v = 0; v < vectors; ++v) {
        stream(part + std::ptrdiff_t{kLanes} * v, add(splat(kLanes * v), first));
      }
      fence();
    }
    for (int index = kLanes * vectors; index < count; ++index) {
      part[index] = base + index;
    }
  });
}
#else
bool haveStreamingStores() { return false; }

void fillIndexStreaming(int* grid, std::int64_t n) { fillIndex(grid, n); }
#endif

} // namespace voxgrid
