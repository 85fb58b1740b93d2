// Classes that are not layouts: each must stop the build with the one message
// naming what it lacks.

#include <voxgrid/layout.h>

#include <vector>

class NotALayout {
public:
  explicit NotALayout(const voxgrid::Shape& s) : s_(s) {}
  void build() { v_.resize(std::size_t(voxgrid::elementCount(s_))); }
#ifndef FAULT_MISSING_RELEASE
  void release() { v_.clear(); }
#endif
#ifdef FAULT_AT_BY_VALUE
  auto at() {
    return [this](int i, int j, int k) { return v_[std::size_t((i * s_.ny + j) * s_.nz + k)]; };
  }
#else
  auto at() { return voxgrid::flatAt(v_.data(), s_); }
#endif

private:
  voxgrid::Shape s_;
  std::vector<int> v_;
};

VOXGRID_LAYOUT(NotALayout, "not_a_layout");
