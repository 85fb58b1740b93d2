#ifndef VOXGRID_SIMD_INTS_H
#define VOXGRID_SIMD_INTS_H

// 32-bit integer vectors as wide as the build targets (AVX-512, AVX2 or SSE2),
// for the references' kernels, whose stores are non-temporal (stream) or,
// for the plain copy's roof, plain (store): a ceiling is the machine's only
// when its vectors are as wide as the machine's. Defines
// VOXGRID_SIMD_INTS where the build has any; elsewhere the kernels stay scalar.

#if defined(__AVX512F__)
#include <immintrin.h>
#define VOXGRID_SIMD_INTS 1
namespace voxgrid::simd {
using Ints = __m512i;
using Mask = __mmask16;
constexpr int kLanes = 16;
inline Ints iota() {
  return _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}
inline Ints splat(int v) { return _mm512_set1_epi32(v); }
inline Ints load(const int* p) { return _mm512_loadu_si512(p); }
inline Ints add(Ints a, Ints b) { return _mm512_add_epi32(a, b); }
inline Ints sub(Ints a, Ints b) { return _mm512_sub_epi32(a, b); }
inline Mask equal(Ints a, Ints b) { return _mm512_cmpeq_epi32_mask(a, b); }
inline Mask either(Mask a, Mask b) { return static_cast<Mask>(a | b); }
inline Ints select(Mask m, Ints set, Ints clear) { return _mm512_mask_blend_epi32(m, clear, set); }
inline void store(int* p, Ints v) { _mm512_storeu_si512(p, v); }
// p must be 64-byte aligned.
inline void stream(int* p, Ints v) { _mm512_stream_si512(reinterpret_cast<Ints*>(p), v); }
} // namespace voxgrid::simd
#elif defined(__AVX2__)
#include <immintrin.h>
#define VOXGRID_SIMD_INTS 1
namespace voxgrid::simd {
using Ints = __m256i;
using Mask = __m256i;
constexpr int kLanes = 8;
inline Ints iota() { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }
inline Ints splat(int v) { return _mm256_set1_epi32(v); }
inline Ints load(const int* p) { return _mm256_loadu_si256(reinterpret_cast<const Ints*>(p)); }
inline Ints add(Ints a, Ints b) { return _mm256_add_epi32(a, b); }
inline Ints sub(Ints a, Ints b) { return _mm256_sub_epi32(a, b); }
inline Mask equal(Ints a, Ints b) { return _mm256_cmpeq_epi32(a, b); }
inline Mask either(Mask a, Mask b) { return _mm256_or_si256(a, b); }
inline Ints select(Mask m, Ints set, Ints clear) { return _mm256_blendv_epi8(clear, set, m); }
inline void store(int* p, Ints v) { _mm256_storeu_si256(reinterpret_cast<Ints*>(p), v); }
// p must be 32-byte aligned.
inline void stream(int* p, Ints v) { _mm256_stream_si256(reinterpret_cast<Ints*>(p), v); }
} // namespace voxgrid::simd
#elif defined(__SSE2__)
#include <emmintrin.h>
#define VOXGRID_SIMD_INTS 1
namespace voxgrid::simd {
using Ints = __m128i;
using Mask = __m128i;
constexpr int kLanes = 4;
inline Ints iota() { return _mm_setr_epi32(0, 1, 2, 3); }
inline Ints splat(int v) { return _mm_set1_epi32(v); }
inline Ints load(const int* p) { return _mm_loadu_si128(reinterpret_cast<const Ints*>(p)); }
inline Ints add(Ints a, Ints b) { return _mm_add_epi32(a, b); }
inline Ints sub(Ints a, Ints b) { return _mm_sub_epi32(a, b); }
inline Mask equal(Ints a, Ints b) { return _mm_cmpeq_epi32(a, b); }
inline Mask either(Mask a, Mask b) { return _mm_or_si128(a, b); }
inline Ints select(Mask m, Ints set, Ints clear) {
  return _mm_or_si128(_mm_and_si128(m, set), _mm_andnot_si128(m, clear));
}
inline void store(int* p, Ints v) { _mm_storeu_si128(reinterpret_cast<Ints*>(p), v); }
// p must be 16-byte aligned.
inline void stream(int* p, Ints v) { _mm_stream_si128(reinterpret_cast<Ints*>(p), v); }
} // namespace voxgrid::simd
#endif

#ifdef VOXGRID_SIMD_INTS
namespace voxgrid::simd {
// Each thread's streamed lines are globally visible before the team joins.
inline void fence() { _mm_sfence(); }
} // namespace voxgrid::simd
#endif

#endif
