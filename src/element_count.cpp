#include <voxgrid/shape.h>

#include <stdexcept>
#include <string>

// The suite's extent check: every layout refuses the same grids. Extents are
// ints, as i, j and k are; their product is at most 2^93, so 64 bits hold it
// wherever memory could.
std::int64_t voxgrid::elementCount(const Shape& s) {
  if (s.nx < 0 || s.ny < 0 || s.nz < 0 ||
      (s.nx > 0 && s.ny > 0 && s.nz > 0 && std::int64_t{s.ny} * s.nz > INT64_MAX / 8 / s.nx)) {
    throw std::length_error(
        "grid extents " + std::to_string(s.nx) + " x " + std::to_string(s.ny) + " x " +
        std::to_string(s.nz) +
        " rejected: each must be >= 0 and the grid's bytes must fit in 64 bits");
  }
  return std::int64_t{s.nx} * s.ny * s.nz;
}
