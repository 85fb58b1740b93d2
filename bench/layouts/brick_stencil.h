#ifndef VOXGRID_LAYOUT_BRICK_STENCIL_H
#define VOXGRID_LAYOUT_BRICK_STENCIL_H

#include <voxgrid/detail/stencil.h>

#include <cstddef>

namespace voxgrid {

// One brick of B x B x B elements (k fastest, then j, then i) and the six
// bricks beside it, each contiguous, wherever they are stored: in one block
// (bricks) or one allocation each (OpenVDB's leaves). A neighbour past the
// grid's edge is null and never read, since no interior point reaches it.
template <class T> struct BrickNeighbours {
  const T* self;
  const T *im, *ip, *jm, *jp, *km, *kp;
};

namespace brick_detail {

// One row of B outputs; the output is another block than the inputs, which
// the compiler cannot see on its own, and without it leaves the row scalar.
template <int B, class T>
void wholeRow(T* __restrict row, const T* __restrict c, T before, T after, const T* __restrict jm,
              const T* __restrict jp, const T* __restrict im, const T* __restrict ip) {
  T left[B], right[B];
  left[0] = before;
  right[B - 1] = after;
  for (int kk = 1; kk < B; ++kk) {
    left[kk] = c[kk - 1];
    right[kk - 1] = c[kk];
  }
  for (int kk = 0; kk < B; ++kk) {
    row[kk] = stencilValue(c[kk], im[kk], ip[kk], jm[kk], jp[kk], left[kk], right[kk]);
  }
}

} // namespace brick_detail

// The 7-point stencil over the brick's elements [i0, i1) x [j0, j1) x [k0, k1)
// (brick-local: the grid's interior within this brick), written to `out`, the
// same brick of the output grid. Every neighbouring row is in this brick or
// the one beside it; only a row's two ends reach along k.
template <int B, class T>
void stencilBrick(T* out, const BrickNeighbours<T>& n, int i0, int i1, int j0, int j1, int k0,
                  int k1) {
  constexpr std::ptrdiff_t kPlane = std::ptrdiff_t{B} * B, kBrick = kPlane * B;
  constexpr std::ptrdiff_t kLastRow = kPlane - B, kLastPlane = kBrick - kPlane;
  for (int ii = i0; ii < i1; ++ii) {
    for (int jj = j0; jj < j1; ++jj) {
      const std::ptrdiff_t at = (std::ptrdiff_t{ii} * B + jj) * B;
      const T* const c = n.self + at;
      const T* const jm = jj > 0 ? c - B : n.jm + at + kLastRow;
      const T* const jp = jj < B - 1 ? c + B : n.jp + at - kLastRow;
      const T* const im = ii > 0 ? c - kPlane : n.im + at + kLastPlane;
      const T* const ip = ii < B - 1 ? c + kPlane : n.ip + at - kLastPlane;
      T* const row = out + at;
      if (k0 == 0 && k1 == B) { // a whole row, B wide: no branch, no alias
        brick_detail::wholeRow<B>(row, c, n.km[at + B - 1], n.kp[at], jm, jp, im, ip);
        continue;
      }
      const auto cell = [&](int kk, T km, T kp) {
        row[kk] = stencilValue(c[kk], im[kk], ip[kk], jm[kk], jp[kk], km, kp);
      };
      if (k0 == 0 && k1 > 0) {
        cell(0, n.km[at + B - 1], c[1]); // k - 1 in the brick before along k
      }
      for (int kk = k0 > 1 ? k0 : 1; kk < (k1 < B - 1 ? k1 : B - 1); ++kk) {
        cell(kk, c[kk - 1], c[kk + 1]);
      }
      if (k1 == B) {
        cell(B - 1, c[B - 2], n.kp[at]); // k + 1 in the brick after
      }
    }
  }
}

} // namespace voxgrid

#endif
