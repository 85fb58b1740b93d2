#ifndef VOXGRID_INDEX_FILL_H
#define VOXGRID_INDEX_FILL_H

#include <voxgrid/detail/block_sweeps.h>
#include <voxgrid/element.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace voxgrid {

// The fills of the suite's references: store each element's linear index into
// grid[0, n), split statically across the default team.

// One vectorised parallel loop of ordinary stores.
void fillIndex(int* grid, std::int64_t n);

// Whether this build has non-temporal stores (SSE2 or wider) for fillIndexStreaming.
bool haveStreamingStores();
// The same fill with non-temporal stores, which skip reading each cache line
// before writing it, as wide as the build targets; grid must be 64-byte aligned.
void fillIndexStreaming(int* grid, std::int64_t n);

// The index fill for any element type: element n holds elementValue<T>(n),
// 2^30 elements at a time, as the int fill goes, so that each loop's index is
// an int; int's is fillIndex itself.
template <class T> void fillValues(T* grid, std::int64_t n) {
  if constexpr (std::is_same_v<T, int>) {
    fillIndex(grid, n);
  } else {
    constexpr std::int64_t kChunk = std::int64_t{1} << 30;
    for (std::int64_t start = 0; start < n; start += kChunk) {
      T* const part = grid + start;
      const int count = static_cast<int>(std::min(n - start, kChunk));
      const ValueRun<T> value(start);
#pragma omp parallel for simd schedule(static)
      for (int index = 0; index < count; ++index) {
        part[index] = value[index];
      }
    }
  }
}

// The index fill of the ceiling's padded block: element (i, j, k) holds
// elementValue<T> of its linear index, padding left as it was; one parallel
// loop over the slices, each slice's rows one run where they are contiguous
// (and under 2^30 elements, so that the run's index is an int).
template <class T> void fillSlices(T* block, const BlockGeometry& b) {
  const std::int64_t sliceElements = std::int64_t{b.ny} * b.nz;
  const bool whole = b.row == b.nz && sliceElements <= (std::int64_t{1} << 30);
  const int runs = whole ? 1 : b.ny;
  const int length = whole ? static_cast<int>(sliceElements) : b.nz;
#pragma omp parallel for schedule(static)
  for (int i = 0; i < b.nx; ++i) {
    for (int r = 0; r < runs; ++r) {
      T* const run = block + i * b.slice + r * b.row;
      const ValueRun<T> value((std::int64_t{i} * b.ny + r) * b.nz);
#pragma omp simd
      for (int k = 0; k < length; ++k) {
        run[k] = value[k];
      }
    }
  }
}

} // namespace voxgrid

#endif
