#ifndef VOXGRID_DETAIL_HEAP_AGING_H
#define VOXGRID_DETAIL_HEAP_AGING_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace voxgrid {

// A heap with a history, as a real program's is when it builds its grids after
// thousands of other allocations: blocks of mixed small sizes, then a share of
// them freed in a seeded random order, which leaves holes of every size for
// the grid's own blocks to land in.

struct HeapPlan {
  bool aged = false;
  double freed = 0.5; // the share of the aging blocks freed again, in (0, 1)
};

constexpr std::uint64_t kAgingSeed = 0x766f78677269640aULL; // "voxgrid\n"
constexpr std::size_t kAgingMinBytes = 16;
constexpr std::size_t kAgingMaxBytes = 1024;

// Allocates blocks of kAgingMinBytes to kAgingMaxBytes (sizes uniform) with
// malloc until they total `bytes`, then frees the share `freed` of them in a
// seeded random order; holds the rest until it is destroyed. Deterministic for
// a given seed: every sample starts from the same history.
class AgedHeap {
public:
  AgedHeap(std::size_t bytes, double freed, std::uint64_t seed = kAgingSeed);
  ~AgedHeap();
  AgedHeap(const AgedHeap&) = delete;
  AgedHeap& operator=(const AgedHeap&) = delete;
  std::size_t blocksHeld() const { return held_.size(); }
  std::size_t blocksFreed() const { return freed_; }

private:
  std::vector<void*> held_;
  std::size_t freed_ = 0;
};

} // namespace voxgrid

#endif
