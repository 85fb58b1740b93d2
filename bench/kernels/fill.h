#ifndef VOXGRID_FILL_H
#define VOXGRID_FILL_H

// The fill of the layouts that are written through their element access: each
// element's linear index, stored as g(i, j, k) = i*ny*nz + j*nz + k, one
// parallel loop over i, static schedule, so each thread first touches its slices.
template <class Access> void fillThroughAccess(Access g, int nx, int ny, int nz) {
#pragma omp parallel for schedule(static)
  for (int i = 0; i < nx; ++i) {
    for (int j = 0; j < ny; ++j) {
      for (int k = 0; k < nz; ++k) {
        g(i, j, k) = i * ny * nz + j * nz + k;
      }
    }
  }
}

#endif
