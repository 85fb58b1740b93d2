#include <voxgrid/detail/block_sweeps.h>

#include "simd_ints.h"

#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <numeric>

namespace voxgrid {

namespace {

// Flat strides: to the next row (j + 1) and to the next slice (i + 1).
struct Strides {
  std::int64_t row, slice, count; // count: the block's elements
};

// The stencil at flat index p, in wrapping unsigned arithmetic as the layouts'.
inline int stencilAt(const int* g, std::int64_t p, Strides s) {
  const auto u = [](int v) { return static_cast<unsigned>(v); };
  return static_cast<int>(6u * u(g[p]) - u(g[p - s.slice]) - u(g[p + s.slice]) - u(g[p - s.row]) -
                          u(g[p + s.row]) - u(g[p - 1]) - u(g[p + 1]));
}

#ifdef VOXGRID_SIMD_INTS
constexpr std::int64_t kLanes = simd::kLanes;

// The next slice is the one stream that comes from memory; the other two were
// read a slice ago. The hardware prefetcher, which stops at each 4 KiB page,
// keeps too few of its lines in flight beside the other two streams: asking
// for them 8 KiB ahead, into L2, made the stencil about 1.3x faster here at
// one and two threads.
constexpr std::int64_t kAhead = 8192 / sizeof(int), kLineInts = 64 / sizeof(int);

// The vectors of [lo, hi) whose stores can stream: from lo rounded up to a
// whole vector to hi rounded down; elements outside them take plain stores.
struct Body {
  std::int64_t first, last;
};
inline Body bodyOf(std::int64_t lo, std::int64_t hi) {
  const std::int64_t first = (lo + kLanes - 1) / kLanes * kLanes, last = hi / kLanes * kLanes;
  return first < last ? Body{first, last} : Body{hi, hi};
}
#endif

// out = g over [lo, hi).
void copyRange(const int* g, int* out, std::int64_t lo, std::int64_t hi) {
  std::int64_t p = lo;
#ifdef VOXGRID_SIMD_INTS
  const Body body = bodyOf(lo, hi);
  for (; p < body.first; ++p) {
    out[p] = g[p];
  }
  for (; p < body.last; p += kLanes) {
    simd::stream(out + p, simd::load(g + p));
  }
#endif
  for (; p < hi; ++p) {
    out[p] = g[p];
  }
}

// Whole rows of an interior slice, [lo, hi), lo a row's start: the stencil
// inside each row, g at each row's two ends (k = 0 and nz - 1).
void stencilRows(const int* g, int* out, std::int64_t lo, std::int64_t hi, int nz, Strides s) {
  const auto scalar = [&](std::int64_t p) {
    const std::int64_t k = (p - lo) % nz;
    out[p] = k == 0 || k == nz - 1 ? g[p] : stencilAt(g, p, s);
  };
  std::int64_t p = lo;
#ifdef VOXGRID_SIMD_INTS
  // A vector crosses at most one row's end when rows are at least a vector long.
  if (nz >= kLanes) {
    using namespace simd;
    const Body body = bodyOf(lo, hi);
    for (; p < body.first; ++p) {
      scalar(p);
    }
    const Ints lanes = iota(), rowStart = splat(0), rowLast = splat(nz - 1), nextRow = splat(nz);
    const int step = static_cast<int>(kLanes % nz);
    int k = static_cast<int>((p - lo) % nz); // k of the vector's first lane
    for (; p < body.last; p += kLanes) {
      // One prefetch per 64-byte line, not per vector.
      if (p % kLineInts == 0 && p + s.slice + kAhead < s.count) {
        __builtin_prefetch(g + p + s.slice + kAhead, 0, 2); // 2: into L2
      }
      const Ints c = load(g + p);
      const Ints twice = add(c, c);
      Ints v = add(add(twice, twice), twice); // 6 c
      v = sub(v, load(g + p - s.slice));
      v = sub(v, load(g + p + s.slice));
      v = sub(v, load(g + p - s.row));
      v = sub(v, load(g + p + s.row));
      v = sub(v, load(g + p - 1));
      v = sub(v, load(g + p + 1));
      // Only a vector that holds a row's first or last element pays for the
      // mask that keeps g there: in SSE2 the mask on every vector had cost
      // a fifth of the stencil's time.
      if (k != 0 && k + kLanes < nz) {
        stream(out + p, v);
      } else {
        const Ints ks = add(splat(k), lanes);
        const Mask ends =
            either(equal(ks, rowStart), either(equal(ks, rowLast), equal(ks, nextRow)));
        stream(out + p, select(ends, c, v));
      }
      k += step;
      k -= k >= nz ? nz : 0;
    }
  }
#endif
  for (; p < hi; ++p) {
    scalar(p);
  }
}

// The layer condition: a sweep along i re-reads slices i - 1 and i from cache
// only while three slices' worth of the rows it covers fit in L2 beside
// what else passes through. Half of L2 is left to them; where a whole slice
// is more, the slices are cut into blocks of rows, each swept along i.
// Read once when the program starts, not inside a timed pass.
const long kL2Bytes = sysconf(_SC_LEVEL2_CACHE_SIZE);

std::int64_t rowsPerBlock(int ny, int nz) {
  const std::int64_t budget = (kL2Bytes > 0 ? kL2Bytes : 512L * 1024) / 2;
  const std::int64_t rowBytes = std::int64_t{nz} * static_cast<std::int64_t>(sizeof(int));
  if (rowBytes == 0) {
    return std::max(ny, 1); // an empty grid: one block, nothing in it
  }
  return std::max<std::int64_t>(1, std::min<std::int64_t>(ny, budget / (3 * rowBytes)));
}

// Rows [j0, j1) of slice i, through `each` over ranges of whole rows: one
// range where rows are contiguous, one per row where they are padded.
template <class Each>
void forRows(const BlockGeometry& b, int i, std::int64_t j0, std::int64_t j1, Each each) {
  const std::int64_t slice = i * b.slice;
  if (b.row == b.nz) {
    each(slice + j0 * b.row, slice + j1 * b.row);
    return;
  }
  for (std::int64_t j = j0; j < j1; ++j) {
    each(slice + j * b.row, slice + j * b.row + b.nz);
  }
}

} // namespace

void stencilBlock(const int* g, int* out, const BlockGeometry& b) {
  const int nx = b.nx, ny = b.ny, nz = b.nz;
  const Strides s{b.row, b.slice, b.size()};
  const std::int64_t block = rowsPerBlock(ny, nz);
  const auto copy = [&](std::int64_t lo, std::int64_t hi) { copyRange(g, out, lo, hi); };
  const auto stencil = [&](std::int64_t lo, std::int64_t hi) {
    stencilRows(g, out, lo, hi, nz, s);
  };
#pragma omp parallel
  {
    // The slices a static schedule gives this thread, as the fill's loop does.
    const int team = omp_get_num_threads(), t = omp_get_thread_num();
    const int share = nx / team, extra = nx % team;
    const int iLo = t * share + std::min(t, extra), iHi = iLo + share + (t < extra ? 1 : 0);
    for (std::int64_t j0 = 0; j0 < ny; j0 += block) {
      const std::int64_t j1 = std::min<std::int64_t>(ny, j0 + block);
      for (int i = iLo; i < iHi; ++i) {
        if (i == 0 || i == nx - 1 || ny < 3 || nz < 3) {
          forRows(b, i, j0, j1, copy);
          continue;
        }
        const std::int64_t jA = std::max<std::int64_t>(j0, 1),
                           jB = std::min<std::int64_t>(j1, ny - 1);
        if (j0 == 0) {
          forRows(b, i, 0, 1, copy);
        }
        if (jA < jB) {
          forRows(b, i, jA, jB, stencil);
        }
        if (j1 == ny) {
          forRows(b, i, ny - 1, ny, copy);
        }
      }
    }
#ifdef VOXGRID_SIMD_INTS
    simd::fence();
#endif
  }
}

namespace {
// The whole vectors of `bytes`, and each thread's share of them.
struct Share {
  std::int64_t lo, hi;
};
Share shareOf(std::int64_t count) {
  const std::int64_t team = omp_get_num_threads(), t = omp_get_thread_num();
  return {count * t / team, count * (t + 1) / team};
}
} // namespace

#ifdef VOXGRID_SIMD_INTS
unsigned loadPass(const void* block, std::int64_t bytes) {
  const int* const words = static_cast<const int*>(block);
  const std::int64_t vectors = bytes / (kLanes * 4);
  unsigned total = 0;
#pragma omp parallel reduction(+ : total)
  {
    const Share part = shareOf(vectors);
    // Four sums, so that the adds do not wait on one another.
    simd::Ints a = simd::splat(0), b = simd::splat(0), c = simd::splat(0), d = simd::splat(0);
    std::int64_t v = part.lo;
    for (; v + 4 <= part.hi; v += 4) {
      const int* const p = words + v * kLanes;
      a = simd::add(a, simd::load(p));
      b = simd::add(b, simd::load(p + kLanes));
      c = simd::add(c, simd::load(p + 2 * kLanes));
      d = simd::add(d, simd::load(p + 3 * kLanes));
    }
    for (; v < part.hi; ++v) {
      a = simd::add(a, simd::load(words + v * kLanes));
    }
    alignas(64) int lanes[kLanes];
    simd::store(lanes, simd::add(simd::add(a, b), simd::add(c, d)));
    total += std::accumulate(lanes, lanes + kLanes, 0u,
                             [](unsigned t, int lane) { return t + static_cast<unsigned>(lane); });
  }
  return total;
}

// One copy with plain stores or with non-temporal ones, which skip reading each
// destination line first.
template <bool Streaming> void copyWith(const void* from, void* to, std::int64_t bytes) {
  const int* const in = static_cast<const int*>(from);
  int* const out = static_cast<int*>(to);
  const std::int64_t vectors = bytes / (kLanes * 4);
#pragma omp parallel
  {
    const Share part = shareOf(vectors);
    for (std::int64_t v = part.lo; v < part.hi; ++v) {
      if constexpr (Streaming) {
        simd::stream(out + v * kLanes, simd::load(in + v * kLanes));
      } else {
        simd::store(out + v * kLanes, simd::load(in + v * kLanes));
      }
    }
    if constexpr (Streaming) {
      simd::fence();
    }
  }
}

void copyPass(const void* from, void* to, std::int64_t bytes) { copyWith<false>(from, to, bytes); }

bool copyPassStreaming(const void* from, void* to, std::int64_t bytes) {
  copyWith<true>(from, to, bytes);
  return true;
}
#else
unsigned loadPass(const void* block, std::int64_t bytes) {
  const int* const words = static_cast<const int*>(block);
  const std::int64_t n = bytes / 4;
  unsigned total = 0;
#pragma omp parallel for simd schedule(static) reduction(+ : total)
  for (std::int64_t p = 0; p < n; ++p) {
    total += static_cast<unsigned>(words[p]);
  }
  return total;
}

void copyPass(const void* from, void* to, std::int64_t bytes) {
  const int* const in = static_cast<const int*>(from);
  int* const out = static_cast<int*>(to);
  const std::int64_t n = bytes / 4;
#pragma omp parallel for simd schedule(static)
  for (std::int64_t p = 0; p < n; ++p) {
    out[p] = in[p];
  }
}

bool copyPassStreaming(const void*, void*, std::int64_t) { return false; }
#endif

} // namespace voxgrid
