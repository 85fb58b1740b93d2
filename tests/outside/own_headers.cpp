// A project whose own headers are named checks.h, Timer.h and sum.h (and
// whose checks.h declares a checkExtents of its own beside everything
// <voxgrid/sweep.h> brings, the built-in layouts among it), with a
// layout that states only what it stores: no fill(), so the suite fills it
// through at(), its allocation stated for the memory plan, and its own sum loop.

#include <Timer.h>
#include <checks.h>
#include <sum.h>
#include <voxgrid/layout.h>
#include <voxgrid/sweep.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

class Plain : voxgrid::NoCopy {
public:
  explicit Plain(const voxgrid::Shape& s) : s_(s) {}
  static std::size_t bytes(const voxgrid::Shape& s) {
    return std::size_t(voxgrid::elementCount(s)) * sizeof(int);
  }
  void build() { v_.resize(bytes(s_) / sizeof(int)); }
  void release() { std::vector<int>().swap(v_); }
  auto at() { return voxgrid::flatAt(v_.data(), s_); }
  // Its own sum loop, over the vector as this project writes it.
  std::int64_t ownSum() const {
    std::int64_t total = 0;
    for (const int v : v_) {
      total += v;
    }
    return total;
  }

private:
  voxgrid::Shape s_;
  std::vector<int> v_;
};

VOXGRID_LAYOUT(Plain, "plain");

// Uses of the project's own headers, so that a clash with ours would not compile.
[[maybe_unused]] const bool ownHeadersWork = [] {
  const int three[] = {1, 2, 3};
  Timer t;
  t.start();
  return checkExtents(1, 1, 1) && sum(three, 3) == 6 && t.seconds() >= 0;
}();
