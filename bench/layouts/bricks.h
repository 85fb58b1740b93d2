#ifndef VOXGRID_LAYOUT_BRICKS_H
#define VOXGRID_LAYOUT_BRICKS_H

#include "indexed_block.h"

#include <voxgrid/shape.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace voxgrid {

// Bricks of B x B x B elements, each contiguous (k fastest within it), the
// bricks themselves in storage order (brick k fastest), as voxel engines and
// stencil libraries keep a grid so that a neighbourhood along any axis is a
// few cache lines. A shape that is not a multiple of B ends in partial bricks
// stored whole: ceil(nx/B) x ceil(ny/B) x ceil(nz/B) bricks, so 3 x 1 x 500
// in 8^3 bricks spans 63 bricks, 32,256 slots for 1,500 elements.
template <int B> struct BrickRule {
  static_assert(B > 1 && (B & (B - 1)) == 0, "a brick's edge is a power of two");
  static constexpr int kShift = B == 2 ? 1 : B == 4 ? 2 : B == 8 ? 3 : B == 16 ? 4 : 5;
  static_assert((1 << kShift) == B, "bricks of 2 to 32");

  static std::ptrdiff_t bricks(int n) { return (std::ptrdiff_t{n} + B - 1) / B; }
  explicit BrickRule(const Shape& s) : bx(bricks(s.nx)), by(bricks(s.ny)), bz(bricks(s.nz)) {}
  std::size_t size() const { return static_cast<std::size_t>(bx * by * bz) * B * B * B; }
  static std::size_t tableBytes() { return 0; }
  auto view() const {
    return [by = by, bz = bz](int i, int j, int k) {
      constexpr int m = B - 1, s = kShift;
      const std::ptrdiff_t brick = ((std::ptrdiff_t{i >> s} * by) + (j >> s)) * bz + (k >> s);
      return (brick << (3 * s)) + ((((i & m) << s) + (j & m)) << s) + (k & m);
    };
  }

  std::ptrdiff_t bx, by, bz;
};

