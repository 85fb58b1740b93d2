// A maximum-intensity projection through the stack, as CT and microscopy codes
// view a volume: for each (j, k), the largest value along i. Each thread takes
// rows j and walks down the planes i, keeping a row of maxima, so that it reads
// whole rows in storage order, as one would write it for a flat block.

#include <voxgrid/sweep.h>

#include <algorithm>
#include <numeric>
#include <vector>

template <class G>
voxgrid::SumOf<voxgrid::ElementOf<G>> maxProjection(const G& access, const voxgrid::Shape& s) {
  using T = voxgrid::ElementOf<G>;
  voxgrid::SumOf<T> total = 0; // the sum of the projection: its checksum
#pragma omp parallel reduction(+ : total)
  {
    voxgrid::ThreadAccess<G> g = access; // an access that caches is each thread's own
    std::vector<T> row(static_cast<std::size_t>(s.nz));
#pragma omp for schedule(static)
    for (int j = 0; j < s.ny; ++j) {
      std::fill(row.begin(), row.end(), T{0});
      for (int i = 0; i < s.nx; ++i) {
        for (int k = 0; k < s.nz; ++k) {
          row[k] = std::max(row[k], g(i, j, k));
        }
      }
      total = std::accumulate(row.begin(), row.end(), total);
    }
  }
  return total;
}

VOXGRID_SWEEP(maxProjection, "max_projection");

// It reads each element once and writes nothing to memory: the rows of maxima
// stay in cache. Stated, its passes are held against the machine's roof.
double maxProjectionBytes(const voxgrid::Shape& s, int elementBytes) {
  return static_cast<double>(voxgrid::elementCount(s)) * elementBytes;
}
VOXGRID_SWEEP_BYTES("max_projection", maxProjectionBytes);
