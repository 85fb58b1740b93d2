#ifndef VOXGRID_DETAIL_CHECKS_H
#define VOXGRID_DETAIL_CHECKS_H

#include <voxgrid/access.h>
#include <voxgrid/detail/stencil_probe.h>
#include <voxgrid/element.h>

#include <cstddef>
#include <cstdint>
#include <numeric>
#include <stdexcept>
#include <string>

namespace voxgrid {

// What a sweep must have produced, checked outside the timed passes as a
// bandwidth benchmark checks its kernels: a wrong result, or a sweep the
// compiler dropped, fails the sample with one message naming the first wrong
// element. Every fill stores each element's linear index as its type holds it
// (elementValue), so the sum is known without the grid (expectedSumOf); the
// stencil runs on a probe that is not linear (stencil_probe.h).

// The linear index of the first (i, j, k) in storage order whose value
// differs from what its row should hold, or -1. rowOf(i, j) gives row (i, j)'s
// expected values as a callable of k. Each row is compared whole, with no exit
// inside it, so that the loop vectorises where the access is contiguous; only
// a row that differs is searched again for its first wrong element.
template <class Access, class RowOf>
std::int64_t firstMismatch(Access access, int nx, int ny, int nz, RowOf rowOf) {
  std::int64_t first = INT64_MAX;
#pragma omp parallel reduction(min : first)
  {
    ThreadAccess<Access> g = access;
#pragma omp for schedule(static)
    for (int i = 0; i < nx; ++i) {
      for (int j = 0; j < ny; ++j) {
        const auto expected = rowOf(i, j);
        unsigned differs = 0;
        for (int k = 0; k < nz; ++k) {
          differs |= static_cast<unsigned>(g(i, j, k) != expected(k));
        }
        if (differs != 0) {
          int k = 0;
          while (g(i, j, k) == expected(k)) {
            ++k;
          }
          const std::int64_t at = (std::int64_t{i} * ny + j) * nz + k;
          first = at < first ? at : first;
          break; // later rows of this i come after this one
        }
      }
    }
  }
  return first == INT64_MAX ? -1 : first;
}

struct Element {
  int i, j, k;
};

// (i, j, k) of the element at a linear index.
inline Element elementAt(std::int64_t at, int ny, int nz) {
  return {static_cast<int>(at / nz / ny), static_cast<int>(at / nz % ny),
          static_cast<int>(at % nz)};
}

// "element (i, j, k) of the grid holds V, expected E".
template <class Access>
std::string describe(Access g, Element e, const char* what, ElementOf<Access> expected) {
  return "element (" + std::to_string(e.i) + ", " + std::to_string(e.j) + ", " +
         std::to_string(e.k) + ") of " + what + " holds " + valueText(g(e.i, e.j, e.k)) +
         ", expected " + valueText(expected);
}

// Every element holds its linear index.
template <class Access> void checkFill(Access g, int nx, int ny, int nz) {
  using T = ElementOf<Access>;
  const auto row = [ny, nz](int i, int j) {
    return [value = ValueRun<T>((std::int64_t{i} * ny + j) * nz)](int k) { return value[k]; };
  };
  const std::int64_t at = firstMismatch(g, nx, ny, nz, row);
  if (at >= 0) {
    throw std::runtime_error("fill: " +
                             describe(g, elementAt(at, ny, nz), "the grid", elementValue<T>(at)));
  }
}

template <class T = int> SumOf<T> expectedSum(int nx, int ny, int nz) {
  return expectedSumOf<T>(std::int64_t{nx} * ny * nz);
}

// Every read-only sum over the whole grid (sum, lines_j, lines_i) must give it.
template <class T = int>
void checkSum(SumOf<T> got, int nx, int ny, int nz, const char* sweep = "sum") {
  if (got != expectedSum<T>(nx, ny, nz)) {
    throw std::runtime_error(std::string(sweep) + ": got " + valueText(got) + ", expected " +
                             valueText(expectedSum<T>(nx, ny, nz)) +
                             " (the grid itself holds every linear index)");
  }
}

// The gather's total must be the sum of its points' linear indices, computed
// without the grid; where it is not, the first point whose element differs is
// named, or the total when every point reads right (a miscompiled sweep).
template <class Access, class Points>
void checkGather(Access g, const Points& points, SumOf<ElementOf<Access>> got, int ny, int nz) {
  using T = ElementOf<Access>;
  const auto valueAt = [=](const auto& p) {
    return elementValue<T>((std::int64_t{p.i} * ny + p.j) * nz + p.k);
  };
  const SumOf<T> expected = std::accumulate(points.begin(), points.end(), SumOf<T>{0},
                                            [=](SumOf<T> t, auto p) { return t + valueAt(p); });
  if (got == expected) {
    return;
  }
  for (std::size_t n = 0; n < points.size(); ++n) {
    const auto& p = points[n];
    const T want = valueAt(p);
    if (g(p.i, p.j, p.k) != want) {
      throw std::runtime_error("gather: point " + std::to_string(n) + ": " +
                               describe(g, Element{p.i, p.j, p.k}, "the grid", want));
    }
  }
  throw std::runtime_error("gather: got " + valueText(got) + ", expected " + valueText(expected) +
                           " (the sum of the " + std::to_string(points.size()) +
                           " points' linear indices)");
}

// The output of the stencil over the probe's input: the stencil inside, the
// input's value on the boundary, which the generic stencil leaves as it was
// set and the ceiling's copies.
template <class Access>
void checkStencil(Access out, const StencilProbe& probe, int nx, int ny, int nz) {
  using T = ElementOf<Access>;
  const auto row = [&probe](int i, int j) {
    return [r = probe.expectedRow(i, j)](int k) { return static_cast<T>(r(k)); };
  };
  const std::int64_t at = firstMismatch(out, nx, ny, nz, row);
  if (at >= 0) {
    const Element e = elementAt(at, ny, nz);
    const char* const where =
        probe.isInterior(e.i, e.j, e.k) ? "the output's interior" : "the output's boundary";
    throw std::runtime_error(
        "stencil: " + describe(out, e, where, static_cast<T>(probe.expected(e.i, e.j, e.k))));
  }
}

} // namespace voxgrid

#endif