// Bricks with the loops their users write: brick by brick, each thread its
// own slabs of bricks, every brick's elements in storage order. Whole bricks
// are one contiguous run; a partial brick reads only its elements.
template <int B> class Bricks : public IndexedBlock<BrickRule<B>> {
public:
  using IndexedBlock<BrickRule<B>>::IndexedBlock;
  static constexpr std::ptrdiff_t kPlane = std::ptrdiff_t{B} * B;
  static constexpr std::ptrdiff_t kBrick = kPlane * B;
  static constexpr std::ptrdiff_t kLastRow = kPlane - B, kLastPlane = kBrick - kPlane;

  std::int64_t ownSum() const {
    const BrickRule<B>& r = this->rule();
    const int* const d = this->data();
    const Shape s = this->shape();
    std::int64_t total = 0;
#pragma omp parallel for schedule(static) reduction(+ : total)
    for (std::ptrdiff_t bi = 0; bi < r.bx; ++bi) {
      const int ni = std::min<int>(B, s.nx - int(bi) * B);
      for (std::ptrdiff_t bj = 0; bj < r.by; ++bj) {
        const int nj = std::min<int>(B, s.ny - int(bj) * B);
        for (std::ptrdiff_t bk = 0; bk < r.bz; ++bk) {
          const int nk = std::min<int>(B, s.nz - int(bk) * B);
          const int* const brick = d + ((bi * r.by + bj) * r.bz + bk) * kBrick;
          if (ni == B && nj == B && nk == B) {
            for (std::ptrdiff_t n = 0; n < kBrick; ++n) {
              total += brick[n];
            }
            continue;
          }
          for (int ii = 0; ii < ni; ++ii) {
            for (int jj = 0; jj < nj; ++jj) {
              for (int kk = 0; kk < nk; ++kk) {
                total += brick[(ii * B + jj) * B + kk];
              }
            }
          }
        }
      }
    }
    return total;
  }

  // The 7-point stencil brick by brick. Bricks are in storage order, so the
  // brick beside this one is 1 brick away along k, bz along j and by*bz along
  // i: every neighbouring row is a fixed offset, in this brick or the next,
  // and only a row's two ends reach along k.
  void ownStencil(Bricks& out) const {
    const BrickRule<B>& r = this->rule();
    const int* const in = this->data();
    int* const o = out.data();
    const Shape s = this->shape();
    const std::ptrdiff_t alongJ = r.bz * kBrick, alongI = r.by * r.bz * kBrick;
#pragma omp parallel for schedule(static)
    for (std::ptrdiff_t bi = 0; bi < r.bx; ++bi) {
      for (std::ptrdiff_t bj = 0; bj < r.by; ++bj) {
        for (std::ptrdiff_t bk = 0; bk < r.bz; ++bk) {
          const int i0 = int(bi) * B, j0 = int(bj) * B, k0 = int(bk) * B;
          const std::ptrdiff_t base = ((bi * r.by + bj) * r.bz + bk) * kBrick;
          const int iEnd = std::min(i0 + B, s.nx - 1), jEnd = std::min(j0 + B, s.ny - 1);
          const int kBegin = std::max(k0, 1) - k0, kEnd = std::min(k0 + B, s.nz - 1) - k0;
          for (int i = std::max(i0, 1); i < iEnd; ++i) {
            for (int j = std::max(j0, 1); j < jEnd; ++j) {
              const int ii = i - i0, jj = j - j0;
              const std::ptrdiff_t at = base + static_cast<std::ptrdiff_t>(ii * B + jj) * B;
              const int* const c = in + at;
              const int* const jm = jj > 0 ? c - B : c - alongJ + kLastRow;
              const int* const jp = jj < B - 1 ? c + B : c + alongJ - kLastRow;
              const int* const im = ii > 0 ? c - kPlane : c - alongI + kLastPlane;
              const int* const ip = ii < B - 1 ? c + kPlane : c + alongI - kLastPlane;
              int* const row = o + at;
              const auto cell = [&](int kk, int km, int kp) {
                row[kk] = point(c[kk], km, kp, jm[kk], jp[kk], im[kk], ip[kk]);
              };
              if (kBegin == 0 && kEnd == B) { // a whole row, B wide: no branch, no alias
                wholeRow(row, c, c[B - 1 - kBrick], c[kBrick], jm, jp, im, ip);
                continue;
              }
              const int first = std::max(kBegin, 1), last = std::min(kEnd, B - 1);
              if (kBegin == 0 && kEnd > 0) {
                cell(0, c[B - 1 - kBrick], c[1]); // k - 1 in the brick before along k
              }
              for (int kk = first; kk < last; ++kk) {
                cell(kk, c[kk - 1], c[kk + 1]);
              }
              if (kEnd == B) {
                cell(B - 1, c[B - 2], c[kBrick]); // k + 1 in the brick after
              }
            }
          }
        }
      }
    }
  }

private:
  // 6 c minus its six neighbours, wrapping as the generic stencil does.
  static int point(int c, int km, int kp, int jm, int jp, int im, int ip) {
    const auto u = [](int v) { return static_cast<unsigned>(v); };
    return static_cast<int>(6u * u(c) - u(km) - u(kp) - u(jm) - u(jp) - u(im) - u(ip));
  }
  // One row of B outputs; the output is another block than the inputs, which
  // the compiler cannot see on its own, and without it leaves the row scalar.
  static void wholeRow(int* __restrict row, const int* __restrict c, int before, int after,
                       const int* __restrict jm, const int* __restrict jp, const int* __restrict im,
                       const int* __restrict ip) {
    int left[B], right[B];
    left[0] = before;
    right[B - 1] = after;
    for (int kk = 1; kk < B; ++kk) {
      left[kk] = c[kk - 1];
      right[kk - 1] = c[kk];
    }
    for (int kk = 0; kk < B; ++kk) {
      row[kk] = point(c[kk], left[kk], right[kk], jm[kk], jp[kk], im[kk], ip[kk]);
    }
  }
};

using Bricks4 = Bricks<4>;
using Bricks8 = Bricks<8>;

} // namespace voxgrid

#endif
