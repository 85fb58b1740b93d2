#ifndef VOXGRID_DETAIL_BLOCK_SWEEPS_H
#define VOXGRID_DETAIL_BLOCK_SWEEPS_H

#include <voxgrid/detail/stencil.h>
#include <voxgrid/element.h>
#include <voxgrid/shape.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace voxgrid {

// The ceiling's own kernels over its one block: the same results as the
// layouts' sweeps, written as tuned code writes them, so that "x ceiling"
// measures a layout against what the machine allows and not against code
// every layout shares.

// The lines a line sweep takes at a time: up to this many elements side by
// side, each with its own running sum, so that every 64-byte line it reads is
// used whole. Their sums (16 KiB at 8 bytes) stay in L1.
constexpr int kLinesAtATime = 2048;

// Where element (i, j, k) of the ceiling's block lives: rows of nz elements,
// each slice of ny rows padded to an odd number of 64-byte lines, so that
// slice i + 1 starts on a line and in other cache sets than slice i (a line
// along i then visits every set, and no two slices share a line). Rows stay
// nz apart, as in any row-major grid, except rows longer than the lines a
// sweep takes at a time: those are padded to whole lines, so that a row cut
// into parts shares no line between them.
struct BlockGeometry {
  int nx = 0, ny = 0, nz = 0;
  std::int64_t row = 0, slice = 0; // strides, in elements
  std::int64_t size() const { return nx * slice; }
  std::int64_t at(int i, int j, int k) const { return i * slice + j * row + k; }
};

template <class T> BlockGeometry blockGeometry(const Shape& s) {
  constexpr std::int64_t line = 64 / sizeof(T);
  const auto lines = [](std::int64_t n) { return (n + line - 1) / line * line; };
  BlockGeometry b{s.nx, s.ny, s.nz, s.nz, 0};
  if (s.nz > kLinesAtATime) {
    b.row = lines(s.nz);
  }
  b.slice = lines(std::int64_t{s.ny} * b.row);
  if (b.slice / line % 2 == 0) {
    b.slice += line;
  }
  return b;
}

// The block's element access, as the checks and the other sweeps read it.
template <class T> auto blockAt(T* d, const BlockGeometry& b) {
  return [d, row = b.row, slice = b.slice](int i, int j, int k) -> T& {
    return d[i * slice + j * row + k];
  };
}

// Every element, one stream per slice (its rows back to back where they are
// contiguous), added up as SumOf<T>.
template <class T> SumOf<T> sumBlockOf(const T* g, const BlockGeometry& b) {
  const int runs = b.row == b.nz ? 1 : b.ny;
  const std::int64_t length = runs == 1 ? static_cast<std::int64_t>(b.ny) * b.nz : b.nz;
  SumOf<T> total = 0;
#pragma omp parallel for schedule(static) reduction(+ : total)
  for (int i = 0; i < b.nx; ++i) {
    for (int r = 0; r < runs; ++r) {
      const T* const run = g + i * b.slice + r * b.row;
      SumOf<T> part = 0;
#pragma omp simd reduction(+ : part)
      for (std::int64_t p = 0; p < length; ++p) {
        part += run[p];
      }
      total += part;
    }
  }
  return total;
}

namespace block_detail {
// sums[0, w) += line[0, w): one step along the lines taken together.
template <class T, class S> inline void addLines(S* sums, const T* line, std::int64_t w) {
#pragma omp simd
  for (std::int64_t c = 0; c < w; ++c) {
    sums[c] += line[c];
  }
}
} // namespace block_detail

// Lines along j, as a tuned line solver takes them: for each slice, up to
// kLinesAtATime lines side by side (k), each step along j reading the next
// row's part, which in a row-major slice is the next stretch of memory. The
// lines' sums are added up once each line is done. One parallel loop over i.
template <class T> SumOf<T> linesJBlockOf(const T* g, const BlockGeometry& b) {
  using S = SumOf<T>;
  S total = 0;
#pragma omp parallel reduction(+ : total)
  {
    alignas(64) S sums[kLinesAtATime];
#pragma omp for schedule(static)
    for (int i = 0; i < b.nx; ++i) {
      for (int k0 = 0; k0 < b.nz; k0 += kLinesAtATime) {
        const int w = std::min(kLinesAtATime, b.nz - k0);
        std::fill(sums, sums + w, S{0});
        const T* line = g + i * b.slice + k0;
        for (int j = 0; j < b.ny; ++j, line += b.row) {
          block_detail::addLines(sums, line, w);
        }
        for (int c = 0; c < w; ++c) {
          total += sums[c];
        }
      }
    }
  }
  return total;
}

