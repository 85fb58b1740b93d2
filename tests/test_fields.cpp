#include "cases.h"
#include "field_layouts.h"
#include "heap_flags.h"
#include "sweep_flags.h"

#include <voxgrid/detail/field_sweeps.h>
#include <voxgrid/detail/sample.h>
#include <voxgrid/field_rule.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <omp.h>

#include <cctype>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

// A voxel arrangement of the tests' own, as a program adds one: the fields
// outermost, then j, i and k, so that a wrong stride in the harness's use of
// a rule shows.
struct FieldsThenJ {
  explicit FieldsThenJ(const voxgrid::Shape& s) : nx(s.nx), ny(s.ny), nz(s.nz), n(s.fields) {}
  std::size_t size() const { return static_cast<std::size_t>(nx * ny * nz * n); }
  static std::size_t tableBytes() { return 0; }
  auto view() const {
    return [nx = nx, ny = ny, nz = nz](int i, int j, int k, int f) {
      return ((f * ny + j) * nx + i) * nz + k;
    };
  }
  std::ptrdiff_t nx, ny, nz, n;
};
VOXGRID_FIELD_RULE(FieldsThenJ, "fields_then_j");

namespace voxgrid {
namespace {

template <class T, class Tag> struct LayoutOf;
template <class T, template <class, class> class L> struct LayoutOf<T, RuleTag<L>> {
  using type = L<T, TouchedMemory>;
};
template <class L, class = void> struct HasFieldRule : std::false_type {};
template <class L> struct HasFieldRule<L, std::void_t<typename L::FieldRule>> : std::true_type {};

std::vector<Case> fieldCases() {
  std::vector<Case> cases;
  for (const Case& c : suiteCases())
    if (c.fields())
      cases.push_back(c);
  return cases;
}

// Odd shapes: rows that end in a partial block of every V, one voxel, and rows
// as wide as the widest vectors; 1, 3 and 19 fields (a D3Q19 lattice).
const Shape kFieldShapes[] = {{37, 53, 11}, {3, 1, 500}, {1, 1, 1}, {4, 5, 100}};
const int kFieldCounts[] = {1, 3, 19};

// Every arrangement at every shape, field count and heap: build, fill, every
// sweep (the one-field ones on field 0) and its check, release.
class FieldCases : public testing::TestWithParam<Case> {};

TEST_P(FieldCases, FillAndEverySweepCheckOutForOneThreeAndNineteenFields) {
  SweepPlan plan = parseSweeps("all", 2);
  plan.points = 1000;
  omp_set_num_threads(3);
  for (const HeapPlan heap : parseHeaps("fresh,aged", 0.5)) {
    for (Shape s : kFieldShapes) {
      for (const int fields : kFieldCounts) {
        s.fields = fields;
        SCOPED_TRACE(testing::Message() << s.nx << "x" << s.ny << "x" << s.nz << " of " << fields
                                        << " fields" << (heap.aged ? ", aged heap" : ""));
        Sample r;
        try {
          r = GetParam().run(s, plan, heap);
        } catch (const std::exception& e) {
          ADD_FAILURE() << e.what();
          continue;
        }
        for (int step = kSum; step < kStepCount; ++step)
          EXPECT_GE(r.ns[step], 0) << kSteps[step].name;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(All, FieldCases, testing::ValuesIn(fieldCases()), [](const auto& info) {
  std::string name = caseKey(info.param);
  for (char& c : name)
    c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});

// Each built-in rule puts every value of every voxel in a slot of its own,
// within the slots it states (the check every program's own rule gets).
TEST(FieldRules, PlaceEveryValueInASlotOfItsOwn) {
  const auto checkAll = [](auto* element) {
    using T = std::remove_pointer_t<decltype(element)>;
    forEachFieldRule([](const char* name, const char*, auto tag) {
      using L = typename LayoutOf<T, decltype(tag)>::type;
      if constexpr (HasFieldRule<L>::value) {
        for (Shape s : kFieldShapes)
          for (const int fields : kFieldCounts) {
            s.fields = fields;
            EXPECT_NO_THROW(field_rule_detail::check<typename L::FieldRule>(s))
                << name << " " << s.nx << "x" << s.ny << "x" << s.nz << " of " << fields;
          }
      }
    });
  };
  checkAll(static_cast<std::uint8_t*>(nullptr));
  checkAll(static_cast<float*>(nullptr));
  checkAll(static_cast<double*>(nullptr));
}

// Arrangements gone wrong, as a program's own might: field 1 read and written
// in field 2's slot; the blocked form cut into blocks of V + 1 voxels but laid
// out for V; a structure of arrays whose fields' stride is one slot short.
struct AosNeighboursSlot : AosRuleOf<int, false> {
  using AosRuleOf::AosRuleOf;
  auto view() const {
    return [v = AosRuleOf::view()](int i, int j, int k, int f) { return v(i, j, k, f + (f == 1)); };
  }
};
struct AosoaBlockOffByOne : AosoaRuleOf<int, 4> {
  using AosoaRuleOf::AosoaRuleOf;
  auto view() const {
    return [rb = rowBlocks, sb = sliceBlocks, n = n](int i, int j, int k, int f) {
      return ((i * sb + j * rb + k / 5) * n + f) * 4 + k % 5;
    };
  }
};
struct SoaFieldStrideShort : SoaRuleOf<float, false> {
  explicit SoaFieldStrideShort(const Shape& s) : SoaRuleOf(s) { --field; }
};

// The streaming step with field 2's direction reversed, then its check.
Sample streamReversed(const Shape& s, const SweepPlan&, const HeapPlan&) {
  Direction wrong[kMaxFields];
  std::copy(std::begin(kD3Q19), std::end(kD3Q19), wrong);
  wrong[2] = {-wrong[2].i, -wrong[2].j, -wrong[2].k};
  AosOf<int> in(s), out(s);
  for (AosOf<int>* g : {&in, &out}) {
    g->build();
    g->fill();
  }
  streamSweep(in.fieldsAt(), out.fieldsAt(), s, wrong);
  checkStream(out.fieldsAt(), s);
  return {};
}

// The weighted sum with field 2 left out.
Sample fieldsSumMissesAField(const Shape& s, const SweepPlan&, const HeapPlan&) {
  SoaOf<double> g(s);
  g.build();
  g.fill();
  const auto f = g.fieldsAt();
  checkFieldsSum<double>(
      fieldsSweep(f, s) - 3 * expectedSumOf<double>(2 * kFieldStep, 2 * kFieldStep + 8 * 6 * 9), s);
  return {};
}

TEST(FieldChecks, CatchAWrongArrangementOrStep) {
  const std::tuple<const char*, Sample (*)(const Shape&, const SweepPlan&, const HeapPlan&),
                   const char*>
      rows[] = {
          // A program's own rule is checked before it is measured: the first value named.
          {"neighbour's slot, checked",
           field_rule_detail::measureRule<AosNeighboursSlot, int, HugeMemory>,
           "field rule: voxel (0, 0, 0) field 2 goes to slot 2, which field 1 of the same "
           "voxel holds"},
          // Unchecked, as a built-in rule is, the fill's check catches it.
          {"neighbour's slot, filled", measure<FieldBlock<AosNeighboursSlot, int>>,
           "fill: voxel (0, 0, 0) field 1 holds "},
          {"block off by one",
           field_rule_detail::measureRule<AosoaBlockOffByOne, int, ZeroedMemory>,
           "field rule: voxel (0, 0, 4) field 0 goes to slot 4, which an earlier voxel holds"},
          {"block off by one, filled", measure<FieldBlock<AosoaBlockOffByOne, int>>,
           "fill: voxel (0, 0, 4) field 0 holds "},
          {"fields' stride short",
           field_rule_detail::measureRule<SoaFieldStrideShort, float, TouchedMemory>,
           "field rule: voxel (7, 5, 8) field 0 goes to slot 431, which an earlier voxel holds"},
          {"direction reversed", streamReversed,
           "stream: voxel (1, 1, 1) field 2 of the output holds "},
          {"a field left out", fieldsSumMissesAField, "fields: got "},
      };
  omp_set_num_threads(2);
  for (const auto& [name, run, message] : rows) {
    try {
      run(Shape{8, 6, 9, 3}, parseSweeps("all", 1), HeapPlan{});
      ADD_FAILURE() << name << ": the checks passed";
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), testing::StartsWith(message)) << name;
    }
  }
}

} // namespace
} // namespace voxgrid
