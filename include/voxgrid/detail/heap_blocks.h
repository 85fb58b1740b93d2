#ifndef VOXGRID_DETAIL_HEAP_BLOCKS_H
#define VOXGRID_DETAIL_HEAP_BLOCKS_H

namespace voxgrid {

// Heap blocks the calling thread has allocated with operator new or new[],
// aligned or not (std::vector, std::valarray, std::make_unique and the
// libraries' allocators included) since it started, or -1 where this build
// cannot count them (ThreadSanitizer). Not malloc, calloc, mmap or a pool of
// one's own: a layout built on those shows 0. Layouts build their grids on the
// calling thread.
long heapBlocks();

} // namespace voxgrid

#endif
