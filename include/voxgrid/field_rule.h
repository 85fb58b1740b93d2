#ifndef VOXGRID_FIELD_RULE_H
#define VOXGRID_FIELD_RULE_H

#include <voxgrid/index_rule.h>
#include <voxgrid/layout.h>
#include <voxgrid/layouts/field_rules.h>
#include <voxgrid/layouts/memory.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace voxgrid {

// Where the program puts the fields of its own voxel: VOXGRID_FIELD_RULE(MyRule,
// "my_rule") measures it under every memory and for every element type, as
// "my_rule/memory:touched" and so on, beside the built-in arrangements, in a
// run with --fields=N of 2 or more. A Rule is made from a Shape, whose
// `fields` it places, and has
//   std::size_t size() const;        the slots it spans (at least the values)
//   std::size_t tableBytes() const;  what it keeps beside them (0 for none)
//   View view() const;               a small copyable callable: (i, j, k, f) -> offset
// Every sample first checks the rule, outside every count: a slot outside
// [0, size()), or one that two values share, fails the case, naming the first
// such (i, j, k, field).

namespace field_rule_detail {

inline std::string value(int i, int j, int k, int f) {
  return "voxel " + rule_detail::element(i, j, k) + " field " + std::to_string(f);
}

template <class Rule> void check(const Shape& s) {
  elementCount(s);
  const Rule rule(s);
  const std::size_t slots = rule.size();
  const auto index = rule.view();
  std::vector<bool> used(slots);
  std::vector<std::int64_t> voxel(static_cast<std::size_t>(s.fields));
  for (int i = 0; i < s.nx; ++i) {
    for (int j = 0; j < s.ny; ++j) {
      for (int k = 0; k < s.nz; ++k) {
        for (int f = 0; f < s.fields; ++f) {
          const auto at = static_cast<std::int64_t>(index(i, j, k, f));
          // The message is made only for a slot that fails, never for the values that pass.
          const auto where = [&] {
            return "field rule: " + value(i, j, k, f) + " goes to slot " + std::to_string(at);
          };
          if (at < 0 || static_cast<std::uint64_t>(at) >= slots) {
            throw std::runtime_error(where() + ", outside the " + std::to_string(slots) +
                                     " slots it states");
          }
          if (used[static_cast<std::size_t>(at)]) {
            for (int g = 0; g < f; ++g) {
              if (voxel[static_cast<std::size_t>(g)] == at) {
                throw std::runtime_error(where() + ", which field " + std::to_string(g) +
                                         " of the same voxel holds");
              }
            }
            throw std::runtime_error(where() + ", which an earlier voxel holds");
          }
          used[static_cast<std::size_t>(at)] = true;
          voxel[static_cast<std::size_t>(f)] = at;
        }
      }
    }
  }
}

template <class Rule, class T, class Memory>
Sample measureRule(const Shape& s, const SweepPlan& plan, const HeapPlan& heap) {
  check<Rule>(s);
  return measure<FieldBlock<Rule, T, Memory>>(s, plan, heap);
}

template <class Rule, class T, class Memory> struct MeasureRule {
  static Sample run(const Shape& s, const SweepPlan& plan, const HeapPlan& heap) {
    return measureRule<Rule, T, Memory>(s, plan, heap);
  }
};

} // namespace field_rule_detail

// Adds Rule under every memory and for every element type, named `name`.
template <class Rule> bool registerFieldRule(const char* name) {
  rule_detail::addEveryTypeAndMemory<FieldBlock, field_rule_detail::MeasureRule, Rule>(name,
                                                                                       kFields);
  return true;
}

} // namespace voxgrid

// VOXGRID_FIELD_RULE(MyRule, "my_rule"); at namespace scope in the program that
// links voxgrid::suite.
#define VOXGRID_FIELD_RULE(Rule, name)                                                             \
  namespace {                                                                                      \
  [[maybe_unused]] const bool VOXGRID_CONCAT(voxgridFieldRuleAdded,                                \
                                             __LINE__) = ::voxgrid::registerFieldRule<Rule>(name); \
  }                                                                                                \
  static_assert(true, "")

#endif
