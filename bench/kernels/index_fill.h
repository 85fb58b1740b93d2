#ifndef VOXGRID_INDEX_FILL_H
#define VOXGRID_INDEX_FILL_H

#include <cstddef>
#include <cstdint>

namespace voxgrid {

// The fills of the suite's references: store each element's linear index into
// grid[0, n), split statically across the default team.

// One vectorised parallel loop of ordinary stores.
void fillIndex(int* grid, std::int64_t n);

// Whether this build has non-temporal stores (SSE2 or wider) for fillIndexStreaming.
bool haveStreamingStores();
// The same fill with non-temporal stores, which skip reading each cache line
// before writing it, as wide as the build targets; grid must be 64-byte aligned.
void fillIndexStreaming(int* grid, std::int64_t n);

} // namespace voxgrid

#endif
