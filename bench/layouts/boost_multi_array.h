#ifndef VOXGRID_LAYOUT_BOOST_MULTI_ARRAY_H
#define VOXGRID_LAYOUT_BOOST_MULTI_ARRAY_H

#include <voxgrid/layout.h>

#include <boost/multi_array.hpp>

#include <optional>

namespace voxgrid {

// boost::multi_array<T, 3> as Boost's documentation builds it: constructed
// with its extents, which value-initialises (zero-fills on the calling thread)
// one block from std::allocator; written and read as g[i][j][k]. Held in an
// optional so that release gives the block back without allocating another.
template <class T> class BoostMultiArrayOf : NoCopy {
public:
  static constexpr const char* kMemory =
      "one block from std::allocator, value-initialised by one thread";
  using Grid = boost::multi_array<T, 3>;
  explicit BoostMultiArrayOf(const Shape& s) : s_(s) {}
  void build() {
    elementCount(s_);
    grid_.emplace(boost::extents[s_.nx][s_.ny][s_.nz]);
  }
  auto at() {
    return [g = &*grid_](int i, int j, int k) -> T& { return (*g)[i][j][k]; };
  }
  void release() { grid_.reset(); }

private:
  Shape s_;
  std::optional<Grid> grid_;
};
using BoostMultiArray = BoostMultiArrayOf<int>;

} // namespace voxgrid

#endif
