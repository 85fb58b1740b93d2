#ifndef VOXGRID_HEAP_FLAGS_H
#define VOXGRID_HEAP_FLAGS_H

#include <voxgrid/detail/heap_aging.h>

#include <string>
#include <vector>

namespace voxgrid {

// --heap-freed's default.
extern const double kDefaultHeapFreed;

// "fresh", "aged", "fresh,aged" (or "aged,fresh"): the heaps each case runs
// on, fresh first; anything else throws std::invalid_argument quoting it.
std::vector<HeapPlan> parseHeaps(const std::string& text, double freed);
// A share in (0, 1), as --heap-freed takes it; anything else throws.
double parseHeapFreed(const std::string& text);
// "fresh", "aged" or "fresh,aged", as the context records the run's heaps.
std::string heapsName(const std::vector<HeapPlan>& heaps);
// The aging recipe in one line, for the context.
std::string heapRecipe(double freed);

} // namespace voxgrid

#endif
