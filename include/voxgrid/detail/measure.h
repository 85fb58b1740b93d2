#ifndef VOXGRID_DETAIL_MEASURE_H
#define VOXGRID_DETAIL_MEASURE_H

#include <voxgrid/access.h>
#include <voxgrid/detail/added_sweeps.h>
#include <voxgrid/detail/block_sweeps.h>
#include <voxgrid/detail/checks.h>
#include <voxgrid/detail/contract.h>
#include <voxgrid/detail/field_sweeps.h>
#include <voxgrid/detail/gather.h>
#include <voxgrid/detail/heap_aging.h>
#include <voxgrid/detail/heap_blocks.h>
#include <voxgrid/detail/huge_pages.h>
#include <voxgrid/detail/lines.h>
#include <voxgrid/detail/phases.h>
#include <voxgrid/detail/sample.h>
#include <voxgrid/detail/stencil.h>
#include <voxgrid/detail/stencil_probe.h>
#include <voxgrid/detail/sum.h>
#include <voxgrid/detail/sweep_plan.h>
#include <voxgrid/shape.h>

#include <sys/resource.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace voxgrid {

// One sample of layout L: build, fill and release timed back to back as the
// case's time, and in between, outside that time, the planned sweeps over the
// filled grid, each checked. Under an aged heap, the aging comes first, outside
// every count. A layout never times itself; this does.

namespace measure_detail {

struct Counts {
  long faults;
  long blocks;
};

inline Counts counts() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return {u.ru_minflt, heapBlocks()};
}

// Nanoseconds since `start` on the monotonic clock, which no clock adjustment moves.
using Clock = std::chrono::steady_clock;
inline double nsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

// The layout's own fill, or the linear index written through its access.
template <class L> void fillGrid(L& grid, const Shape& s) {
  if constexpr (detail::HasFill<L>::value) {
    grid.fill();
  } else {
    fillThroughAccess(grid.at(), s);
  }
}

// The median of `passes` timed runs of sweep(), each result checked outside its pass.
template <class Sweep, class Check> double medianPass(int passes, Sweep sweep, Check check) {
  std::vector<double> ns(static_cast<std::size_t>(passes));
  for (double& t : ns) {
    const Clock::time_point start = Clock::now();
    const auto result = sweep();
    t = nsSince(start);
    check(result);
  }
  return medianOf(ns);
}

// The ceiling (a layout with kCeiling and its one block()) is swept by the
// flat kernels written for the machine's bandwidth; every other layout through
// its element access, as its users would write the loops.
template <class L, class = void> struct IsCeiling : std::false_type {};
template <class L> struct IsCeiling<L, std::enable_if_t<L::kCeiling>> : std::true_type {};

// A layout that places several fields a voxel has fieldsAt(): field f of
// voxel (i, j, k) as f(i, j, k, field). Its at() is field 0.
template <class L, class = void> struct HasFieldsAt : std::false_type {};
template <class L>
struct HasFieldsAt<L, std::void_t<decltype(std::declval<const L&>().fieldsAt())>> : std::true_type {
};

// The sweeps that read several fields, each checked: every field's weighted
// sum, and the streaming step into a second grid, made and filled outside the
// timed passes.
template <class L>
void sweepFields(L& grid, const Shape& s, const SweepPlan& plan, Sample& out, const char*& step) {
  const auto f = grid.fieldsAt();
  using T = ElementOf<decltype(grid.at())>;
  if (plan.on[kFieldsSum]) {
    out.ns[kFieldsSum] = medianPass(
        plan.passes, [&] { return fieldsSweep(f, s); },
        [&](auto total) { checkFieldsSum<T>(static_cast<SumOf<T>>(total), s); });
    markPhase("fields");
  }
  if (plan.on[kStream]) {
    step = "the streaming step's second grid";
    L second(s);
    second.build();
    second.fill();
    markPhase("stream-grid");
    step = "stream";
    const auto o = second.fieldsAt();
    out.ns[kStream] = medianPass(
        plan.passes,
        [&] {
          streamSweep(f, o, s);
          return 0;
        },
        [](int) {});
    markPhase("stream");
    checkStream(o, s);
    markPhase("stream-check");
  }
}

