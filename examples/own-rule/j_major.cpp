// Slices along j outermost: element (i, j, k) at (j*nx + i)*nz + k, as a code
// that marches through its grid plane by plane in j keeps it. Only where each
// element lives is written here; the suite measures the rule under every way
// of getting the block (first touched by the fill, in 2 MiB pages, zeroed by
// one thread).

#include <voxgrid/index_rule.h>

#include <cstddef>

struct JMajorRule {
  explicit JMajorRule(const voxgrid::Shape& s) : nx(s.nx), ny(s.ny), nz(s.nz) {}
  std::size_t size() const { return static_cast<std::size_t>(nx * ny * nz); }
  static std::size_t tableBytes() { return 0; }
  auto view() const {
    return [nx = nx, nz = nz](int i, int j, int k) { return (j * nx + i) * nz + k; };
  }

  std::ptrdiff_t nx, ny, nz;
};

VOXGRID_INDEX_RULE(JMajorRule, "j_major");
