#ifndef VOXGRID_DETAIL_ADDED_SWEEPS_H
#define VOXGRID_DETAIL_ADDED_SWEEPS_H

#include <voxgrid/element.h>
#include <voxgrid/shape.h>

#include <cstddef>
#include <string>
#include <vector>

namespace voxgrid {

// The sweeps a program adds (VOXGRID_SWEEP, sweep.h): its own access pattern,
// a function template over a layout's access g(i, j, k) and the shape that
// returns a checksum. The layouts are compiled into the suite before the
// program's sweeps exist, so the program's registration compiles its sweep for
// each layout's access type and files it here under that type's key; a sample
// looks its access up and runs what it finds.

// What one run of a sweep returned: its value, held exactly for every
// integer up to 64 bits and every double, and as the messages print it.
struct Checksum {
  long double value = 0;
  std::string text;
};

// Runs a sweep `passes` times over `access` (a pointer to the access of the
// type it was filed under): the median pass's nanoseconds, and in `first` the
// first pass's checksum; throws std::runtime_error where a later pass differs.
using AddedRunner = double (*)(const void* access, const Shape& shape, int passes, Checksum& first);
// Runs a sweep once over a flat reference block of one element type, filled
// as every layout is: the checksum every layout's run must give.
using ReferenceRunner = Checksum (*)(const Shape& shape);

// One key per access type, the same in every translation unit of the program.
template <class Access> inline const char kAccessKey = 0;
template <class Access> const void* accessKey() { return &kAccessKey<Access>; }

struct AddedSweep {
  const char* name;
  ReferenceRunner reference[kElementTypes];
};

// Adds a sweep; its index is its place in addedSweeps(). Always returns, so
// that a registration can initialise a variable; names are checked at start.
int addSweep(const char* name, const ReferenceRunner (&reference)[kElementTypes]);
// Files the sweep's runner for one access type.
void addSweepRunner(int sweep, const void* accessKey, AddedRunner run);
// Every sweep the program added, in the order added.
const std::vector<AddedSweep>& addedSweeps();
// The runner of a sweep for an access type; nullptr where none was filed.
AddedRunner findSweepRunner(int sweep, const void* accessKey);

// The bytes one pass of a sweep must move from memory, for a grid larger than
// the caches, as the program states them (VOXGRID_SWEEP_BYTES): the sweep's
// <name>_bytes counter, by which the report holds its pass against the
// read-only roof. A sweep that states none has no roof.
using SweepBytes = double (*)(const Shape& shape, int elementBytes);
// Files a statement; always returns, as addSweep does; the name is checked at start.
bool stateSweepBytes(const char* name, SweepBytes bytes);
// The statement for a sweep's name; nullptr where it makes none.
SweepBytes sweepBytesOf(const std::string& name);

// What a sample's added sweeps returned, by sweep; an empty text: not run.
using AddedResults = std::vector<Checksum>;

// Runs every added sweep the plan holds over g, filed for its access type;
// each median into ns (by sweep, -1 where it has no runner), each first
// checksum into results.
template <class Access>
void runAddedSweeps(const Access& g, const Shape& s, const std::vector<bool>& on, int passes,
                    std::vector<double>& ns, AddedResults& results) {
  ns.assign(addedSweeps().size(), -1);
  results.assign(addedSweeps().size(), Checksum{});
  for (std::size_t n = 0; n < on.size() && n < ns.size(); ++n) {
    const AddedRunner run =
        on[n] ? findSweepRunner(static_cast<int>(n), accessKey<Access>()) : nullptr;
    if (run != nullptr) {
      ns[n] = run(&g, s, passes, results[n]);
    }
  }
}

// Each result checked against the same sweep over the reference block of
// `element`: std::runtime_error naming the sweep and both checksums where they differ.
void checkAddedSweeps(const AddedResults& results, const Shape& shape, ElementType element);

} // namespace voxgrid

#endif