// The machine's roofs, in the ceiling's own sample, whose two blocks are
// already mapped: a read-only pass over the grid's bytes of `grid`, and copies
// of them into `other` with plain and with streaming stores, each the median
// of `passes` (roofNs stays -1 for a copy the build cannot stream). The copies
// overwrite what `other` held; the loads' sum goes to a volatile so that they
// stay.
template <class L> void measureRoofs(L& grid, L& other, const Shape& s, int passes, Sample& out) {
  using T = ElementOf<decltype(grid.at())>;
  const std::int64_t bytes = elementCount(s) * static_cast<std::int64_t>(sizeof(T));
  const void* const from = grid.block();
  void* const to = other.block();
  volatile unsigned sink = 0;
  out.roofNs[kRoofLoad] = medianPass(
      passes, [&] { return loadPass(from, bytes); }, [&](unsigned total) { sink = sink + total; });
  out.roofNs[kRoofCopy] = medianPass(
      passes,
      [&] {
        copyPass(from, to, bytes);
        return 0;
      },
      [](int) {});
  bool streams = true;
  const double streamingNs = medianPass(
      passes, [&] { return copyPassStreaming(from, to, bytes); },
      [&](bool streamed) { streams = streams && streamed; });
  out.roofNs[kRoofCopyStreaming] = streams ? streamingNs : -1;
}

// `step` names what is allocating, for the message when memory runs out.
// Own: the layout's own loops for each sweep it has them for, the generic
// ones for the rest; checked the same way.
template <class L, bool Own>
void sweep(L& grid, const Shape& s, const SweepPlan& plan, Sample& out, AddedResults& added,
           const char*& step) {
  const int nx = s.nx, ny = s.ny, nz = s.nz;
  const auto g = grid.at();
  using T = ElementOf<decltype(g)>;
  if constexpr (HasFieldsAt<L>::value) {
    checkFieldsFill(grid.fieldsAt(), s);
  } else {
    checkFill(g, nx, ny, nz);
  }
  markPhase("fill-check");
  const int passes = plan.passes;
  const auto wholeSum = [&](const char* name) {
    return [=](auto total) { checkSum<T>(static_cast<SumOf<T>>(total), nx, ny, nz, name); };
  };
  if (plan.on[kSum]) {
    out.ns[kSum] = medianPass(
        passes,
        [&] {
          if constexpr (Own && detail::HasOwnSum<L>::value) {
            return grid.ownSum();
          } else if constexpr (IsCeiling<L>::value) {
            return sumBlockOf(grid.block(), grid.geometry());
          } else {
            return sumSweep(g, nx, ny, nz);
          }
        },
        wholeSum("sum"));
    markPhase("sum");
  }
  if (plan.on[kStencil]) {
    step = "stencil's output grid";
    L second(s); // built and filled outside the timed passes
    second.build();
    fillGrid(second, s);
    markPhase("stencil-grid");
    step = "stencil";
    const auto o = second.at();
    // Input and output hold the probe, so that the output can be checked
    // exactly: on the linear index a wrong neighbour would go unseen.
    const StencilProbe probe(nx, ny, nz, elementType<T>());
    probe.write(g);
    probe.write(o);
    markPhase("probe");
    out.ns[kStencil] = medianPass(
        passes,
        [&] {
          if constexpr (Own && detail::HasOwnStencil<L>::value) {
            grid.ownStencil(second);
          } else if constexpr (IsCeiling<L>::value) {
            stencilBlockOf(grid.block(), second.block(), grid.geometry());
          } else {
            stencilSweep(g, o, nx, ny, nz);
          }
          return 0;
        },
        [](int) {});
    markPhase("stencil");
    checkStencil(o, probe, nx, ny, nz);
    markPhase("stencil-check");
    if constexpr (IsCeiling<L>::value) {
      measureRoofs(grid, second, s, passes, out);
      markPhase("roofs");
    }
    if (plan.on[kLinesJ] || plan.on[kLinesI] || plan.on[kGather] || plan.on[kFieldsSum] ||
        plan.on[kStream] || plan.anyAdded()) {
      fillThroughAccess(g, s); // the linear index back, for the sums that check against it
      markPhase("index-back");
    }
  }
  if (plan.on[kStencil]) {
    markPhase("stencil-grid-freed");
  }
  if (plan.on[kLinesJ]) {
    out.ns[kLinesJ] = medianPass(
        passes,
        [&] {
          if constexpr (Own && detail::HasOwnLinesJ<L>::value) {
            return grid.ownLinesJ();
          } else if constexpr (IsCeiling<L>::value) {
            return linesJBlockOf(grid.block(), grid.geometry());
          } else {
            return linesJSweep(g, nx, ny, nz);
          }
        },
        wholeSum("lines_j"));
    markPhase("lines_j");
  }
  if (plan.on[kLinesI]) {
    out.ns[kLinesI] = medianPass(
        passes,
        [&] {
          if constexpr (Own && detail::HasOwnLinesI<L>::value) {
            return grid.ownLinesI();
          } else if constexpr (IsCeiling<L>::value) {
            return linesIBlockOf(grid.block(), grid.geometry());
          } else {
            return linesISweep(g, nx, ny, nz);
          }
        },
        wholeSum("lines_i"));
    markPhase("lines_i");
  }
  if (plan.on[kGather]) {
    step = "gather's points";
    const std::vector<Point> points = drawPoints(pointsFor(plan, s), nx, ny, nz);
    markPhase("gather-points");
    step = "gather";
    const auto count = static_cast<std::int64_t>(points.size());
    out.ns[kGather] = medianPass(
        passes,
        [&] {
          if constexpr (Own && detail::HasOwnGather<L>::value) {
            return grid.ownGather(points.data(), count);
          } else if constexpr (IsCeiling<L>::value) {
            return gatherPrefetched(g, points.data(), count);
          } else {
            return gatherSweep(g, points.data(), count);
          }
        },
        [&](auto total) { checkGather(g, points, static_cast<SumOf<T>>(total), ny, nz); });
    markPhase("gather");
  }
  if constexpr (HasFieldsAt<L>::value) {
    sweepFields(grid, s, plan, out, step);
  }
  if constexpr (IsCeiling<L>::value) {
    if (!plan.on[kStencil]) { // the stencil's output block is the copies' target
      step = "the roofs' second block";
      L second(s);
      measureRoofs(grid, second, s, passes, out);
      markPhase("roofs");
    }
  }
  // The program's own sweeps, through the same access; checked against the
  // reference block once the grid is released.
  step = "the program's own sweeps";
  runAddedSweeps(g, s, plan.added, passes, out.added, added);
  markPhase("added");
}

} // namespace measure_detail

