#include "layouts.h"
#include "more_layouts.h"

#include <cstddef>

PointerTables buildPointerTables(int nx, int ny, int nz) {
  checkExtents(nx, ny, nz);
  PointerTables t;
  const std::size_t rows = static_cast<std::size_t>(nx) * ny;
  t.block.reset(new int[rows * nz]); // uninitialised: the fill touches it first
  t.rows.reset(new int*[rows]);
  t.slices.reset(new int**[nx]);
  for (int i = 0; i < nx; ++i) {
    t.slices[i] = t.rows.get() + static_cast<std::size_t>(i) * ny;
    for (int j = 0; j < ny; ++j) {
      t.slices[i][j] = t.block.get() + (static_cast<std::size_t>(i) * ny + j) * nz;
    }
  }
  return t;
}

void fillPointerTables(const PointerTables& tables, int nx, int ny, int nz) {
  int*** const grid = tables.grid();
#pragma omp parallel for schedule(static)
  for (int i = 0; i < nx; ++i) {
    for (int j = 0; j < ny; ++j) {
      for (int k = 0; k < nz; ++k) {
        grid[i][j][k] = i * ny * nz + j * nz + k;
      }
    }
  }
}

void releasePointerTables(PointerTables& tables) {
  tables.slices.reset();
  tables.rows.reset();
  tables.block.reset();
}
