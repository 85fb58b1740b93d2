#ifndef VOXGRID_DETAIL_GATHER_H
#define VOXGRID_DETAIL_GATHER_H

#include <voxgrid/access.h>
#include <voxgrid/detail/seeded_random.h>

#include <cstdint>
#include <vector>

namespace voxgrid {

// Reads at scattered points, as particles, ray casting and interpolation in a
// voxel volume read a grid.

struct Point {
  int i, j, k;
};

// The seed every sample draws its points from, so every layout reads the same ones.
constexpr std::uint64_t kPointSeed = 0x676174686572ULL; // "gather"

// `count` points uniform over the grid, drawn from `seed`; none on an empty grid.
inline std::vector<Point> drawPoints(std::int64_t count, int nx, int ny, int nz,
                                     std::uint64_t seed = kPointSeed) {
  std::vector<Point> points;
  if (nx <= 0 || ny <= 0 || nz <= 0) {
    return points;
  }
  points.resize(static_cast<std::size_t>(count));
  SeededRandom random(seed);
  for (Point& p : points) {
    p.i = static_cast<int>(random.below(static_cast<std::uint64_t>(nx)));
    p.j = static_cast<int>(random.below(static_cast<std::uint64_t>(ny)));
    p.k = static_cast<int>(random.below(static_cast<std::uint64_t>(nz)));
  }
  return points;
}

// The grid's values at the points, added up in 64 bits (SumOf); one parallel loop over
// the points.
template <class Access> auto gatherSweep(Access access, const Point* points, std::int64_t count) {
  SumOf<ElementOf<Access>> total = 0;
#pragma omp parallel reduction(+ : total)
  {
    ThreadAccess<Access> g = access;
#pragma omp for schedule(static)
    for (std::int64_t n = 0; n < count; ++n) {
      total += g(points[n].i, points[n].j, points[n].k);
    }
  }
  return total;
}

// The same sum as tuned code reads known points: each thread asks for the
// element kAhead points on while it reads this one, so that many misses are in
// flight at once instead of the few the core finds by itself.
template <class Access>
auto gatherPrefetched(Access access, const Point* points, std::int64_t count) {
  constexpr std::int64_t kAhead = 32;
  SumOf<ElementOf<Access>> total = 0;
#pragma omp parallel reduction(+ : total)
  {
    ThreadAccess<Access> g = access;
#pragma omp for schedule(static)
    for (std::int64_t n = 0; n < count; ++n) {
      if (n + kAhead < count) {
        const Point& a = points[n + kAhead];
        __builtin_prefetch(&g(a.i, a.j, a.k));
      }
      total += g(points[n].i, points[n].j, points[n].k);
    }
  }
  return total;
}

} // namespace voxgrid

#endif
