#include "cases.h"
#include "context.h"
#include "layouts.h"
#include "more_layouts.h"
#include "shape.h"

#include <gmock/gmock.h>
#include <gnu/libc-version.h>
#include <gtest/gtest.h>
#include <omp.h>

#include <climits>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

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

// The suite's own layouts, read back through their own structure.
std::vector<int> vector3d(int nx, int ny, int nz) {
  Vector3d grid = buildVector3d(nx, ny, nz);
  fillVector3d(grid, nx, ny, nz);
  std::vector<int> out;
  for (const auto& slice : grid)
    for (const auto& row : slice)
      out.insert(out.end(), row.begin(), row.end());
  releaseVector3d(grid);
  return out;
}

std::vector<int> flatVector(int nx, int ny, int nz) {
  std::vector<int> grid = buildFlatVector(nx, ny, nz);
  fillFlatVector(grid, nx, ny, nz);
  std::vector<int> out = grid;
  releaseFlatVector(grid);
  return out;
}

std::vector<int> pointerTables(int nx, int ny, int nz) {
  PointerTables tables = buildPointerTables(nx, ny, nz);
  fillPointerTables(tables, nx, ny, nz);
  std::vector<int> out;
  for (int i = 0; i < nx; ++i)
    for (int j = 0; j < ny; ++j)
      out.insert(out.end(), tables.grid()[i][j], tables.grid()[i][j] + nz);
  releasePointerTables(tables);
  return out;
}

// A sample of a suite case, as its process runs it: build, fill, release.
template <const char* Name> void sample(int nx, int ny, int nz) {
  findCase(Name)->run(Shape{nx, ny, nz});
}
constexpr char kVector3d[] = "vector3d";
constexpr char kFlatVector[] = "flat_vector";
constexpr char kPointerTables[] = "pointer_tables";

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
    {"Vector3d", vector3d, sample<kVector3d>, "", ""},
    {"FlatVector", flatVector, sample<kFlatVector>, "", ""},
    {"PointerTables", pointerTables, sample<kPointerTables>, "", ""},
};

struct Extents {
  int nx, ny, nz, team; // team: the default team size for the run
};

// Odd shapes, empty grids, and teams larger than nx and than the whole grid.
const Extents kShapes[] = {{1, 1, 1, 1}, {3, 5, 7, 2},  {13, 17, 19, 3}, {2, 3, 5, 8},
                           {1, 2, 1, 5}, {0, 4, 4, 2},  {4, 0, 4, 2},    {4, 4, 0, 2},
                           {0, 0, 0, 1}, {64, 33, 9, 4}};

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
    {"65536x32768x1", {}, "65536x32768x1"},
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

TEST(MachineContext, ReadsTheHugePageModeAndTheAllocator) {
  const std::pair<const char*, const char*> settings[] = {
      {"always [madvise] never\n", "madvise"},
      {"[always] madvise never\n", "always"},
      {"always defer defer+madvise [madvise] never\n", "madvise"},
      {"always madvise [never]\n", "never"},
      {"", "unavailable"},
      {"[]", "unavailable"}};
  for (const auto& s : settings)
    EXPECT_EQ(thpSetting(s.first), s.second) << s.first;
  // This machine's kernel has transparent huge pages; the mode read must be a real one.
  EXPECT_THAT(thpMode("enabled"), testing::AnyOf("always", "madvise", "never"));
  EXPECT_EQ(allocatorName(), std::string("glibc ") + gnu_get_libc_version());
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

} // namespace
