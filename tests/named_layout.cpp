// The suite with one more layout, named by $VOXGRID_TEST_LAYOUT_NAME, for the
// tests of the names the suite refuses. Unset, it adds nothing.

#include <voxgrid/layout.h>

#include <cstdlib>
#include <vector>

namespace {

class Copy : voxgrid::NoCopy {
public:
  explicit Copy(const voxgrid::Shape& s) : s_(s) {}
  auto at() { return voxgrid::flatAt(v_.data(), s_); }
  void build() { v_.resize(static_cast<std::size_t>(voxgrid::elementCount(s_))); }
  void release() { std::vector<int>().swap(v_); }

private:
  voxgrid::Shape s_;
  std::vector<int> v_;
};

const char* const name = std::getenv("VOXGRID_TEST_LAYOUT_NAME");
[[maybe_unused]] const bool added = name != nullptr && voxgrid::registerLayout<Copy>(name);

} // namespace
