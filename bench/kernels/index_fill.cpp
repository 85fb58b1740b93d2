#include "index_fill.h"

#if defined(__AVX2__) || defined(__AVX512F__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace voxgrid {

void fillIndex(int* grid, int n) {
#pragma omp parallel for simd schedule(static)
  for (int index = 0; index < n; ++index) {
    grid[index] = index;
  }
}

// Non-temporal stores of the widest vectors the build targets: the streaming
// ceiling is the machine's only when its stores are as wide as the machine's.
#if defined(__AVX512F__)
namespace {
using Vector = __m512i;
constexpr int kLanes = 16;
inline Vector lanes() {
  return _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}
inline void stream(int* grid, int v, Vector first) {
  _mm512_stream_si512(reinterpret_cast<Vector*>(grid) + v,
                      _mm512_add_epi32(_mm512_set1_epi32(kLanes * v), first));
}
} // namespace
#elif defined(__AVX2__)
namespace {
using Vector = __m256i;
constexpr int kLanes = 8;
inline Vector lanes() { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }
inline void stream(int* grid, int v, Vector first) {
  _mm256_stream_si256(reinterpret_cast<Vector*>(grid) + v,
                      _mm256_add_epi32(_mm256_set1_epi32(kLanes * v), first));
}
} // namespace
#elif defined(__SSE2__)
namespace {
using Vector = __m128i;
constexpr int kLanes = 4;
inline Vector lanes() { return _mm_setr_epi32(0, 1, 2, 3); }
inline void stream(int* grid, int v, Vector first) {
  _mm_stream_si128(reinterpret_cast<Vector*>(grid) + v,
                   _mm_add_epi32(_mm_set1_epi32(kLanes * v), first));
}
} // namespace
#endif

#if defined(__SSE2__)
bool haveStreamingStores() { return true; }

void fillIndexStreaming(int* grid, int n) {
  const int vectors = n / kLanes;
#pragma omp parallel
  {
    const Vector first = lanes();
#pragma omp for schedule(static) nowait
    for (int v = 0; v < vectors; ++v) {
      stream(grid, v, first);
    }
    _mm_sfence(); // each member's streamed lines are globally visible before the join
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
