#include "layouts.h"
#include "more_layouts.h"

Vector3d buildVector3d(int nx, int ny, int nz) {
  checkExtents(nx, ny, nz);
  return Vector3d(nx, std::vector<std::vector<int>>(ny, std::vector<int>(nz)));
}

void fillVector3d(Vector3d& grid, int nx, int ny, int nz) {
#pragma omp parallel for schedule(static)
  for (int i = 0; i < nx; ++i) {
    for (int j = 0; j < ny; ++j) {
      std::vector<int>& row = grid[i][j];
      for (int k = 0; k < nz; ++k) {
        row[k] = i * ny * nz + j * nz + k;
      }
    }
  }
}

void releaseVector3d(Vector3d& grid) { Vector3d().swap(grid); }
