#include "layouts.h"

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

struct Shape {
  int nx, ny, nz, team; // team: the default team size for the run
};

// Odd shapes, empty grids, and teams larger than nx and than the whole grid.
const Shape kShapes[] = {{1, 1, 1, 1}, {3, 5, 7, 2}, {13, 17, 19, 3}, {2, 3, 5, 8}, {1, 2, 1, 5},
                         {0, 4, 4, 2}, {4, 0, 4, 2}, {4, 4, 0, 2},    {0, 0, 0, 1}, {64, 33, 9, 4}};

// Negative extents, and slices or grids past 32-bit index range.
const Shape kBadExtents[] = {{-1, 1, 1, 0},
                             {1, -1, 1, 0},
                             {1, 1, -1, 0},
                             {65536, 32768, 1, 0},
                             {1, 65536, 32768, 0},
                             {0, 65536, 32768, 0},
                             {INT_MAX, INT_MAX, INT_MAX, 0}};

class Layouts : public testing::TestWithParam<Layout> {};

TEST_P(Layouts, EveryElementHoldsItsLinearIndex) {
  for (const Shape& s : kShapes) {
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
  for (const Shape& s : kBadExtents) {
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
