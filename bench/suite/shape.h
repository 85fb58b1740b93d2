#ifndef VOXGRID_SHAPE_H
#define VOXGRID_SHAPE_H

#include <string>
#include <vector>

// A grid's extents, nx slices of ny rows of nz ints.
struct Shape {
  int nx, ny, nz;
};

// "400x800x100".
std::string shapeName(const Shape& s);

// Parses one shape or a comma-separated list of them ("100x100x100,400x800x100").
// Each extent is a decimal integer >= 1 and the element count must pass the
// layouts' extent check; anything else throws std::invalid_argument with a
// message that quotes the bad text and says what is expected.
std::vector<Shape> parseShapes(const std::string& text);

#endif
