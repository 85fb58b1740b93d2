#ifndef VOXGRID_HEAP_BLOCKS_H
#define VOXGRID_HEAP_BLOCKS_H

namespace voxgrid {

// Heap blocks the calling thread has allocated with operator new (new[],
// std::vector and std::valarray included) since it started, or -1 where this
// build cannot count them. Layouts build their grids on the calling thread.
long heapBlocks();

} // namespace voxgrid

#endif
