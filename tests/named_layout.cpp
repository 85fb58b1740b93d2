// The suite with one more layout, named by $VOXGRID_TEST_LAYOUT_NAME, and one
// more sweep, named by $VOXGRID_TEST_SWEEP_NAME, for the tests of the names
// the suite refuses and of a sweep whose checksum differs between a layout
// and the reference block; $VOXGRID_TEST_BYTES_NAME states bytes under a name.
// Unset, each adds nothing.

#include <voxgrid/layout.h>
#include <voxgrid/sweep.h>

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

// Its checksum is the size of the access, not anything read: nested's differs
// from the reference block's.
struct AccessSize {
  static const char* name() { return std::getenv("VOXGRID_TEST_SWEEP_NAME"); }
  template <class G> int operator()(const G& g, const voxgrid::Shape&) const {
    return static_cast<int>(sizeof g);
  }
};
[[maybe_unused]] const bool sweepAdded =
    AccessSize::name() != nullptr && voxgrid::registerSweep<AccessSize, Copy>();

double eachElementOnce(const voxgrid::Shape& s, int elementBytes) {
  return static_cast<double>(voxgrid::elementCount(s)) * elementBytes;
}
const char* const bytesName = std::getenv("VOXGRID_TEST_BYTES_NAME");
[[maybe_unused]] const bool bytesStated =
    bytesName != nullptr && voxgrid::stateSweepBytes(bytesName, eachElementOnce);

} // namespace