// Lines along i, as a tuned line solver takes them across slices: a slice's
// rows cut into parts of kLinesAcrossSlices elements (whole 64-byte lines,
// since each slice starts on a line), each part's lines taken together, their
// running sums held in registers, each step along i reading the same part of
// the next slice. Each step lands on another page, where the hardware's
// prefetcher stops, so the part kSlicesAhead slices on is asked for while
// this one is read. Sums kept in memory instead, for parts as wide as a page
// or more, halved the rate here: their loads and stores, not memory, bound
// it. Row padding, where there is any, is read with its line and left out of
// the sum. One parallel loop over the parts.
constexpr int kLinesAcrossSlices = 128, kSlicesAhead = 16;

template <class T> SumOf<T> linesIBlockOf(const T* g, const BlockGeometry& b) {
  using S = SumOf<T>;
  constexpr int kWidth = kLinesAcrossSlices, kLine = 64 / sizeof(T);
  const std::int64_t span = std::int64_t{b.ny} * b.row;
  const std::int64_t parts = (span + kWidth - 1) / kWidth;
  const auto useful = [&b](std::int64_t at) { return b.row == b.nz || at % b.row < b.nz; };
  S total = 0;
#pragma omp parallel for schedule(static) reduction(+ : total)
  for (std::int64_t part = 0; part < parts; ++part) {
    const std::int64_t lo = part * kWidth;
    const int w = static_cast<int>(std::min<std::int64_t>(kWidth, span - lo));
    S sums[kWidth] = {};
    const T* at = g + lo;
    if (w == kWidth) { // a whole part: its fixed width keeps the sums in registers
      for (int i = 0; i < b.nx; ++i, at += b.slice) {
        if (i + kSlicesAhead < b.nx) {
          for (int c = 0; c < kWidth; c += kLine) {
            __builtin_prefetch(at + kSlicesAhead * b.slice + c);
          }
        }
#pragma GCC unroll 128
        for (int c = 0; c < kWidth; ++c) {
          sums[c] += at[c];
        }
      }
    } else { // the slice's last part, narrower
      for (int i = 0; i < b.nx; ++i, at += b.slice) {
        for (int c = 0; c < w; ++c) {
          sums[c] += at[c];
        }
      }
    }
    for (int c = 0; c < w; ++c) {
      total += useful(lo + c) ? sums[c] : S{0};
    }
  }
  return total;
}

// int's stencil: out = the 7-point stencil of g inside, g itself on the
// boundary: every element of out written once, with non-temporal stores as
// wide as the build where it has them, so the sweep moves what a copy moves
// (read g, write out) and nothing more; slices swept in blocks of rows that
// keep three slices' worth in L2 (the layer condition). out must be 64-byte
// aligned, and laid out as g.
void stencilBlock(const int* g, int* out, const BlockGeometry& b);

// The same for every element type: int's is the kernel above; the others'
// one flat loop per row with plain stores, leaving out's boundary as it was,
// as the layouts' stencil does.
template <class T> void stencilBlockOf(const T* g, T* out, const BlockGeometry& b) {
  if constexpr (std::is_same_v<T, int>) {
    stencilBlock(g, out, b);
  } else {
    const std::ptrdiff_t row = b.row, slice = b.slice;
#pragma omp parallel for schedule(static)
    for (int i = 1; i < b.nx - 1; ++i) {
      for (int j = 1; j < b.ny - 1; ++j) {
        const T* const c = g + i * slice + j * row;
        T* const o = out + i * slice + j * row;
#pragma omp simd
        for (int k = 1; k < b.nz - 1; ++k) {
          o[k] = stencilValue(c[k], c[k - slice], c[k + slice], c[k - row], c[k + row], c[k - 1],
                              c[k + 1]);
        }
      }
    }
  }
}

// The roofs' kernels, over the first `bytes` of 64-byte aligned blocks, whatever
// their element type (as 32-bit words; a tail under a word is left out):
// a read-only pass, whose wrapping sum it returns so that no load is dropped;
// a copy with plain stores; and a copy with non-temporal stores, which returns
// false, copying nothing, where the build has none.
unsigned loadPass(const void* block, std::int64_t bytes);
void copyPass(const void* from, void* to, std::int64_t bytes);
bool copyPassStreaming(const void* from, void* to, std::int64_t bytes);

} // namespace voxgrid

#endif
