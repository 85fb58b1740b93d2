#include "shape_list.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace voxgrid {

std::string shapeName(const Shape& s) {
  return std::to_string(s.nx) + "x" + std::to_string(s.ny) + "x" + std::to_string(s.nz);
}

namespace {

const char* const kExpected =
    "expected NXxNYxNZ (or a comma-separated list of them): three decimal integers from 1 "
    "to 2147483647, separated by 'x'";

[[noreturn]] void reject(const std::string& text) {
  throw std::invalid_argument("bad --shape \"" + text + "\": " + kExpected);
}

// Digits only, no sign, at least 1, at most INT_MAX.
int extent(const std::string& digits, const std::string& item) {
  if (digits.empty() || digits.size() > 10 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    reject(item);
  }
  const long long v = std::stoll(digits);
  if (v < 1 || v > INT_MAX) {
    reject(item);
  }
  return static_cast<int>(v);
}

Shape parseOne(const std::string& item) {
  const std::size_t a = item.find('x');
  const std::size_t b = a == std::string::npos ? a : item.find('x', a + 1);
  if (b == std::string::npos) {
    reject(item);
  }
  const Shape s{extent(item.substr(0, a), item), extent(item.substr(a + 1, b - a - 1), item),
                extent(item.substr(b + 1), item)};
  try {
    elementCount(s);
  } catch (const std::length_error&) {
    reject(item);
  }
  return s;
}

} // namespace

std::vector<Shape> parseShapes(const std::string& text) {
  std::vector<Shape> shapes;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma - start);
    const Shape s = parseOne(item);
    if (std::any_of(shapes.begin(), shapes.end(), [&](const Shape& seen) {
          return seen.nx == s.nx && seen.ny == s.ny && seen.nz == s.nz;
        })) {
      std::string message = "bad --shape \"" + text + "\": ";
      message += item + " is given twice";
      throw std::invalid_argument(message);
    }
    shapes.push_back(s);
    if (comma == std::string::npos) {
      return shapes;
    }
    start = comma + 1;
  }
}

} // namespace voxgrid
