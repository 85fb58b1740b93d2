#include "layouts.h"

#include <voxgrid/shape.h>

// The program's own extent check, so that every layout refuses the same grids.
int voxgrid::elementCount(const Shape& s) {
  checkExtents(s.nx, s.ny, s.nz);
  return s.nx * s.ny * s.nz;
}
