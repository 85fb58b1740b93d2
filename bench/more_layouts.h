#ifndef VOXGRID_MORE_LAYOUTS_H
#define VOXGRID_MORE_LAYOUTS_H

#include <memory>
#include <vector>

// Three more layouts people write, each as its steps: build, fill, release.
// Every fill is one parallel loop over i (static schedule) that stores the
// linear index i*ny*nz + j*nz + k into element (i, j, k). Each build checks
// the extents first, as the program's layouts do.

// vector3d.cpp: nested std::vector, value-initialised, so every row is
// zero-filled on the calling thread while it is built.
using Vector3d = std::vector<std::vector<std::vector<int>>>;
Vector3d buildVector3d(int nx, int ny, int nz);
void fillVector3d(Vector3d& grid, int nx, int ny, int nz);
void releaseVector3d(Vector3d& grid);

// flat_vector.cpp: one std::vector<int>, value-initialised (zero-filled on the
// calling thread), filled by three loops.
std::vector<int> buildFlatVector(int nx, int ny, int nz);
void fillFlatVector(std::vector<int>& grid, int nx, int ny, int nz);
void releaseFlatVector(std::vector<int>& grid);

// pointer_tables.cpp: one uninitialised block plus a table of nx*ny row
// pointers into it and a table of nx slice pointers into that, so code keeps
// writing grid[i][j][k]; the parallel fill is what first touches the block.
struct PointerTables {
  std::unique_ptr<int[]> block;
  std::unique_ptr<int*[]> rows;
  std::unique_ptr<int**[]> slices;
  int*** grid() const { return slices.get(); }
};
PointerTables buildPointerTables(int nx, int ny, int nz);
void fillPointerTables(const PointerTables& tables, int nx, int ny, int nz);
void releasePointerTables(PointerTables& tables);

#endif
