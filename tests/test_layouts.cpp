#include "layouts.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <climits>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Shape {
  int nx, ny, nz;
  int team; // default team size for the fills that use the default team
};

// One layout: its fill seen from outside, its timed test, and what that test prints.
struct Layout {
  const char* name;
  std::function<std::vector<int>(const Shape&)> fill;
  void (*timed)(int, int, int);
  std::function<std::string(const Shape&)> printed;
};

std::vector<int> filledNested(const Shape& s) {
  int*** grid = allocNested(s.nx, s.ny, s.nz);
  fillNested(grid, s.nx, s.ny, s.nz);
  std::vector<int> out;
  for (int i = 0; i < s.nx; ++i)
    for (int j = 0; j < s.ny; ++j)
      out.insert(out.end(), grid[i][j], grid[i][j] + s.nz);
  releaseNested(grid, s.nx, s.ny);
  return out;
}

template <void (*Fill)(std::valarray<int>&, int, int, int)>
std::vector<int> filledFlat(const Shape& s) {
  std::valarray<int> a(-1, static_cast<std::size_t>(s.nx) * s.ny * s.nz);
  Fill(a, s.nx, s.ny, s.nz);
  return std::vector<int>(std::begin(a), std::end(a));
}

bool empty(const Shape& s) { return s.nx == 0 || s.ny == 0 || s.nz == 0; }

const Layout kLayouts[] = {
    {"Nested", filledNested, voxgridtest, [](const Shape&) { return std::string(); }},
    {"Linear", filledFlat<fillLinear>, voxgridLineartest,
     [](const Shape& s) { return empty(s) ? "" : std::string("Number of threads = 4\n"); }},
    {"LinearOneIndex", filledFlat<fillLinearOneIndex>, voxgridLinearOneIndextest,
     [](const Shape&) { return std::string("\n"); }},
};

// Odd shapes, empty grids, and teams larger than nx (and than the whole grid).
const Shape kShapes[] = {{1, 1, 1, 1}, {3, 5, 7, 2}, {13, 17, 19, 3}, {2, 3, 5, 8}, {1, 2, 1, 5},
                         {0, 4, 4, 2}, {4, 0, 4, 2}, {4, 4, 0, 2},    {0, 0, 0, 1}, {64, 33, 9, 4}};

class LayoutFill : public testing::TestWithParam<std::tuple<Layout, Shape>> {
protected:
  void SetUp() override { omp_set_num_threads(std::get<1>(GetParam()).team); }
};

TEST_P(LayoutFill, EveryElementHoldsItsLinearIndex) {
  const auto& [layout, s] = GetParam();
  testing::internal::CaptureStdout();
  const std::vector<int> grid = layout.fill(s);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(grid.size(), static_cast<std::size_t>(s.nx) * s.ny * s.nz);
  for (std::size_t n = 0; n < grid.size(); ++n)
    ASSERT_EQ(grid[n], static_cast<int>(n)) << n;
}

TEST_P(LayoutFill, TimedTestPrintsOnlyItsOwnLine) {
  const auto& [layout, s] = GetParam();
  testing::internal::CaptureStdout();
  layout.timed(s.nx, s.ny, s.nz);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), layout.printed(s));
}

std::string caseName(const testing::TestParamInfo<std::tuple<Layout, Shape>>& info) {
  const Layout& layout = std::get<0>(info.param);
  const Shape& s = std::get<1>(info.param);
  return std::string(layout.name) + "_" + std::to_string(s.nx) + "x" + std::to_string(s.ny) + "x" +
         std::to_string(s.nz) + "_team" + std::to_string(s.team);
}

INSTANTIATE_TEST_SUITE_P(Shapes, LayoutFill,
                         testing::Combine(testing::ValuesIn(kLayouts), testing::ValuesIn(kShapes)),
                         caseName);

// Extents whose index arithmetic would leave 32-bit range, or that make no sense.
const Shape kBadExtents[] = {{-1, 1, 1, 0},
                             {1, -1, 1, 0},
                             {1, 1, -1, 0},
                             {65536, 32768, 1, 0},
                             {1, 65536, 32768, 0},
                             {0, 65536, 32768, 0},
                             {INT_MAX, INT_MAX, INT_MAX, 0}};

class BadExtents : public testing::TestWithParam<std::tuple<Layout, Shape>> {};

TEST_P(BadExtents, RejectedBeforeAnythingIsAllocatedOrPrinted) {
  const auto& [layout, s] = GetParam();
  testing::internal::CaptureStdout();
  EXPECT_THROW(layout.timed(s.nx, s.ny, s.nz), std::length_error);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

INSTANTIATE_TEST_SUITE_P(Extents, BadExtents,
                         testing::Combine(testing::ValuesIn(kLayouts),
                                          testing::ValuesIn(kBadExtents)));

TEST(CheckExtents, AcceptsTheLargestGrids) {
  EXPECT_NO_THROW(checkExtents(INT_MAX, 1, 1));
  EXPECT_NO_THROW(checkExtents(1, 1, INT_MAX));
  EXPECT_NO_THROW(checkExtents(0, 0, 0));
  EXPECT_NO_THROW(checkExtents(400, 800, 100));
}

TEST(CheckExtents, MessageNamesTheExtents) {
  try {
    checkExtents(3, -2, 7);
    FAIL() << "no exception";
  } catch (const std::length_error& e) {
    EXPECT_NE(std::string(e.what()).find("3 x -2 x 7"), std::string::npos) << e.what();
  }
}

} // namespace
