#ifndef VOXGRID_LAYOUT_FIELD_LAYOUTS_H
#define VOXGRID_LAYOUT_FIELD_LAYOUTS_H

#include "builtin_layouts.h"
#include "field_blocks.h"
#include "field_rules.h"

#include <voxgrid/detail/registry.h>

namespace voxgrid {

// The built-in arrangements of a voxel's fields, each Layout<T, Memory>, with
// what it is in words. Padding composes with the array of structures and the
// structure of arrays; in the blocked form a row's stride is a whole number
// of blocks, each `fields` lines for V a line's worth, so padding by whole
// blocks cannot make it an odd number of lines where the fields are even.
template <class Visit> void forEachFieldRule(Visit&& visit) {
  visit("aos", "array of structures: a voxel's fields side by side, row-major voxels",
        RuleTag<AosOf>{});
  visit("aos_padded", "array of structures in padded voxel strides", RuleTag<AosPaddedOf>{});
  visit("soa", "structure of arrays: one block cut in a row-major grid per field",
        RuleTag<SoaOf>{});
  visit("soa_padded",
        "structure of arrays in one block, each field's strides and the fields' "
        "stride padded",
        RuleTag<SoaPaddedOf>{});
  visit("soa_blocks", "structure of arrays: a block per field, each row-major",
        RuleTag<FieldBlocks>{});
  visit("aosoa_vector",
        "blocked: for each run of one vector's worth of voxels along k, each "
        "field's values together",
        RuleTag<AosoaVectorOf>{});
  visit("aosoa_line",
        "blocked: for each run of one 64-byte line's worth of voxels along k, "
        "each field's values together",
        RuleTag<AosoaLineOf>{});
}

// The cases of a grid of several fields for element type T: each arrangement
// under every memory. They run where a voxel holds two fields or more.
template <class T, class Visit> void forEachFieldCaseOf(Visit&& visit) {
  forEachFieldRule([&](const char* rule, const char*, auto tag) {
    crossMemories<T>(rule, tag, visit, kFields);
  });
}

} // namespace voxgrid

#endif
