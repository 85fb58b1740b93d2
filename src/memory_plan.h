#ifndef VOXGRID_MEMORY_PLAN_H
#define VOXGRID_MEMORY_PLAN_H

#include "shape_list.h"

#include <voxgrid/detail/heap_aging.h>
#include <voxgrid/detail/sweep_plan.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace voxgrid {

// What one sample holds at most, and what this run may use, so that a sample
// too large for the machine, the cgroup or the address-space limit is refused
// before anything runs instead of failing (or meeting the OOM killer) later.

// The bytes one sample holds at its peak, part by part.
struct SampleNeed {
  std::int64_t grid = 0;   // the grid, with the row headers and tables of the row layouts
  std::int64_t output = 0; // the stencil's output or the streaming step's: a second grid
  bool roofsOnly = false;  // the output is only the ceiling's copy target (no stencil)
  bool streamOnly = false; // the output is only the streaming step's (no stencil)
  std::int64_t aging = 0;  // the aging blocks, all held before the share is freed
  std::int64_t points = 0; // the gather's points
  bool estimated = false;  // the grid taken as the built-in layouts' largest, by a layout
                           // that states nothing of its own
  std::int64_t total() const { return grid + output + aging + points; }
};

// The need of a sample at `shape`; `sweeps` false for the cases that do not
// sweep. `stated`: what the layout says its grid takes; without it, the
// built-in layouts' largest overhead; elementBytes, what each element takes;
// `roofs` for the ceiling, whose roofs copy the grid into a second block.
SampleNeed sampleNeed(const Shape& shape, const SweepPlan& plan, bool sweeps, bool aged,
                      std::optional<std::int64_t> stated = std::nullopt, int elementBytes = 4,
                      bool roofs = false);

// One limit on the memory a sample may use, as read on this machine.
struct MemoryLimit {
  std::string name;   // "available memory", "cgroup", "RLIMIT_AS"
  std::int64_t bytes; // what is left under it
};

// The limits that could be read here; one that cannot be read is left out.
std::vector<MemoryLimit> readMemoryLimits();
// What the files under `root` say ("" for this machine's own): the available
// memory from ROOT/proc/meminfo, the cgroup's from ROOT/proc/self/cgroup and
// ROOT/sys/fs/cgroup. RLIMIT_AS, which no file holds, only the one above adds.
std::vector<MemoryLimit> readMemoryLimits(const std::string& root);

// Within this share of the least limit, a sample is close enough to warn.
extern const double kMemoryMargin;

enum class Verdict { kFits, kClose, kRefused };
struct MemoryCheck {
  Verdict verdict = Verdict::kFits;
  std::optional<MemoryLimit> least; // none when no limit could be read
};
MemoryCheck checkMemory(std::int64_t need, const std::vector<MemoryLimit>& limits);

// "436 MB", "1.2 GB", decimal units.
std::string bytesText(std::int64_t bytes);
// "grid 131 MB + stencil's output 131 MB + ...", "grid 131 MB estimated + ...".
std::string needText(const SampleNeed& need);
// "available memory 22.1 GB, RLIMIT_AS unlimited"-style list of what was read.
std::string limitsText(const std::vector<MemoryLimit>& limits);

} // namespace voxgrid

#endif
