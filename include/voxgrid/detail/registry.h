#ifndef VOXGRID_DETAIL_REGISTRY_H
#define VOXGRID_DETAIL_REGISTRY_H

#include <voxgrid/detail/heap_aging.h>
#include <voxgrid/detail/sample.h>
#include <voxgrid/detail/sweep_plan.h>
#include <voxgrid/element.h>
#include <voxgrid/shape.h>

#include <cstdint>

namespace voxgrid {

// What a case asks of the run.
enum CaseFlag : unsigned {
  kPlain = 0,
  kOwnTeam = 1u << 0,   // requests its own team of 4: measured once, with the default team
  kHugePages = 1u << 1, // needs transparent huge pages: left out where they are "never"
  kSweeps = 1u << 2,    // runs the sweeps after its fill (layouts and the plain ceiling)
  kCeiling = 1u << 3,   // the ceiling: its stencil streams its stores (steps.h counts 8 B)
  kAdded = 1u << 4,     // added by the program (VOXGRID_LAYOUT), not built in
  kIntIndex = 1u << 5,  // indexes its grid in int: at most 2^31 - 1 elements
  kCrossed = 1u << 6,   // an index rule under one memory ("<rule>/memory:<memory>")
  kFields = 1u << 7,    // places several fields a voxel: runs where a voxel holds two or more
  kReference = 1u << 8, // a floor or a ceiling: runs whatever a voxel holds
};

// One thing the suite measures: a layout, a floor or a ceiling.
struct Case {
  const char* name;
  Sample (*run)(const Shape& shape, const SweepPlan& plan, const HeapPlan& heap);
  unsigned flags;
  // What the layout says build() allocates at a shape, for the memory plan;
  // nullptr: the plan takes the built-in layouts' largest overhead.
  std::int64_t (*bytes)(const Shape& shape) = nullptr;
  // What each element is; a layout written for several types is a case per type.
  ElementType element = ElementType::kInt32;
  bool ownTeam() const { return (flags & kOwnTeam) != 0; }
  bool hugePages() const { return (flags & kHugePages) != 0; }
  bool sweeps() const { return (flags & kSweeps) != 0; }
  bool ceiling() const { return (flags & kCeiling) != 0; }
  bool added() const { return (flags & kAdded) != 0; }
  bool intIndex() const { return (flags & kIntIndex) != 0; }
  bool crossed() const { return (flags & kCrossed) != 0; }
  bool fields() const { return (flags & kFields) != 0; }
  bool reference() const { return (flags & kReference) != 0; }
  // Whether it runs for voxels of `fields` fields: the field arrangements
  // where there are several, the one-field layouts where there is one, the
  // floors and ceilings always.
  bool runsFor(int fields) const { return reference() || this->fields() == (fields > 1); }
};

// The suffix of a case that sweeps with the layout's own loops.
constexpr const char* kOwnLoops = "/loops:own";
// What names the memory of a crossed case: "padded/memory:huge".
constexpr const char* kMemorySegment = "/memory:";

// Adds a case to the suite: the built-in case table and VOXGRID_LAYOUT both
// come through here. Always true, so that a registration can initialise a
// variable; names are checked when the suite starts.
bool addCase(const Case& c);

} // namespace voxgrid

#endif
