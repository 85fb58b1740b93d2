#include "bricks.h"
#include "cases.h"
#include "context.h"
#include "flat_padded.h"
#include "flat_vector.h"
#include "heap_flags.h"
#include "layouts.h"
#include "options.h"
#include "reference_block.h"
#include "sample_line.h"
#include "shape_list.h"
#include "sweep_flags.h"

#include <voxgrid/detail/block_sweeps.h>
#include <voxgrid/detail/checks.h>
#include <voxgrid/detail/gather.h>
#include <voxgrid/detail/heap_aging.h>
#include <voxgrid/detail/huge_pages.h>
#include <voxgrid/detail/lines.h>
#include <voxgrid/detail/sample.h>
#include <voxgrid/detail/stencil.h>
#include <voxgrid/detail/stencil_probe.h>
#include <voxgrid/detail/sum.h>
#include <voxgrid/detail/sweep_plan.h>
#include <voxgrid/index_rule.h>
#include <voxgrid/sweep.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

// A sweep of the tests' own, as a program adds one: every sample of every
// case runs it, and its checksum, which weighs each plane by its place, must
// match the reference block's.
template <class G>
voxgrid::SumOf<voxgrid::ElementOf<G>> planes(const G& access, const voxgrid::Shape& s) {
  voxgrid::SumOf<voxgrid::ElementOf<G>> total = 0;
#pragma omp parallel reduction(+ : total)
  {
    voxgrid::ThreadAccess<G> g = access;
#pragma omp for schedule(static)
    for (int i = 0; i < s.nx; ++i)
      for (int j = 0; j < s.ny; ++j)
        for (int k = 0; k < s.nz; ++k)
          total += g(i, j, k) * static_cast<voxgrid::SumOf<voxgrid::ElementOf<G>>>(i + 1);
  }
  return total;
}
VOXGRID_SWEEP(planes, "planes");

