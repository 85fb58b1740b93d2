#ifndef VOXGRID_DETAIL_BLOCK_SWEEPS_H
#define VOXGRID_DETAIL_BLOCK_SWEEPS_H

#include <cstdint>

namespace voxgrid {

// The ceiling's own sum and stencil over one flat nx x ny x nz block: the same
// results as the layouts' sweeps, written for the machine's bandwidth, so that
// "x ceiling" measures a layout against the machine and not against code
// every layout shares.

// Every element, one flat stream, added up in 64 bits.
std::int64_t sumBlock(const int* grid, std::int64_t n);

// out = the 7-point stencil of g inside, g itself on the boundary: every
// element of out written once, with non-temporal stores as wide as the build
// where it has them, so the sweep moves what a copy moves (read g, write out)
// and nothing more. out must be 64-byte aligned.
void stencilBlock(const int* g, int* out, int nx, int ny, int nz);

} // namespace voxgrid

#endif
