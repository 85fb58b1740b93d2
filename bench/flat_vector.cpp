#include "layouts.h"
#include "more_layouts.h"

#include <cstddef>

std::vector<int> buildFlatVector(int nx, int ny, int nz) {
  checkExtents(nx, ny, nz);
  return std::vector<int>(static_cast<std::size_t>(nx) * ny * nz);
}

void fillFlatVector(std::vector<int>& grid, int nx, int ny, int nz) {
  int* const data = grid.data();
#pragma omp parallel for schedule(static)
  for (int i = 0; i < nx; ++i) {
    for (int j = 0; j < ny; ++j) {
      const int rowStart = i * ny * nz + j * nz;
      int* const row = data + rowStart;
      for (int k = 0; k < nz; ++k) {
        row[k] = i * ny * nz + j * nz + k;
      }
    }
  }
}

void releaseFlatVector(std::vector<int>& grid) { std::vector<int>().swap(grid); }
