#ifndef VOXGRID_PROGRAM_LAYOUTS_H
#define VOXGRID_PROGRAM_LAYOUTS_H

// The suite's int cases of the program's layouts: the program's very own
// steps (program/layouts.h), run through the classes every element type uses.
// Private to the harness, so that the program's free functions reach no
// user's translation unit.

#include "layouts.h"
#include "program_steps.h"

#include <valarray>

namespace voxgrid {

struct ProgramNestedSteps {
  static void check(const Shape& s) { checkExtents(s.nx, s.ny, s.nz); } // int offsets
  static int*** alloc(const Shape& s) { return allocNested(s.nx, s.ny, s.nz); }
  static void fill(int*** g, const Shape& s) { fillNested(g, s.nx, s.ny, s.nz); }
  static void release(int*** g, const Shape& s) { releaseNested(g, s.nx, s.ny); }
};

template <void (*Fill)(std::valarray<int>&, int, int, int)> struct ProgramFlatSteps {
  static void check(const Shape& s) { checkExtents(s.nx, s.ny, s.nz); } // int offsets
  static void alloc(std::valarray<int>& v, const Shape& s) { v = allocFlat(s.nx, s.ny, s.nz); }
  static void fill(std::valarray<int>& v, const Shape& s) { Fill(v, s.nx, s.ny, s.nz); }
  static void release(std::valarray<int>& v) { releaseFlat(v); }
};

using Nested = NestedOf<int, ProgramNestedSteps>;
using FlatThreeLoops = FlatValarrayOf<int, false, ProgramFlatSteps<fillLinear>>;
using FlatOneIndex = FlatValarrayOf<int, true, ProgramFlatSteps<fillLinearOneIndex>>;

// The program's own steps in place of the int layouts written for every type;
// each indexes its grid in int.
template <class L> struct ProgramStepsOf {
  using type = L;
  static constexpr unsigned kFlags = kPlain;
};
template <> struct ProgramStepsOf<NestedOf<int>> {
  using type = Nested;
  static constexpr unsigned kFlags = kIntIndex;
};
template <> struct ProgramStepsOf<FlatValarrayOf<int, false>> {
  using type = FlatThreeLoops;
  static constexpr unsigned kFlags = kIntIndex;
};
template <> struct ProgramStepsOf<FlatValarrayOf<int, true>> {
  using type = FlatOneIndex;
  static constexpr unsigned kFlags = kIntIndex;
};

} // namespace voxgrid

#endif
