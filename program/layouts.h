#ifndef VOXGRID_LAYOUTS_H
#define VOXGRID_LAYOUTS_H

#include <valarray>

// Each test builds an nx x ny x nz grid of int, stores the linear index
// i*ny*nz + j*nz + k into element (i, j, k) in one OpenMP parallel region,
// and releases the grid. Allocation, fill and release are what gets timed.

// Throws std::length_error unless every extent is non-negative and both the
// slice size ny*nz and the element count nx*ny*nz fit in an int: all index
// arithmetic is 32-bit, so larger grids would be written out of bounds.
void checkExtents(int nx, int ny, int nz);

// Nested pointers: nx slice arrays of ny rows, each row a separate block of nz ints.
void voxgridtest(int nx, int ny, int nz);
// One flat block filled by three loops in a team of kLinearTeam; member 0 prints the team size
// once.
void voxgridLineartest(int nx, int ny, int nz);
constexpr int kLinearTeam = 4;
// One flat block filled by one loop over the flat index; writes an empty line afterwards.
void voxgridLinearOneIndextest(int nx, int ny, int nz);

// Each test above is exactly its steps below, composed in this order: build,
// fill, release. They are exposed so that tests can inspect a filled grid and
// the suite can time each step on its own.
int*** allocNested(int nx, int ny, int nz);
void fillNested(int*** voxgrid, int nx, int ny, int nz);
void releaseNested(int*** voxgrid, int nx, int ny);

// The flat block of both flat tests: nx*ny*nz ints, zero-filled on the calling thread.
std::valarray<int> allocFlat(int nx, int ny, int nz);
void releaseFlat(std::valarray<int>& array1D);
// Prints "Number of threads = N" once, from member 0 of its team of 4.
void fillLinear(std::valarray<int>& array1D, int nx, int ny, int nz);
// Writes an end of line to std::cout after the fill, as part of its step.
void fillLinearOneIndex(std::valarray<int>& array1D, int nx, int ny, int nz);

#endif