// Own: sweep with the layout's own loops where it has them (the "/loops:own" case).
template <class L, bool Own = false>
Sample measure(const Shape& s, const SweepPlan& plan, const HeapPlan& heap) {
  using namespace measure_detail;
  Sample out;
  AddedResults added;
  const char* step = "build";
  try {
    // Made first, since it allocates nothing and may refuse the shape, which
    // then costs no aging.
    L grid(s);
    std::unique_ptr<AgedHeap> aging; // held until the sample ends, after the release
    if (heap.aged) {
      step = "heap aging";
      using T = ElementOf<decltype(std::declval<L&>().at())>;
      aging = std::make_unique<AgedHeap>(std::size_t(valueCount(s)) * sizeof(T), heap.freed);
    }
    markPhase("prepare");
    step = "build";
    const Counts start = counts();
    const Clock::time_point built = Clock::now();
    grid.build();
    out.ns[kBuild] = nsSince(built);
    step = "fill";
    fillGrid(grid, s);
    out.ns[kFill] = nsSince(built) - out.ns[kBuild];
    const Counts filled = counts();
    markPhase("build-fill");
    out.hugeBytes = anonHugeBytes(); // outside every count: it reads a file
    markPhase("huge-pages");
    if (plan.any() && plan.passes > 0) {
      sweep<L, Own>(grid, s, plan, out, added, step);
    }
    const Counts swept = counts();
    step = "release";
    const Clock::time_point released = Clock::now();
    grid.release();
    out.ns[kRelease] = nsSince(released);
    const Counts after = counts();
    markPhase("release");
    out.faults = (filled.faults - start.faults) + (after.faults - swept.faults);
    out.blocks =
        start.blocks < 0 ? -1 : (filled.blocks - start.blocks) + (after.blocks - swept.blocks);
    step = "the reference block";
    checkAddedSweeps(added, s, elementType<ElementOf<decltype(std::declval<L&>().at())>>());
    markPhase("reference");
  } catch (const std::bad_alloc&) {
    throw std::runtime_error(std::string(step) + ": out of memory");
  }
  return out;
}

} // namespace voxgrid

#endif