// Array allocations still held, and a countdown to a simulated out-of-memory:
// the nested layout is the one that allocates with new[]. Clang's static
// ThreadSanitizer runtime defines these operators itself, so there they stay its.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VOXGRID_NO_ARRAY_HOOK
#endif
#endif
static long liveArrays = 0;
static long failAfter = -1;
#ifndef VOXGRID_NO_ARRAY_HOOK
void* operator new[](std::size_t n) {
  if (failAfter >= 0 && failAfter-- == 0)
    throw std::bad_alloc();
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr)
    throw std::bad_alloc();
  ++liveArrays;
  return p;
}
void operator delete[](void* p) noexcept {
  if (p != nullptr)
    --liveArrays;
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept { operator delete[](p); }
#endif

namespace voxgrid {
namespace {

std::vector<int> nested(int nx, int ny, int nz) {
  int*** grid = allocNested(nx, ny, nz);
  fillNested(grid, nx, ny, nz);
  std::vector<int> out;
  for (int i = 0; i < nx; ++i)
    for (int j = 0; j < ny; ++j)
      out.insert(out.end(), grid[i][j], grid[i][j] + nz);
  releaseNested(grid, nx, ny);
  return out;
}

template <void (*Fill)(std::valarray<int>&, int, int, int)>
std::vector<int> flat(int nx, int ny, int nz) {
  std::valarray<int> a(-1, static_cast<std::size_t>(nx) * ny * nz);
  Fill(a, nx, ny, nz);
  return std::vector<int>(std::begin(a), std::end(a));
}

struct Layout {
  const char* name;
  std::vector<int> (*fill)(int, int, int);
  void (*timed)(int, int, int);
  const char* printedFilled; // what the timed test prints for a non-empty grid
  const char* printedEmpty;
};

const Layout kLayouts[] = {
    {"Nested", nested, voxgridtest, "", ""},
    {"Linear", flat<fillLinear>, voxgridLineartest, "Number of threads = 4\n", ""},
    {"LinearOneIndex", flat<fillLinearOneIndex>, voxgridLinearOneIndextest, "\n", "\n"},
};

struct Extents {
  int nx, ny, nz, team; // team: the default team size for the run
};

// Odd shapes, empty grids, and teams larger than nx and than the whole grid.
// Rows of 16 and 100 put the widest vectors on every offset from a row's ends;
// 37 x 53 x 11 and 3 x 1 x 500 end in partial bricks, 6 x 33 x 64 pads its rows,
// and 4 x 40 x 3000 cuts the ceiling's stencil into blocks of rows (1 MiB of L2).
const Extents kShapes[] = {{1, 1, 1, 1},    {3, 5, 7, 2},   {13, 17, 19, 3}, {2, 3, 5, 8},
                           {1, 2, 1, 5},    {0, 4, 4, 2},   {4, 0, 4, 2},    {4, 4, 0, 2},
                           {0, 0, 0, 1},    {64, 33, 9, 4}, {5, 6, 16, 2},   {4, 5, 100, 3},
                           {37, 53, 11, 3}, {3, 1, 500, 2}, {6, 33, 64, 2},  {4, 40, 3000, 2}};

// Negative extents, and slices or grids past 32-bit index range.
const Extents kBadExtents[] = {{-1, 1, 1, 0},
                               {1, -1, 1, 0},
                               {1, 1, -1, 0},
                               {65536, 32768, 1, 0},
                               {1, 65536, 32768, 0},
                               {0, 65536, 32768, 0},
                               {INT_MAX, INT_MAX, INT_MAX, 0}};

class Layouts : public testing::TestWithParam<Layout> {};

TEST_P(Layouts, EveryElementHoldsItsLinearIndex) {
  for (const Extents& s : kShapes) {
    SCOPED_TRACE(testing::Message() << s.nx << "x" << s.ny << "x" << s.nz << " team " << s.team);
    omp_set_num_threads(s.team);
    testing::internal::CaptureStdout();
    const std::vector<int> grid = GetParam().fill(s.nx, s.ny, s.nz);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(grid.size(), static_cast<std::size_t>(s.nx) * s.ny * s.nz);
    for (std::size_t n = 0; n < grid.size(); ++n)
      ASSERT_EQ(grid[n], static_cast<int>(n)) << n;

    testing::internal::CaptureStdout();
    GetParam().timed(s.nx, s.ny, s.nz);
    const bool empty = s.nx == 0 || s.ny == 0 || s.nz == 0;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              empty ? GetParam().printedEmpty : GetParam().printedFilled);
  }
}

TEST_P(Layouts, BadExtentsRejectedBeforeAnythingHappens) {
  for (const Extents& s : kBadExtents) {
    testing::internal::CaptureStdout();
    EXPECT_THROW(GetParam().timed(s.nx, s.ny, s.nz), std::length_error)
        << s.nx << "x" << s.ny << "x" << s.nz;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(All, Layouts, testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

// Every case of the suite through what its sample runs: the heap's aging,
// build, fill, every sweep and its check, release. A wrong element anywhere
// fails a check. The element types other than int32 share int32's code but
// their values' width: they take the shapes that end in partial bricks and
// rows as wide as the widest vectors, and one element.
class Cases : public testing::TestWithParam<Case> {};

bool everyElementType(const Extents& s) {
  const int shape[3] = {s.nx, s.ny, s.nz};
  const int shapes[][3] = {{1, 1, 1}, {3, 1, 500}, {37, 53, 11}, {4, 5, 100}};
  return std::any_of(std::begin(shapes), std::end(shapes),
                     [&](const int(&e)[3]) { return std::equal(e, e + 3, shape); });
}

TEST_P(Cases, FillAndSweepsCheckOutAtEveryShapeTeamAndHeap) {
  SweepPlan plan = parseSweeps("all", 2);
  plan.points = 1000; // more points than the small grids have elements
  for (const HeapPlan heap : parseHeaps("fresh,aged", 0.5)) {
    for (const Extents& s : kShapes) {
      if (GetParam().element != ElementType::kInt32 && !everyElementType(s)) {
        continue;
      }
      SCOPED_TRACE(testing::Message() << s.nx << "x" << s.ny << "x" << s.nz << " team " << s.team
                                      << (heap.aged ? " aged heap" : " fresh heap"));
      omp_set_num_threads(s.team);
      // The program's flat fills print; a failure is told once the capture
      // ends, or GoogleTest's own message would go where the fills' lines go.
      testing::internal::CaptureStdout();
      Sample r;
      std::string failure;
      try {
        r = GetParam().run(Shape{s.nx, s.ny, s.nz}, plan, heap);
      } catch (const std::exception& e) {
        failure = e.what();
      }
      testing::internal::GetCapturedStdout();
      EXPECT_EQ(failure, "");
      for (int step = kSum; step < kStepCount && failure.empty(); ++step) {
        if (!kSteps[step].fields) { // those read several fields, and a voxel here holds one
          EXPECT_GE(r.ns[step], 0) << kSteps[step].name;
        }
      }
      // Every built-in case that sweeps has the program's sweep compiled for its access.
      if (GetParam().sweeps() && !GetParam().added() && failure.empty()) {
        EXPECT_THAT(r.added, testing::ElementsAre(testing::Ge(0))) << "planes";
      }
    }
  }
}

TEST_P(Cases, BadExtentsRejectedBeforeAnythingHappens) {
  for (const Extents& s : kBadExtents) {
    // Past 2^31 elements only the cases that index in int refuse a grid.
    if (!GetParam().intIndex() && std::min({s.nx, s.ny, s.nz}) >= 0 && s.nx != INT_MAX)
      continue;
    testing::internal::CaptureStdout();
    EXPECT_THROW(GetParam().run(Shape{s.nx, s.ny, s.nz}, SweepPlan{}, HeapPlan{true, 0.5}),
                 std::length_error)
        << s.nx << "x" << s.ny << "x" << s.nz;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  }
}

// The arrangements of several fields have their own table (test_fields.cpp).
std::vector<Case> oneFieldCases() {
  std::vector<Case> cases;
  for (const Case& c : suiteCases())
    if (!c.fields())
      cases.push_back(c);
  return cases;
}

INSTANTIATE_TEST_SUITE_P(All, Cases, testing::ValuesIn(oneFieldCases()), [](const auto& info) {
  std::string name = caseKey(info.param);
  for (char& c : name)
    c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});

// What each check says when one element is wrong, or a sweep never ran or
// miscounted. Each row spoils a filled grid or the stencil's output and runs
// the check of one sweep.
struct Corruption {
  const char* name;
  void (*spoilAndCheck)(FlatVector& grid, FlatVector& out, const Shape& s);
  const char* message;
};

// The stencil over the probe with one axis's neighbours read at `wrong`
// instead, as a slip in its offsets would, then its check.
void stencilMisreading(FlatVector& in, FlatVector& out, const Shape& s, int axis, Element wrong) {
  const StencilProbe probe(s.nx, s.ny, s.nz);
  const auto g = in.at();
  const auto o = out.at();
  probe.write(g);
  probe.write(o);
  Element n[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  n[axis] = wrong;
  const auto u = [](int v) { return static_cast<unsigned>(v); };
  for (int i = 1; i < s.nx - 1; ++i)
    for (int j = 1; j < s.ny - 1; ++j)
      for (int k = 1; k < s.nz - 1; ++k) {
        unsigned v = 6u * u(g(i, j, k));
        for (const Element& d : n)
          v -= u(g(i - d.i, j - d.j, k - d.k)) + u(g(i + d.i, j + d.j, k + d.k));
        o(i, j, k) = static_cast<int>(v);
      }
  checkStencil(o, probe, s.nx, s.ny, s.nz);
}

// The ceiling's kernels over its padded block (4 x 5 x 6: rows 6 apart,
// slices 48), each run with one stride or extent it takes wrong, as a slip in
// a tuned kernel's indexing would read, then the check of its sweep.
using CeilingBlockGeometry = BlockGeometry (*)(BlockGeometry);
void ceilingStencilMisreading(const Shape& s, CeilingBlockGeometry slip) {
  CeilingBlock<int> in(s), out(s);
  const StencilProbe probe(s.nx, s.ny, s.nz);
  probe.write(in.at());
  probe.write(out.at());
  stencilBlockOf(in.block(), out.block(), slip(in.geometry()));
  checkStencil(out.at(), probe, s.nx, s.ny, s.nz);
}
template <SumOf<int> (*Lines)(const int*, const BlockGeometry&)>
void ceilingLinesMisreading(const Shape& s, CeilingBlockGeometry slip, const char* name) {
  CeilingBlock<int> g(s);
  g.fill();
  checkSum(Lines(g.block(), slip(g.geometry())), s.nx, s.ny, s.nz, name);
}

// Three points of the 4 x 5 x 6 grid, the second of them spoilt by some rows.
const std::vector<Point> kPoints = {{0, 0, 0}, {1, 2, 3}, {3, 4, 5}};

const Corruption kCorruptions[] = {
    {"GridElement",
     [](FlatVector& g, FlatVector&, const Shape& s) {
       g.at()(2, 3, 4) = -5;
       checkFill(g.at(), s.nx, s.ny, s.nz);
     },
     "fill: element (2, 3, 4) of the grid holds -5, expected 82"},
    // Wrong elements in both threads' slices, two rows of one slice and twice in one
    // row: the first in storage order is named.
    {"GridElementsFirstInStorageOrder",
     [](FlatVector& g, FlatVector&, const Shape& s) {
       for (const Element e : std::vector<Element>{{3, 0, 1}, {1, 4, 0}, {1, 3, 4}, {1, 3, 2}})
         g.at()(e.i, e.j, e.k) = -5;
       checkFill(g.at(), s.nx, s.ny, s.nz);
     },
     "fill: element (1, 3, 2) of the grid holds -5, expected 50"},
    {"OutputInterior",
     [](FlatVector&, FlatVector& o, const Shape& s) {
       o.at()(1, 2, 3) = 7;
       checkStencil(o.at(), StencilProbe(s.nx, s.ny, s.nz), s.nx, s.ny, s.nz);
     },
     "stencil: element (1, 2, 3) of the output's interior holds 7, expected 1187548"},
    {"OutputBoundary",
     [](FlatVector&, FlatVector& o, const Shape& s) {
       o.at()(3, 0, 2) = 0;
       checkStencil(o.at(), StencilProbe(s.nx, s.ny, s.nz), s.nx, s.ny, s.nz);
     },
     "stencil: element (3, 0, 2) of the output's boundary holds 0, expected 1274167"},
    {"OutputInteriorRowsEnd",
     [](FlatVector&, FlatVector& o, const Shape& s) {
       o.at()(2, 3, 5) = 0;
       checkStencil(o.at(), StencilProbe(s.nx, s.ny, s.nz), s.nx, s.ny, s.nz);
     },
     "stencil: element (2, 3, 5) of the output's boundary holds 0, expected 860178"},
    {"StencilDropped",
     [](FlatVector&, FlatVector& o, const Shape& s) {
       o.fill();
       checkStencil(o.at(), StencilProbe(s.nx, s.ny, s.nz), s.nx, s.ny, s.nz);
     },
     "stencil: element (0, 0, 0) of the output's boundary holds 0, expected 908166"},
    // A wrong neighbour along each axis: on the linear index every one of these gives zero.
    {"StencilReadsINeighboursAlongJ",
     [](FlatVector& g, FlatVector& o, const Shape& s) {
       stencilMisreading(g, o, s, 0, {0, 1, 0});
     },
     "stencil: element (1, 1, 1) of the output's interior holds 2300334, expected 2173239"},
    {"StencilReadsJNeighboursAlongK",
     [](FlatVector& g, FlatVector& o, const Shape& s) {
       stencilMisreading(g, o, s, 1, {0, 0, 1});
     },
     "stencil: element (1, 1, 1) of the output's interior holds 1277745, expected 2173239"},
    {"StencilReadsKNeighboursAlongI",
     [](FlatVector& g, FlatVector& o, const Shape& s) {
       stencilMisreading(g, o, s, 2, {1, 0, 0});
     },
     "stencil: element (1, 1, 1) of the output's interior holds 2941638, expected 2173239"},
    {"SumOfAWrongGrid",
     [](FlatVector& g, FlatVector&, const Shape& s) {
       g.at()(2, 3, 4) = -5;
       checkSum(sumSweep(g.at(), s.nx, s.ny, s.nz), s.nx, s.ny, s.nz);
     },
     "sum: got 7053, expected 7140 (the grid itself holds every linear index)"},
    {"LinesJOfAWrongGrid",
     [](FlatVector& g, FlatVector&, const Shape& s) {
       g.at()(0, 4, 5) = 0;
       checkSum(linesJSweep(g.at(), s.nx, s.ny, s.nz), s.nx, s.ny, s.nz, "lines_j");
     },
     "lines_j: got 7111, expected 7140 (the grid itself holds every linear index)"},
    {"LinesIOfAWrongGrid",
     [](FlatVector& g, FlatVector&, const Shape& s) {
       g.at()(3, 0, 0) = 91;
       checkSum(linesISweep(g.at(), s.nx, s.ny, s.nz), s.nx, s.ny, s.nz, "lines_i");
     },
     "lines_i: got 7141, expected 7140 (the grid itself holds every linear index)"},
    {"GatherAtAWrongPoint",
     [](FlatVector& g, FlatVector&, const Shape& s) {
       g.at()(1, 2, 3) = -5;
       checkGather(g.at(), kPoints, gatherSweep(g.at(), kPoints.data(), 3), s.ny, s.nz);
     },
     "gather: point 1: element (1, 2, 3) of the grid holds -5, expected 45"},
    // The ceiling's kernels: each reads every element once, and only once.
    {"CeilingStencilReadsAWrongNeighbour",
     [](FlatVector&, FlatVector&, const Shape& s) {
       ceilingStencilMisreading(s, [](BlockGeometry b) {
         ++b.row;
         return b;
       });
     },
     "stencil: element (1, 1, 1) of the output's interior holds 2128101, expected 2173239"},
    {"CeilingSumMissesASlice",
     [](FlatVector&, FlatVector&, const Shape& s) {
       CeilingBlock<int> g(s);
       g.fill();
       BlockGeometry b = g.geometry();
       --b.nx;
       checkSum(sumBlockOf(g.block(), b), s.nx, s.ny, s.nz);
     },
     "sum: got 4005, expected 7140 (the grid itself holds every linear index)"},
    {"CeilingLinesJMissesALine",
     [](FlatVector&, FlatVector&, const Shape& s) {
       ceilingLinesMisreading<linesJBlockOf<int>>(
           s,
           [](BlockGeometry b) {
             --b.nz;
             return b;
           },
           "lines_j");
     },
     "lines_j: got 5900, expected 7140 (the grid itself holds every linear index)"},
    {"CeilingLinesJReadsLinesThatOverlap",
     [](FlatVector&, FlatVector&, const Shape& s) {
       ceilingLinesMisreading<linesJBlockOf<int>>(
           s,
           [](BlockGeometry b) {
             --b.row;
             return b;
           },
           "lines_j");
     },
     "lines_j: got 6900, expected 7140 (the grid itself holds every linear index)"},
    {"CeilingLinesIMissesALine",
     [](FlatVector&, FlatVector&, const Shape& s) {
       ceilingLinesMisreading<linesIBlockOf<int>>(
           s,
           [](BlockGeometry b) {
             --b.nz;
             return b;
           },
           "lines_i");
     },
     "lines_i: got 5900, expected 7140 (the grid itself holds every linear index)"},
    {"CeilingLinesIReadsThePadding",
     [](FlatVector&, FlatVector&, const Shape& s) {
       ceilingLinesMisreading<linesIBlockOf<int>>(
           s,
           [](BlockGeometry b) {
             ++b.ny;
             return b;
           },
           "lines_i");
     },
     "lines_i: got 9648, expected 7140 (the grid itself holds every linear index)"},
    {"CeilingGatherMissesAPoint",
     [](FlatVector&, FlatVector&, const Shape& s) {
       CeilingBlock<int> g(s);
       g.fill();
       checkGather(g.at(), kPoints, gatherPrefetched(g.at(), kPoints.data(), 2), s.ny, s.nz);
     },
     "gather: got 45, expected 164 (the sum of the 3 points' linear indices)"},
    {"GatherMiscounted",
     [](FlatVector& g, FlatVector&, const Shape& s) {
       checkGather(g.at(), kPoints, gatherSweep(g.at(), kPoints.data(), 2), s.ny, s.nz);
     },
     "gather: got 45, expected 164 (the sum of the 3 points' linear indices)"},
};

TEST(Checks, NameTheSweepAndTheFirstWrongElementOrPoint) {
  omp_set_num_threads(2);
  const Shape s{4, 5, 6};
  for (const Corruption& c : kCorruptions) {
    SCOPED_TRACE(c.name);
    // The grid holds the fill; the output, the stencil of the probe.
    FlatVector grid(s), in(s), out(s);
    for (FlatVector* f : {&grid, &in, &out}) {
      f->build();
      f->fill();
    }
    const StencilProbe probe(s.nx, s.ny, s.nz);
    probe.write(in.at());
    probe.write(out.at());
    stencilSweep(in.at(), out.at(), s.nx, s.ny, s.nz);
    try {
      c.spoilAndCheck(grid, out, s);
      ADD_FAILURE() << "the check passed";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  // Unspoilt, every check passes, and every sweep over the whole grid gives n(n-1)/2.
  FlatVector grid(s);
  grid.build();
  grid.fill();
  const auto g = grid.at();
  for (const std::int64_t total :
       {sumSweep(g, 4, 5, 6), linesJSweep(g, 4, 5, 6), linesISweep(g, 4, 5, 6)})
    EXPECT_EQ(total, expectedSum(4, 5, 6));
  const std::vector<Point> points = drawPoints(500, 4, 5, 6);
  EXPECT_NO_THROW(checkGather(g, points, gatherSweep(g, points.data(), 500), 5, 6));
}

// Index rules gone wrong, as a new layout's might: two elements in one slot.
struct BrickOffsetOffByOne : BrickRule<4> {
  using BrickRule::BrickRule;
  auto view() const {
    return [v = BrickRule::view()](int i, int j, int k) { return v(i, j, k) - ((k & 3) == 3); };
  }
};
struct PaddingOverlapsTheNextRow : PaddedRule {
  explicit PaddingOverlapsTheNextRow(const Shape& s) : PaddedRule(s) { row = s.nz - 1; }
};
// States one slot fewer than its last element needs.
struct RowMajorOneSlotShort : RowMajorRule {
  using RowMajorRule::RowMajorRule;
  std::size_t size() const { return RowMajorRule::size() - 1; }
};

// And a layout's own loop gone wrong: a stencil that never writes its output.
struct OwnStencilWritesNothing : Bricks<4> {
  using Bricks::Bricks;
  void ownStencil(OwnStencilWritesNothing&) const {}
};

TEST(Checks, CatchAWrongIndexRuleOrOwnLoop) {
  const std::tuple<const char*, Sample (*)(const Shape&, const SweepPlan&, const HeapPlan&),
                   const char*>
      rules[] = {{"brick offset", measure<IndexedBlock<BrickOffsetOffByOne>>, "fill: element ("},
                 {"padding", measure<IndexedBlock<PaddingOverlapsTheNextRow>>, "fill: element ("},
                 {"own stencil", measure<OwnStencilWritesNothing, true>, "stencil: element ("},
                 // A program's own rule is checked before it is measured, under any memory.
                 {"rule overlap",
                  rule_detail::measureRule<PaddingOverlapsTheNextRow, int, HugeMemory>,
                  "index rule: element (0, 1, 0) goes to slot 63, which an earlier element holds"},
                 {"rule short", rule_detail::measureRule<RowMajorOneSlotShort, float, ZeroedMemory>,
                  "index rule: element (7, 5, 63) goes to slot 3071, outside the 3071 slots it "
                  "states"}};
  omp_set_num_threads(2);
  for (const auto& [name, run, message] : rules) {
    try {
      run(Shape{8, 6, 64}, parseSweeps("all", 1), HeapPlan{});
      ADD_FAILURE() << name << ": the checks passed";
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), testing::StartsWith(message)) << name;
    }
  }
}

TEST(Checks, TheStencilWrapsInsteadOfOverflowingNearTheLargestValues) {
  // Linear in (i, j, k) and ending at INT_MAX - 1, as the largest accepted grid does.
  std::vector<int> v(27);
  for (int n = 0; n < 27; ++n)
    v[n] = INT_MAX - 27 + n;
  const auto g = [&v](int i, int j, int k) -> int& { return v[i * 9 + j * 3 + k]; };
  int centre = -1;
  stencilSweep(
      g, [&centre](int, int, int) -> int& { return centre; }, 3, 3, 3);
  EXPECT_EQ(centre, 0);
  EXPECT_EQ(sumSweep(g, 3, 3, 3), 27LL * (INT_MAX - 27) + 26 * 27 / 2);
}

// What each element type holds, three ways that must agree: element by
// element, along a fill's row, and the sum in closed form, across the
// range's wrap for every type but int32 and float's exact range.
template <class T> void valuesAgree(std::uint64_t range) {
  for (const std::int64_t count : {0, 1, 257, 70000, 300000}) {
    SumOf<T> total = 0;
    const ValueRun<T> run(0);
    for (std::int64_t n = 0; n < count; ++n) {
      const T v = elementValue<T>(n);
      ASSERT_EQ(v, static_cast<T>(static_cast<std::uint64_t>(n) % range)) << n;
      ASSERT_EQ(run[static_cast<int>(n)], v) << n;
      total += v;
    }
    EXPECT_EQ(expectedSumOf<T>(count), total) << count;
  }
  // Past 2^31 elements: q whole cycles and a part.
  const std::int64_t big = (std::int64_t{3} << 31) + 5;
  const std::uint64_t cycles = static_cast<std::uint64_t>(big) / range;
  const std::uint64_t part = static_cast<std::uint64_t>(big) % range;
  EXPECT_EQ(expectedSumOf<T>(big),
            static_cast<SumOf<T>>(cycles * (range * (range - 1) / 2) + part * (part - 1) / 2));
  EXPECT_EQ(ValueRun<T>(big)[3], elementValue<T>(big + 3));
}

TEST(Elements, EachTypeHoldsTheIndexModuloItsRangeAndSumsToIt) {
  valuesAgree<int>(std::uint64_t{1} << 31);
  valuesAgree<float>(std::uint64_t{1} << 16);
  valuesAgree<double>(std::uint64_t{1} << 16);
  valuesAgree<std::uint16_t>(std::uint64_t{1} << 16);
  valuesAgree<std::uint8_t>(std::uint64_t{1} << 8);
  EXPECT_EQ(valueText(std::uint8_t{200}), "200");
  EXPECT_EQ(valueText(65535.0f), "65535");
}

// An access that keeps state, as a tree's cached accessor does, must be each
// thread's own in every sweep: one shared would be used by several threads.
TEST(Sweeps, GiveEachThreadItsOwnCopyOfAnAccessThatKeepsState) {
  struct Owned {
    std::vector<int>* cells;
    std::atomic<int>* shared; // calls made from another thread than the copy's first
    mutable int owner = -1;
    Owned(std::vector<int>* c, std::atomic<int>* s) : cells(c), shared(s) {}
    Owned(const Owned& o) : cells(o.cells), shared(o.shared) {} // a fresh copy owns nothing yet
    int& operator()(int i, int j, int k) const {
      if (owner < 0) {
        owner = omp_get_thread_num();
      }
      *shared += owner != omp_get_thread_num();
      return (*cells)[std::size_t((i * 5 + j) * 6 + k)];
    }
  };
  omp_set_num_threads(4);
  std::vector<int> in(8 * 5 * 6), out(in.size());
  std::atomic<int> shared{0};
  const Owned g(&in, &shared), o(&out, &shared);
  fillThroughAccess(g, Shape{8, 5, 6});
  EXPECT_EQ(sumSweep(g, 8, 5, 6), expectedSum(8, 5, 6));
  EXPECT_EQ(linesJSweep(g, 8, 5, 6) + linesISweep(g, 8, 5, 6), 2 * expectedSum(8, 5, 6));
  const std::vector<Point> points = drawPoints(100, 8, 5, 6);
  checkGather(g, points, gatherSweep(g, points.data(), 100), 5, 6);
  checkFill(g, 8, 5, 6);
  const StencilProbe probe(8, 5, 6);
  probe.write(g);
  probe.write(o);
  stencilSweep(g, o, 8, 5, 6);
  checkStencil(o, probe, 8, 5, 6);
  EXPECT_EQ(shared, 0);
}

// The probe's expected output is the 7-point stencil of what it writes, in the
// stencil's own unsigned arithmetic, and its input is not linear along any axis.
TEST(StencilProbe, ExpectsTheSevenPointStencilOfWhatItWrites) {
  const auto u = [](int v) { return static_cast<unsigned>(v); };
  for (const Extents& s : kShapes) {
    SCOPED_TRACE(testing::Message() << s.nx << "x" << s.ny << "x" << s.nz);
    const StencilProbe p(s.nx, s.ny, s.nz);
    for (int i = 0; i < s.nx; ++i)
      for (int j = 0; j < s.ny; ++j)
        for (int k = 0; k < s.nz; ++k) {
          const bool inside =
              i > 0 && j > 0 && k > 0 && i < s.nx - 1 && j < s.ny - 1 && k < s.nz - 1;
          ASSERT_EQ(p.isInterior(i, j, k), inside);
          if (!inside) {
            ASSERT_EQ(p.expected(i, j, k), p.value(i, j, k));
            continue;
          }
          const unsigned direct = 6u * u(p.value(i, j, k)) - u(p.value(i - 1, j, k)) -
                                  u(p.value(i + 1, j, k)) - u(p.value(i, j - 1, k)) -
                                  u(p.value(i, j + 1, k)) - u(p.value(i, j, k - 1)) -
                                  u(p.value(i, j, k + 1));
          ASSERT_EQ(p.expected(i, j, k), static_cast<int>(direct));
        }
  }
  const StencilProbe p(3, 3, 3);
  for (const Element d : std::vector<Element>{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}})
    EXPECT_NE(u(p.value(1 - d.i, 1 - d.j, 1 - d.k)) + u(p.value(1 + d.i, 1 + d.j, 1 + d.k)),
              2u * u(p.value(1, 1, 1)))
        << d.i << d.j << d.k;
}

TEST(CheckExtents, AcceptsTheLargestGridsAndNamesRejectedOnes) {
  EXPECT_NO_THROW(checkExtents(INT_MAX, 1, 1));
  EXPECT_NO_THROW(checkExtents(1, 1, INT_MAX));
  EXPECT_NO_THROW(checkExtents(400, 800, 100));
  try {
    checkExtents(3, -2, 7);
    FAIL() << "no exception";
  } catch (const std::length_error& e) {
    EXPECT_NE(std::string(e.what()).find("3 x -2 x 7"), std::string::npos) << e.what();
  }
}

// Good shapes and what they give; bad ones and the text their message must quote.
struct ShapeText {
  const char* text;
  std::vector<std::vector<int>> shapes; // empty: rejected
  const char* quoted;
};

const ShapeText kShapeTexts[] = {
    {"400x800x100", {{400, 800, 100}}, nullptr},
    {"1x1x1,100x100x100,800x800x200", {{1, 1, 1}, {100, 100, 100}, {800, 800, 200}}, nullptr},
    {"007x1x2147483", {{7, 1, 2147483}}, nullptr},
    {"2147483647x1x1", {{INT_MAX, 1, 1}}, nullptr},
    {"", {}, ""},
    {"400x800", {}, "400x800"},
    {"1x2x3x4", {}, "1x2x3x4"},
    {"-1x2x3", {}, "-1x2x3"},
    {"+1x2x3", {}, "+1x2x3"},
    {"0x2x3", {}, "0x2x3"},
    {"1xax3", {}, "1xax3"},
    {"1 x2x3", {}, "1 x2x3"},
    {"1X2X3", {}, "1X2X3"},
    {"1x1x1,", {}, ""},
    {"1x1x1,,2x2x2", {}, ""},
    {"65536x32768x1", {{65536, 32768, 1}}, nullptr}, // past 2^31 elements: memory decides
    {"2147483647x2147483647x2147483647", {}, "2147483647x2147483647x2147483647"},
    {"99999999999x1x1", {}, "99999999999x1x1"},
    {"1x1x1,1x1x1", {}, "1x1x1,1x1x1"},
};

TEST(ParseShapes, AcceptsGoodListsAndQuotesWhatItRejects) {
  EXPECT_EQ(shapeName(Shape{400, 800, 100}), "400x800x100"); // as case names carry it
  for (const ShapeText& t : kShapeTexts) {
    SCOPED_TRACE(t.text);
    if (t.quoted == nullptr) {
      std::vector<std::vector<int>> got;
      for (const Shape& s : parseShapes(t.text))
        got.push_back({s.nx, s.ny, s.nz});
      EXPECT_EQ(got, t.shapes);
      continue;
    }
    try {
      parseShapes(t.text);
      ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find('"' + std::string(t.quoted) + '"'), std::string::npos)
          << e.what();
    }
  }
}

// The sweep list, the heaps and the aging share: what each flag accepts, as
// the suite names it back, and what it rejects, quoted in the message.
struct FlagText {
  const char* flag;
  const char* text;
  const char* readBack; // nullptr: rejected
};

std::string readBack(const FlagText& f) {
  const std::string flag = f.flag;
  if (flag == "--sweeps")
    return sweepsName(parseSweeps(f.text, 3));
  if (flag == "--heap")
    return heapsName(parseHeaps(f.text, 0.5));
  if (flag == "--element") {
    std::string names;
    for (const ElementType e : parseElements(f.text))
      names += (names.empty() ? "" : ",") + std::string(info(e).name);
    return names;
  }
  return std::to_string(parseHeapFreed(f.text));
}

const FlagText kFlagTexts[] = {
    {"--sweeps", "sum,stencil", "sum,stencil"},
    {"--sweeps", "stencil,sum", "sum,stencil"},
    {"--sweeps", "sum", "sum"},
    {"--sweeps", "gather,lines_i", "lines_i,gather"},
    {"--sweeps", "lines_j", "lines_j"},
    {"--sweeps", "all", "sum,stencil,lines_j,lines_i,gather,fields,stream,planes"},
    {"--sweeps", "stream,fields", "fields,stream"},
    {"--sweeps", "planes,sum", "sum,planes"},
    {"--sweeps", "planes,planes", nullptr},
    {"--sweeps", "none", "none"},
    {"--sweeps", "", nullptr},
    {"--sweeps", "sum,", nullptr},
    {"--sweeps", ",sum", nullptr},
    {"--sweeps", "sum,sum", nullptr},
    {"--sweeps", "Sum", nullptr},
    {"--sweeps", "none,sum", nullptr},
    {"--sweeps", "all,sum", nullptr},
    {"--sweeps", "lines_k", nullptr},
    {"--sweeps", "sum stencil", nullptr},
    {"--heap", "fresh", "fresh"},
    {"--heap", "aged", "aged"},
    {"--heap", "aged,fresh", "fresh,aged"},
    {"--heap", "", nullptr},
    {"--heap", "old", nullptr},
    {"--heap", "fresh,", nullptr},
    {"--heap", "aged,aged", nullptr},
    {"--element", "int32", "int32"},
    {"--element", "uint8,float,double,uint16,int32", "uint8,float,double,uint16,int32"},
    {"--element", "", nullptr},
    {"--element", "int64", nullptr},
    {"--element", "float,", nullptr},
    {"--element", "Float", nullptr},
    {"--element", "uint8,uint8", nullptr},
    {"--heap-freed", "0.25", "0.250000"},
    {"--heap-freed", "1e-3", "0.001000"},
    {"--heap-freed", "0", nullptr},
    {"--heap-freed", "1", nullptr},
    {"--heap-freed", "-0.5", nullptr},
    {"--heap-freed", "1.5", nullptr},
    {"--heap-freed", "nan", nullptr},
    {"--heap-freed", "0.5x", nullptr},
    {"--heap-freed", " 0.5", nullptr},
    {"--heap-freed", "", nullptr},
};

TEST(ParseFlags, ReadTheSweepsHeapsAndElementsAndQuoteWhatTheyReject) {
  for (const FlagText& f : kFlagTexts) {
    SCOPED_TRACE(std::string(f.flag) + "=" + f.text);
    if (f.readBack != nullptr) {
      EXPECT_EQ(readBack(f), f.readBack);
      continue;
    }
    try {
      readBack(f);
      ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(std::string(f.flag) + " \"" + f.text + '"'),
                std::string::npos)
          << e.what();
    }
  }
}

TEST(AgedHeap, FreesTheShareAskedAndHoldsTheRest) {
  for (const double freed : {0.1, 0.25, 0.5, 0.9}) {
    const AgedHeap heap(1 << 20, freed);
    const double blocks = static_cast<double>(heap.blocksHeld() + heap.blocksFreed());
    // About 1 MiB in blocks of 16 to 1,024 bytes, 520 on average.
    EXPECT_NEAR(blocks, (1 << 20) / 520.0, 0.1 * (1 << 20) / 520.0) << freed;
    EXPECT_NEAR(static_cast<double>(heap.blocksFreed()), freed * blocks, 0.5) << freed;
  }
  EXPECT_EQ(AgedHeap(1 << 20, 0.5).blocksHeld(), AgedHeap(1 << 20, 0.5).blocksHeld());
}

TEST(MachineContext, ReadsTheHugePageMode) {
  const std::pair<const char*, const char*> settings[] = {
      {"always [madvise] never\n", "madvise"},
      {"[always] madvise never\n", "always"},
      {"always defer defer+madvise [madvise] never\n", "madvise"},
      {"always madvise [never]\n", "never"},
      {"", "unavailable"},
      {"[]", "unavailable"}};
  for (const auto& s : settings)
    EXPECT_EQ(thpSetting(s.first), s.second) << s.first;
}

TEST(MachineContext, ReadsTheHugePagesOfTheProcess) {
  const std::pair<const char*, long> smaps[] = {
      {"Rss:  1000 kB\nAnonHugePages:   4096 kB\nShmemPmdMapped: 0 kB\n", 4096L * 1024},
      {"AnonHugePages:   0 kB\n", 0},
      {"Rss:  1000 kB\n", -1},
      {"AnonHugePages: many kB\n", -1},
      {"", -1}};
  for (const auto& s : smaps)
    EXPECT_EQ(anonHugeBytes(s.first), s.second) << s.first;
}

// One median everywhere: the middle value, or the mean of the two middle ones;
// a repetition's median sample keeps build, fill and release adding up.
TEST(Statistics, OneMedianForPassesAndSamples) {
  const std::pair<std::vector<double>, double> medians[] = {
      {{5}, 5}, {{3, 1, 2}, 2}, {{4, 1, 3, 2}, 2.5}, {{7, 7, 1, 9}, 7}, {{2, 1}, 1.5}};
  for (const auto& m : medians)
    EXPECT_EQ(medianOf(m.first), m.second);
  const auto sample = [](double build, double fill, long faults) {
    Sample s;
    s.ns[kBuild] = build;
    s.ns[kFill] = fill;
    s.faults = faults;
    s.added = {fill * 10, -1};
    return s;
  };
  const Sample odd = medianSample({sample(1, 1, 10), sample(9, 9, 90), sample(2, 3, 20)});
  EXPECT_EQ(odd.totalNs(), 5);
  EXPECT_EQ(odd.faults, 20);
  const Sample even =
      medianSample({sample(1, 1, 10), sample(9, 9, 90), sample(2, 3, 20), sample(4, 4, 40)});
  EXPECT_EQ(even.totalNs(), (5 + 8) / 2.0);
  EXPECT_EQ(even.ns[kBuild], 3);
  EXPECT_EQ(even.faults, 30);
  EXPECT_THAT(even.added, testing::ElementsAre(35, -1));
  // The line a sample process sends back reads back whole, the program's sweeps included.
  Sample back;
  ASSERT_TRUE(parseSample(formatSample(even), back));
  EXPECT_EQ(back.totalNs(), even.totalNs());
  EXPECT_THAT(back.added, testing::ElementsAre(35, -1));
  EXPECT_FALSE(parseSample(formatSample(even) + " x", back));
}

// A sweep of the program's own must give the same checksum on every pass: a
// sweep that depends on anything but the grid fails its sample, saying so.
TEST(AddedSweeps, FailWherePassesDisagree) {
  struct Drifting {
    static const char* name() { return "drifting"; }
    int operator()(const int* const&, const Shape&) const {
      static int calls = 0;
      return ++calls;
    }
  };
  const int* const block = nullptr;
  Checksum first;
  try {
    sweep_detail::run<Drifting, const int*>(&block, Shape{1, 1, 1}, 3, first);
    ADD_FAILURE() << "a drifting sweep passed";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "drifting: pass 2 gave 2, the first pass 1");
  }
}

// The highest level's size, whatever order the indices come in; none listed: unknown.
TEST(MachineContext, ReadsTheLastLevelCache) {
  char dir[] = "/tmp/voxgrid-cache.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string root = dir;
  EXPECT_EQ(lastLevelCacheBytes(root), -1);
  const std::pair<const char*, const char*> caches[] = {
      {"3", "32768K"}, {"1", "48K"}, {"1", "32K"}, {"2", "1024K"}};
  for (std::size_t n = 0; n < std::size(caches); ++n) {
    const std::string index = root + "/index" + std::to_string(n);
    ASSERT_EQ(mkdir(index.c_str(), 0700), 0);
    std::ofstream(index + "/level") << caches[n].first << "\n";
    std::ofstream(index + "/size") << caches[n].second << "\n";
  }
  EXPECT_EQ(lastLevelCacheBytes(root), 32LL << 20);
  EXPECT_EQ(cacheSizeBytes("12M"), 12LL << 20);
  EXPECT_EQ(cacheSizeBytes("512"), 512);
  EXPECT_EQ(cacheSizeBytes("lots"), -1);
  for (std::size_t n = 0; n < std::size(caches); ++n) {
    const std::string index = root + "/index" + std::to_string(n);
    std::remove((index + "/level").c_str());
    std::remove((index + "/size").c_str());
    rmdir(index.c_str());
  }
  rmdir(dir);
}

TEST(MachineContext, OrdersInstructionSetsWithinAnArchitecture) {
  const std::tuple<const char*, const char*, bool> below[] = {
      {"sse2", "avx512f", true},  {"avx", "avx2", true},    {"avx2", "avx2", false},
      {"avx512f", "avx2", false}, {"neon", "sve2", true},   {"sve", "neon", false},
      {"sse2", "sve", false},     {"scalar", "sse2", true}, {"scalar", "scalar", false}};
  for (const auto& [isa, than, expected] : below)
    EXPECT_EQ(isaBelow(isa, than), expected) << isa << " below " << than;
  // A build runs only on a CPU that has what it was built for.
  EXPECT_FALSE(isaBelow(cpuIsa(), buildIsa())) << buildIsa() << " on " << cpuIsa();
}

TEST(NestedLayout, OutOfMemoryAtAnyAllocationReleasesWhatWasBuilt) {
#ifdef VOXGRID_NO_ARRAY_HOOK
  GTEST_SKIP() << "no allocation hook in this build";
#endif
  const long before = liveArrays;
  const int allocations = 1 + 3 + 3 * 4; // top array, slice arrays, rows of a 3 x 4 x 5 grid
  for (int k = 0; k < allocations; ++k) {
    failAfter = k;
    EXPECT_THROW(voxgridtest(3, 4, 5), std::bad_alloc) << "allocation " << k;
    failAfter = -1;
    EXPECT_EQ(liveArrays, before) << "failing allocation " << k;
  }
}

// A sample that runs out of memory says which step could not allocate.
TEST(NestedLayout, OutOfMemoryNamesTheStepThatCouldNotAllocate) {
#ifdef VOXGRID_NO_ARRAY_HOOK
  GTEST_SKIP() << "no allocation hook in this build";
#endif
  const std::pair<long, const char*> rows[] = {
      {0, "build: out of memory"},
      {15, "build: out of memory"},                  // the last row of a 3 x 4 x 5 grid
      {16, "stencil's output grid: out of memory"}}; // the grid fits, its output does not
  const long before = liveArrays;
  for (const auto& row : rows) {
    failAfter = row.first;
    try {
      findCase("nested")->run(Shape{3, 4, 5}, parseSweeps("stencil", 1), HeapPlan{});
      ADD_FAILURE() << "no exception at allocation " << row.first;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), row.second) << "allocation " << row.first;
    }
    failAfter = -1;
    EXPECT_EQ(liveArrays, before) << "allocation " << row.first;
  }
}

} // namespace
} // namespace voxgrid
