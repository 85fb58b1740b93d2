#ifndef VOXGRID_INDEX_RULE_H
#define VOXGRID_INDEX_RULE_H

#include <voxgrid/layout.h>
#include <voxgrid/layouts/indexed_block.h>
#include <voxgrid/layouts/memory.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace voxgrid {

// An index rule of the program's own: where element (i, j, k) of one block
// lives, and nothing else. VOXGRID_INDEX_RULE(MyRule, "my_rule") measures it
// under every way of getting the block (memory.h) and for every element type,
// as the cases "my_rule/memory:touched", "my_rule/memory:huge" and
// "my_rule/memory:zeroed", beside the built-in rules. A Rule is made from a
// Shape and has
//   std::size_t size() const;        the slots it spans (at least the elements)
//   std::size_t tableBytes() const;  what it keeps beside them (0 for none)
//   View view() const;               a small copyable callable: (i, j, k) -> offset
// Every sample first checks the rule, outside every count: an offset outside
// [0, size()) or a slot that two elements share fails the case, naming the
// first such element.

namespace rule_detail {

inline std::string element(int i, int j, int k) {
  return "(" + std::to_string(i) + ", " + std::to_string(j) + ", " + std::to_string(k) + ")";
}

template <class Rule> void check(const Shape& s) {
  elementCount(s);
  const Rule rule(s);
  const std::size_t slots = rule.size();
  const auto index = rule.view();
  std::vector<bool> used(slots);
  for (int i = 0; i < s.nx; ++i) {
    for (int j = 0; j < s.ny; ++j) {
      for (int k = 0; k < s.nz; ++k) {
        const auto at = static_cast<std::int64_t>(index(i, j, k));
        if (at < 0 || static_cast<std::uint64_t>(at) >= slots) {
          throw std::runtime_error("index rule: element " + element(i, j, k) + " goes to slot " +
                                   std::to_string(at) + ", outside the " + std::to_string(slots) +
                                   " slots it states");
        }
        if (used[static_cast<std::size_t>(at)]) {
          throw std::runtime_error("index rule: element " + element(i, j, k) + " goes to slot " +
                                   std::to_string(at) + ", which an earlier element holds");
        }
        used[static_cast<std::size_t>(at)] = true;
      }
    }
  }
}

template <class Rule, class T, class Memory>
Sample measureRule(const Shape& s, const SweepPlan& plan, const HeapPlan& heap) {
  check<Rule>(s);
  return measure<IndexedBlock<Rule, T, Memory>>(s, plan, heap);
}

} // namespace rule_detail

// Adds Rule under every memory and for every element type, named `name`.
namespace rule_detail {

// Adds a program's own rule as Layout<Rule, T, M> for every element type T and
// memory M, each "<name>/memory:<M>", measured by Measure<Rule, T, M>.
template <template <class, class, class> class Layout, template <class, class, class> class Measure,
          class Rule>
void addEveryTypeAndMemory(const char* name, unsigned flags) {
  const auto one = [=](auto* element) {
    using T = std::remove_pointer_t<decltype(element)>;
    forEachMemory([=](auto memory) {
      using M = decltype(memory);
      addCase(Case{crossedName(name, M::kName), Measure<Rule, T, M>::run,
                   kSweeps | kAdded | kCrossed | M::kFlags | flags,
                   detail::statedBytes<Layout<Rule, T, M>>, elementType<T>()});
    });
  };
  one(static_cast<int*>(nullptr));
  one(static_cast<float*>(nullptr));
  one(static_cast<double*>(nullptr));
  one(static_cast<std::uint16_t*>(nullptr));
  one(static_cast<std::uint8_t*>(nullptr));
}

template <class Rule, class T, class Memory> struct MeasureRule {
  static Sample run(const Shape& s, const SweepPlan& plan, const HeapPlan& heap) {
    return measureRule<Rule, T, Memory>(s, plan, heap);
  }
};

} // namespace rule_detail

template <class Rule> bool registerIndexRule(const char* name) {
  rule_detail::addEveryTypeAndMemory<IndexedBlock, rule_detail::MeasureRule, Rule>(name, 0);
  return true;
}

} // namespace voxgrid

// VOXGRID_INDEX_RULE(MyRule, "my_rule"); at namespace scope in the program that
// links voxgrid::suite.
#define VOXGRID_INDEX_RULE(Rule, name)                                                             \
  namespace {                                                                                      \
  [[maybe_unused]] const bool VOXGRID_CONCAT(voxgridRuleAdded,                                     \
                                             __LINE__) = ::voxgrid::registerIndexRule<Rule>(name); \
  }                                                                                                \
  static_assert(true, "")

#endif
