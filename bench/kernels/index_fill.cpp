#include "index_fill.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void fillIndex(int* grid, int n) {
#pragma omp parallel for simd schedule(static)
  for (int index = 0; index < n; ++index) {
    grid[index] = index;
  }
}

#if defined(__SSE2__)
bool haveStreamingStores() { return true; }

void fillIndexStreaming(int* grid, int n) {
  const int vectors = n / 4;
#pragma omp parallel
  {
    const __m128i lanes = _mm_setr_epi32(0, 1, 2, 3);
#pragma omp for schedule(static) nowait
    for (int v = 0; v < vectors; ++v) {
      _mm_stream_si128(reinterpret_cast<__m128i*>(grid) + v,
                       _mm_add_epi32(_mm_set1_epi32(4 * v), lanes));
    }
    _mm_sfence(); // each member's streamed lines are globally visible before the join
  }
  for (int index = 4 * vectors; index < n; ++index) {
    grid[index] = index;
  }
}
#else
bool haveStreamingStores() { return false; }

void fillIndexStreaming(int* grid, int n) { fillIndex(grid, n); }
#endif
