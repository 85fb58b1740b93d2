#include "case_expansion.h"

#include "memory.h"

#include <algorithm>
#include <climits>

namespace voxgrid {

std::vector<int> threadCounts(int procs) {
  std::vector<int> counts;
  for (int t = 1; t < procs; t *= 2) {
    counts.push_back(t);
  }
  counts.push_back(procs);
  return counts;
}

bool memoryRuns(const Case& c, const std::vector<std::string>& memories) {
  if (!c.crossed()) {
    return true;
  }
  const std::string name = c.name;
  const std::size_t at = name.find(kMemorySegment);
  if (at == std::string::npos) {
    return true;
  }
  const std::size_t from = at + std::string(kMemorySegment).size();
  const std::string memory = name.substr(from, name.find('/', from) - from);
  if (!memories.empty()) {
    return std::find(memories.begin(), memories.end(), memory) != memories.end();
  }
  if (c.added()) { // a program's own rule is measured under every memory
    return true;
  }
  const bool ownLoops = name.find(kOwnLoops) != std::string::npos;
  const bool rowMajor = name.compare(0, at, "row_major") == 0;
  return (memory == TouchedMemory::kName && !rowMajor) ||
         (memory == HugeMemory::kName && !ownLoops);
}

Expansion expandCases(const std::vector<Case>& cases, const Options& o, const std::string& thp,
                      int procs) {
  Expansion e;
  const bool hugePages = thp == "always" || thp == "madvise";
  for (const Case& c : cases) {
    if (c.hugePages() && !hugePages && memoryRuns(c, o.memories)) {
      e.notRun.emplace_back(c.name, "not run: transparent huge pages are " + thp);
    }
  }
  // Named once with the shapes, before anything runs.
  for (const Case& c : cases) {
    std::string past;
    for (const Shape& shape : o.shapes) {
      if (c.intIndex() && elementCount(shape) > INT_MAX) {
        past += (past.empty() ? "" : ", ") + shapeName(shape);
      }
    }
    if (!past.empty() && o.elements[static_cast<int>(c.element)]) {
      e.notRun.emplace_back(c.name,
                            "not run at " + past +
                                ": the program's own steps index the grid in int, at most " +
                                std::to_string(INT_MAX) + " elements");
    }
  }
  for (const Shape& shape : o.shapes) {
    for (const HeapPlan& heap : o.heaps) {
      for (const Case& c : cases) {
        if ((c.hugePages() && !hugePages) || (c.intIndex() && elementCount(shape) > INT_MAX) ||
            !o.elements[static_cast<int>(c.element)] || !memoryRuns(c, o.memories) ||
            !c.runsFor(shape.fields)) {
          continue;
        }
        const std::string element =
            c.element == ElementType::kInt32 ? "" : std::string("/element:") + info(c.element).name;
        std::string base = std::string(c.name) + "/shape:" + shapeName(shape);
        if (shape.fields > 1) {
          base += "/fields:" + std::to_string(shape.fields);
        }
        base += element;
        base += heap.aged ? "/heap:aged" : "";
        SweepPlan plan = c.sweeps() ? o.sweeps : SweepPlan{};
        if (c.fields()) { // the program's own sweeps are compiled for one-field accesses
          plan.added.assign(plan.added.size(), false);
        }
        const auto add = [&](const std::string& name, int threads) {
          e.instances.push_back(Instance{name, &c, shape, threads, plan, heap, {}, false, 0});
        };
        if (c.ownTeam()) {
          add(base, 0);
        } else {
          for (int t : threadCounts(procs)) {
            add(base + "/threads:" + std::to_string(t), t);
          }
        }
      }
    }
  }
  return e;
}

} // namespace voxgrid
