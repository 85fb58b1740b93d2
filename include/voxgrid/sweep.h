#ifndef VOXGRID_SWEEP_H
#define VOXGRID_SWEEP_H

#include <voxgrid/access.h>
#include <voxgrid/detail/added_sweeps.h>
#include <voxgrid/detail/measure.h>
#include <voxgrid/element.h>
#include <voxgrid/layout.h>
#include <voxgrid/layouts/builtin_layouts.h>
#include <voxgrid/shape.h>

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace voxgrid {

// A sweep of the program's own: a function template
//
//   template <class G> R mySweep(const G& g, const voxgrid::Shape& s);
//
// that reads the grid through g(i, j, k) (i < s.nx, j < s.ny, k < s.nz) in its
// own pattern and returns a checksum R, an integer or floating-point value
// that depends on what it read. VOXGRID_SWEEP(mySweep, "my_sweep") adds it:
// every sample of every built-in layout (and of the program's layouts named
// after the name) then times it as it times the built-in sweeps, the median of
// the run's passes as the counter my_sweep_ms, and checks every pass's
// checksum against the same function over a flat reference block holding the
// same values. Inside a parallel region each thread holds g as
// voxgrid::ThreadAccess<G>, as the built-in sweeps do: some accesses cache.

namespace sweep_detail {

template <class R> Checksum checksumOf(R r) {
  static_assert(std::is_arithmetic_v<R>,
                "voxgrid: a sweep must return its checksum as an integer or floating-point "
                "value (see docs/own-sweep.md)");
  std::ostringstream text;
  text.precision(17);
  text << +r;
  return {static_cast<long double>(r), text.str()};
}

template <class F, class Access>
double run(const void* access, const Shape& s, int passes, Checksum& first) {
  const Access& g = *static_cast<const Access*>(access);
  int pass = 0;
  // Timed as the built-in sweeps are; each checksum taken outside its pass.
  return measure_detail::medianPass(
      passes > 0 ? passes : 1, [&] { return F{}(g, s); },
      [&](const auto& result) {
        Checksum c = checksumOf(result);
        if (++pass == 1) {
          first = std::move(c);
        } else if (c.value != first.value) {
          throw std::runtime_error(std::string(F::name()) + ": pass " + std::to_string(pass) +
                                   " gave " + c.text + ", the first pass " + first.text);
        }
      });
}

// The sweep over a flat block of T holding each element's value, the block
// every layout's result must match.
template <class F, class T> Checksum reference(const Shape& s) {
  std::vector<T> block(static_cast<std::size_t>(elementCount(s)));
  const auto g = flatAt(block.data(), s);
  fillThroughAccess(g, s);
  return checksumOf(F{}(g, s));
}

// Files the sweep's runner for layout L's access; void, which closes the
// macro's list of layouts, files nothing.
template <class F, class L> void file(int sweep) {
  if constexpr (!std::is_void_v<L>) {
    using Access = decltype(std::declval<L&>().at());
    addSweepRunner(sweep, accessKey<Access>(), run<F, Access>);
  }
}

} // namespace sweep_detail

// Adds sweep F (a class whose call operator is the sweep and whose static
// name() says its name) for every built-in layout and each of Layouts.
template <class F, class... Layouts> bool registerSweep() {
  using namespace sweep_detail;
  const int n = addSweep(F::name(), {reference<F, int>, reference<F, float>, reference<F, double>,
                                     reference<F, std::uint16_t>, reference<F, std::uint8_t>});
  forEachBuiltinLayout([n](auto layout) { file<F, typename decltype(layout)::type>(n); });
  (file<F, Layouts>(n), ...);
  return true;
}

} // namespace voxgrid

#define VOXGRID_SWEEP_FIRST_(first, ...) first
#define VOXGRID_SWEEP_REST_(first, ...) __VA_ARGS__

// VOXGRID_SWEEP(mySweep, "my_sweep"[, MyGrid, ...]); at namespace scope in the
// program that links voxgrid::suite: my_sweep then runs on every built-in
// layout, and on the program's layouts named after it, in every sample. (The
// name and the layouts share the variadic part, so that a sweep without
// layouts of its own is standard C++17; void closes the list.)
#define VOXGRID_SWEEP(function, ...)                                                               \
  namespace {                                                                                      \
  struct VOXGRID_CONCAT(VoxgridSweep, __LINE__) {                                                  \
    static const char* name() { return VOXGRID_SWEEP_FIRST_(__VA_ARGS__, void); }                  \
    template <class G> auto operator()(const G& g, const ::voxgrid::Shape& s) const {              \
      return function(g, s);                                                                       \
    }                                                                                              \
  };                                                                                               \
  [[maybe_unused]] const bool VOXGRID_CONCAT(voxgridSweepAdded, __LINE__) =                        \
      ::voxgrid::registerSweep<VOXGRID_CONCAT(VoxgridSweep, __LINE__),                             \
                               VOXGRID_SWEEP_REST_(__VA_ARGS__, void)>();                          \
  }                                                                                                \
  static_assert(true, "")

// VOXGRID_SWEEP_BYTES("my_sweep", myBytes); at namespace scope, with
//
//   double myBytes(const voxgrid::Shape& s, int elementBytes);
//
// the bytes one pass of my_sweep must move from memory for a grid larger than
// the caches (each element it reads once, what it writes once): the report then
// holds its pass against the machine's read-only roof, × roof. Padding and
// unused slots are not the sweep's bytes.
#define VOXGRID_SWEEP_BYTES(name, bytes)                                                           \
  namespace {                                                                                      \
  [[maybe_unused]] const bool VOXGRID_CONCAT(voxgridSweepBytes,                                    \
                                             __LINE__) = ::voxgrid::stateSweepBytes(name, bytes);  \
  }                                                                                                \
  static_assert(true, "")

#endif
