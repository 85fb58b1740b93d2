#include "cases.h"

#include "Timer.h"
#include "floors.h"
#include "heap_blocks.h"
#include "layouts.h"
#include "more_layouts.h"

#include <sys/mman.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <new>
#include <system_error>

namespace {

long minorFaults() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}

// Times build, fill and release on one stopwatch; the counters are read outside it.
template <class Build, class Fill, class Release>
Sample timeSteps(Build&& build, Fill&& fill, Release&& release) {
  const long faults = minorFaults();
  const long blocks = heapBlocks();
  Timer tm;
  tm.start();
  build();
  const double built = tm.getElapsedTimeInNanoSec();
  fill();
  const double filled = tm.getElapsedTimeInNanoSec();
  release();
  tm.stop();
  const double released = tm.getElapsedTimeInNanoSec();
  Sample s;
  s.buildNs = built;
  s.fillNs = filled - built;
  s.releaseNs = released - filled;
  s.faults = minorFaults() - faults;
  s.blocks = blocks < 0 ? -1 : heapBlocks() - blocks;
  return s;
}

int elements(const Shape& s) {
  checkExtents(s.nx, s.ny, s.nz);
  return s.nx * s.ny * s.nz;
}

// ---- the program's layouts, exactly the steps their tests are made of ----

Sample nested(const Shape& s) {
  int*** grid = nullptr;
  return timeSteps([&] { grid = allocNested(s.nx, s.ny, s.nz); },
                   [&] { fillNested(grid, s.nx, s.ny, s.nz); },
                   [&] { releaseNested(grid, s.nx, s.ny); });
}

template <void (*Fill)(std::valarray<int>&, int, int, int)> Sample flat(const Shape& s) {
  std::valarray<int> grid;
  return timeSteps([&] { grid = allocFlat(s.nx, s.ny, s.nz); },
                   [&] { Fill(grid, s.nx, s.ny, s.nz); }, [&] { releaseFlat(grid); });
}

// ---- the layouts people write ----

Sample vector3d(const Shape& s) {
  Vector3d grid;
  return timeSteps([&] { grid = buildVector3d(s.nx, s.ny, s.nz); },
                   [&] { fillVector3d(grid, s.nx, s.ny, s.nz); }, [&] { releaseVector3d(grid); });
}

Sample flatVector(const Shape& s) {
  std::vector<int> grid;
  return timeSteps([&] { grid = buildFlatVector(s.nx, s.ny, s.nz); },
                   [&] { fillFlatVector(grid, s.nx, s.ny, s.nz); },
                   [&] { releaseFlatVector(grid); });
}

Sample pointerTables(const Shape& s) {
  PointerTables grid;
  return timeSteps([&] { grid = buildPointerTables(s.nx, s.ny, s.nz); },
                   [&] { fillPointerTables(grid, s.nx, s.ny, s.nz); },
                   [&] { releasePointerTables(grid); });
}

// ---- the floors: the least any layout can pay to build, fill and release ----

constexpr std::size_t kSmallPage = std::size_t{4} << 10;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// A block aligned to the page size, advised to use (or not use) huge pages,
// first touched by the vectorised parallel fill, then released.
template <std::size_t Page, int Advice> Sample floorOf(const Shape& s) {
  const int n = elements(s);
  const std::size_t bytes = (static_cast<std::size_t>(n) * sizeof(int) + Page - 1) / Page * Page;
  int* grid = nullptr;
  return timeSteps(
      [&] {
        grid = static_cast<int*>(::operator new (bytes, std::align_val_t{Page}));
        // Without huge pages compiled in, MADV_NOHUGEPAGE fails and 4 KiB pages are what we get.
        if (madvise(grid, bytes, Advice) != 0 && Advice == MADV_HUGEPAGE) {
          const int err = errno;
          ::operator delete (grid, std::align_val_t{Page});
          throw std::system_error(err, std::generic_category(), "madvise(MADV_HUGEPAGE)");
        }
      },
      [&] { fillIndex(grid, n); }, [&] { ::operator delete (grid, std::align_val_t{Page}); });
}

// ---- the ceiling: the same fill into a block every page of which is mapped ----

template <void (*Fill)(int*, int)> Sample bandwidth(const Shape& s) {
  const int n = elements(s);
  struct Block {
    int* p;
    ~Block() { ::operator delete (p, std::align_val_t{64}); }
  } block{static_cast<int*>(::operator new (std::size_t(n) * sizeof(int), std::align_val_t{64}))};
  fillIndex(block.p, n); // maps every page, outside the sample
  return timeSteps([] {}, [&] { Fill(block.p, n); }, [] {});
}

std::vector<Case> makeCases() {
  std::vector<Case> cases{
      {"nested", false, nested},
      {"flat_three_loops/team_of_4", true, flat<fillLinear>},
      {"flat_one_index", false, flat<fillLinearOneIndex>},
      {"vector3d", false, vector3d},
      {"flat_vector", false, flatVector},
      {"pointer_tables", false, pointerTables},
      {"floor/pages:4k", false, floorOf<kSmallPage, MADV_NOHUGEPAGE>},
      {"floor/pages:2m", false, floorOf<kHugePage, MADV_HUGEPAGE>},
      {"bandwidth/stores:plain", false, bandwidth<fillIndex>},
  };
  if (haveStreamingStores()) {
    cases.push_back({"bandwidth/stores:streaming", false, bandwidth<fillIndexStreaming>});
  }
  return cases;
}

} // namespace

const std::vector<Case>& suiteCases() {
  static const std::vector<Case> cases = makeCases();
  return cases;
}

const Case* findCase(const std::string& name) {
  const std::vector<Case>& cases = suiteCases();
  const auto found =
      std::find_if(cases.begin(), cases.end(), [&](const Case& c) { return name == c.name; });
  return found == cases.end() ? nullptr : &*found;
}
