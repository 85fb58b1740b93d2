#include <voxgrid/shape.h>

#include <stdexcept>
#include <string>

// The suite's extent check: every layout refuses the same grids. Extents are
// ints, as i, j and k are; their product is at most 2^93, so 64 bits hold it
// wherever memory could, and a voxel's values (at most 2^8 bytes) with it.
std::int64_t voxgrid::elementCount(const Shape& s) {
  if (s.fields < 1 || s.fields > kMaxFields) {
    throw std::length_error("a voxel of " + std::to_string(s.fields) + " fields rejected: 1 to " +
                            std::to_string(kMaxFields));
  }
  // 8 bytes per value at most, kMaxFields values per voxel: 2^8 bytes a voxel.
  if (s.nx < 0 || s.ny < 0 || s.nz < 0 ||
      (s.nx > 0 && s.ny > 0 && s.nz > 0 && std::int64_t{s.ny} * s.nz > INT64_MAX / 256 / s.nx)) {
    throw std::length_error(
        "grid extents " + std::to_string(s.nx) + " x " + std::to_string(s.ny) + " x " +
        std::to_string(s.nz) +
        " rejected: each must be >= 0 and the grid's bytes must fit in 64 bits");
  }
  return std::int64_t{s.nx} * s.ny * s.nz;
}
