#ifndef VOXGRID_DETAIL_STENCIL_PROBE_H
#define VOXGRID_DETAIL_STENCIL_PROBE_H

#include <voxgrid/access.h>
#include <voxgrid/detail/seeded_random.h>
#include <voxgrid/element.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace voxgrid {

// What the stencil's input holds while it is timed, and what its output must
// then hold. The fill's linear index cannot check a stencil: on anything linear
// in (i, j, k) two opposite neighbours add up to twice the centre at any
// offset, so a stencil that reads a wrong neighbour still gives zero. Here each
// axis adds its own seeded random term, a(i) + b(j) + c(k), so a neighbour read
// along the wrong axis, at the wrong distance, or written to the wrong place
// gives a different value. The terms keep 20 bits, so three of them stay an
// int; the stencil's unsigned arithmetic is reproduced exactly, and cut to
// uint16 or uint8 as the stencil's is. For float and double they keep 14, so
// that every value and the stencil of it stay exact in float.
class StencilProbe {
public:
  StencilProbe(int nx, int ny, int nz, ElementType element = ElementType::kInt32) {
    const bool floating = element == ElementType::kFloat || element == ElementType::kDouble;
    const std::uint64_t keep = floating ? 0x3fff : 0xfffff;
    const int extents[3] = {nx, ny, nz};
    SeededRandom random(0x7374656e63696c31ULL); // any fixed seed: the check is exact
    for (int axis = 0; axis < 3; ++axis) {
      const std::size_t n = extents[axis] > 0 ? static_cast<std::size_t>(extents[axis]) : 0;
      term_[axis].resize(n);
      std::generate(term_[axis].begin(), term_[axis].end(),
                    [&] { return static_cast<unsigned>(random.next() & keep); });
      // The stencil, split by axis: 6 c - sum of neighbours = sum over axes of
      // (2 t(x) - t(x - 1) - t(x + 1)); ends are boundary and never read.
      second_[axis].assign(n, 0);
      for (std::size_t x = 1; x + 1 < n; ++x) {
        second_[axis][x] = 2u * term_[axis][x] - term_[axis][x - 1] - term_[axis][x + 1];
      }
    }
    inside_[0] = nx - 1;
    inside_[1] = ny - 1;
    inside_[2] = nz - 1;
    const std::size_t n = term_[2].size();
    innerK_.assign(n, 0);
    for (std::size_t k = 1; k + 1 < n; ++k) {
      innerK_[k] = ~0u;
    }
  }

  // Row (i, j) of the output, expected(i, j, k) as a function of k alone: on an
  // interior row the stencil inside and the input's value at its two ends,
  // chosen by a mask instead of a branch, so that a check's loop over the row
  // vectorises; on a boundary row the input's value throughout.
  class Row {
  public:
    Row(unsigned inner, unsigned outer, const unsigned* second, const unsigned* term,
        const unsigned* innerK)
        : inner_(inner), outer_(outer), second_(second), term_(term), innerK_(innerK) {}
    int operator()(int k) const {
      const unsigned in = innerK_[k];
      return static_cast<int>((in & (inner_ + second_[k])) | (~in & (outer_ + term_[k])));
    }

  private:
    unsigned inner_, outer_;
    const unsigned *second_, *term_, *innerK_;
  };

  Row expectedRow(int i, int j) const {
    const unsigned outer = term_[0][i] + term_[1][j];
    if (i > 0 && j > 0 && i < inside_[0] && j < inside_[1]) {
      return {second_[0][i] + second_[1][j], outer, second_[2].data(), term_[2].data(),
              innerK_.data()};
    }
    // Both sides the input's value, whatever the mask picks.
    return {outer, outer, term_[2].data(), term_[2].data(), innerK_.data()};
  }

  // The input's element (i, j, k).
  int value(int i, int j, int k) const {
    return static_cast<int>(term_[0][i] + term_[1][j] + term_[2][k]);
  }

  // The output's element (i, j, k): the stencil inside, the input's value on
  // the boundary (where the output is set to the input before the sweep).
  int expected(int i, int j, int k) const {
    return isInterior(i, j, k) ? static_cast<int>(second_[0][i] + second_[1][j] + second_[2][k])
                               : value(i, j, k);
  }

  bool isInterior(int i, int j, int k) const {
    return i > 0 && j > 0 && k > 0 && i < inside_[0] && j < inside_[1] && k < inside_[2];
  }

  // Stores value() into every element of g, as its type holds it, one parallel loop over i, static
  // schedule, as the fills touch their pages. The row's share of the value is taken once per row,
  // so that the loop over k is an add and a store.
  template <class Access> void write(Access access) const {
    const int nx = static_cast<int>(term_[0].size());
    const int ny = static_cast<int>(term_[1].size());
    const int nz = static_cast<int>(term_[2].size());
    const unsigned* const along = term_[2].data();
#pragma omp parallel
    {
      ThreadAccess<Access> g = access;
#pragma omp for schedule(static)
      for (int i = 0; i < nx; ++i) {
        for (int j = 0; j < ny; ++j) {
          const unsigned row = term_[0][i] + term_[1][j];
          for (int k = 0; k < nz; ++k) {
            g(i, j, k) = static_cast<ElementOf<Access>>(static_cast<int>(row + along[k]));
          }
        }
      }
    }
  }

private:
  std::vector<unsigned> term_[3];
  std::vector<unsigned> second_[3];
  std::vector<unsigned> innerK_; // ~0 where k is inside, 0 at either end
  int inside_[3] = {};
};

} // namespace voxgrid

#endif
