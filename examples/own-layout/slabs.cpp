// One heap block per slice i, as a grid split into slabs (one per MPI rank or
// per NUMA node) is kept: each slab is allocated uninitialised and first
// touched by the thread that fills it.

#include <voxgrid/layout.h>

#include <cstddef>
#include <memory>
#include <vector>

class Slabs : voxgrid::NoCopy {
public:
  explicit Slabs(const voxgrid::Shape& s) : s_(s) {}
  ~Slabs() { release(); }
  // Element (i, j, k): row j of slab i; the harness fills the grid through it.
  auto at() {
    return [slabs = slabs_.data(), nz = std::ptrdiff_t{s_.nz}](int i, int j, int k) -> int& {
      return slabs[i][j * nz + k];
    };
  }
  void build() {
    voxgrid::elementCount(s_); // the suite's extent check
    const std::size_t slab = static_cast<std::size_t>(s_.ny) * s_.nz;
    slabs_.resize(static_cast<std::size_t>(s_.nx));
    for (auto& p : slabs_) {
      p.reset(new int[slab]); // not value-initialised: no page touched yet
    }
  }
  void release() { std::vector<std::unique_ptr<int[]>>().swap(slabs_); }

private:
  voxgrid::Shape s_;
  std::vector<std::unique_ptr<int[]>> slabs_;
};

VOXGRID_LAYOUT(Slabs, "slabs");
