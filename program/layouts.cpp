#include "layouts.h"

#include <omp.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>

void checkExtents(int nx, int ny, int nz) {
  const std::int64_t slice = std::int64_t{ny} * nz;
  // slice <= INT_MAX is tested first, so the product below cannot overflow.
  if (nx < 0 || ny < 0 || nz < 0 || slice > INT_MAX || nx * slice > INT_MAX) {
    throw std::length_error("grid extents " + std::to_string(nx) + " x " + std::to_string(ny) +
                            " x " + std::to_string(nz) +
                            " rejected: each must be >= 0 and the element count at most " +
                            std::to_string(INT_MAX));
  }
}

// ---- nested pointers ----

// Releases rows 0..rows-1 of a slice, then the slice array itself.
static void releaseSlice(int** slice, int rows) {
  for (int j = 0; j < rows; ++j) {
    delete[] slice[j];
  }
  delete[] slice;
}

int*** allocNested(int nx, int ny, int nz) {
  checkExtents(nx, ny, nz);
  int*** voxgrid = new int**[nx];
  for (int i = 0; i < nx; ++i) {
    int** slice = nullptr;
    int j = 0;
    try {
      slice = new int*[ny];
      for (; j < ny; ++j) {
        slice[j] = new int[nz];
      }
    } catch (...) {
      // Out of memory part-way: give back everything built so far before reporting it.
      releaseSlice(slice, j);
      releaseNested(voxgrid, i, ny);
      throw;
    }
    voxgrid[i] = slice;
  }
  return voxgrid;
}

void fillNested(int*** voxgrid, int nx, int ny, int nz) {
#pragma omp parallel for schedule(static)
  for (int i = 0; i < nx; ++i) {
    for (int j = 0; j < ny; ++j) {
      for (int k = 0; k < nz; ++k) {
        voxgrid[i][j][k] = i * ny * nz + j * nz + k;
      }
    }
  }
}

void releaseNested(int*** voxgrid, int nx, int ny) {
  for (int i = 0; i < nx; ++i) {
    releaseSlice(voxgrid[i], ny);
  }
  delete[] voxgrid;
}

void voxgridtest(int nx, int ny, int nz) {
  int*** voxgrid = allocNested(nx, ny, nz);
  fillNested(voxgrid, nx, ny, nz);
  releaseNested(voxgrid, nx, ny);
}

// ---- flat block, three loops ----

void fillLinear(std::valarray<int>& array1D, int nx, int ny, int nz) {
  const int nyz0 = ny * nz;
  bool notprinted = true;
  // Only member 0 ever reads or writes notprinted: tid is tested first.
#pragma omp parallel for num_threads(kLinearTeam) schedule(static)
  for (int i = 0; i < nx; ++i) {
    const int iSlice = i * nyz0;
    for (int j = 0; j < ny; ++j) {
      const int jCol = j * nz;
      const int rPtr = iSlice + jCol;
      for (int k = 0; k < nz; ++k) {
        const int ind3 = rPtr + k;
        array1D[ind3] = i * nyz0 + j * nz + k;
        const int tid = omp_get_thread_num();
        if (tid == 0 && notprinted) {
          const int nthreads = omp_get_num_threads();
          std::printf("Number of threads = %d\n", nthreads);
          notprinted = false;
        }
      }
    }
  }
}

// Created empty, then resized, which zero-fills every element on the calling thread.
std::valarray<int> allocFlat(int nx, int ny, int nz) {
  checkExtents(nx, ny, nz);
  std::valarray<int> array1D;
  array1D.resize(static_cast<std::size_t>(nx) * ny * nz);
  return array1D;
}

void releaseFlat(std::valarray<int>& array1D) { std::valarray<int>().swap(array1D); }

void voxgridLineartest(int nx, int ny, int nz) {
  std::valarray<int> array1D = allocFlat(nx, ny, nz);
  fillLinear(array1D, nx, ny, nz);
  releaseFlat(array1D);
}

// ---- flat block, one flat index ----

void fillLinearOneIndex(std::valarray<int>& array1D, int nx, int ny, int nz) {
  const int size = nx * ny * nz;
  const int dept = ny * nz;
#pragma omp parallel for schedule(static)
  for (int index = 0; index < size; ++index) {
    const int i = index / dept;
    const int _ny = ny;
    const int _nz = nz;
    const int iSlice = i * dept;
    const int jCol = index % dept;
    const int j = jCol / _nz;
    const int rPtr = iSlice + j * _nz;
    const int k = jCol - j * _nz;
    const int tmpind = rPtr + k;
    array1D[tmpind] = i * _ny * _nz + j * _nz + k;
  }
  std::cout << std::endl;
}

void voxgridLinearOneIndextest(int nx, int ny, int nz) {
  std::valarray<int> array1D = allocFlat(nx, ny, nz);
  fillLinearOneIndex(array1D, nx, ny, nz);
  releaseFlat(array1D);
}
