#ifndef VOXGRID_SHAPE_LIST_H
#define VOXGRID_SHAPE_LIST_H

#include <voxgrid/shape.h>

#include <string>
#include <vector>

namespace voxgrid {

// "400x800x100".
std::string shapeName(const Shape& s);

// Parses one shape or a comma-separated list of them ("100x100x100,400x800x100").
// Each extent is a decimal integer >= 1 and the element count must pass the
// layouts' extent check; anything else throws std::invalid_argument with a
// message that quotes the bad text and says what is expected.
std::vector<Shape> parseShapes(const std::string& text);

} // namespace voxgrid

#endif
