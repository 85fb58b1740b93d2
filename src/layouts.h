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
// One flat block filled by three loops in a team of 4; member 0 prints the team size once.
void voxgridLineartest(int nx, int ny, int nz);
// One flat block filled by one loop over the flat index; writes an empty line afterwards.
void voxgridLinearOneIndextest(int nx, int ny, int nz);

// The steps of the tests above, exposed so that tests can inspect a filled grid.
int*** allocNested(int nx, int ny, int nz);
void fillNested(int*** voxgrid, int nx, int ny, int nz);
void releaseNested(int*** voxgrid, int nx, int ny);
void fillLinear(std::valarray<int>& array1D, int nx, int ny, int nz);
void fillLinearOneIndex(std::valarray<int>& array1D, int nx, int ny, int nz);

#endif
