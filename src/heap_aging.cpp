#include "heap_flags.h"

#include <voxgrid/detail/heap_aging.h>

#include <voxgrid/detail/seeded_random.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <utility>

namespace voxgrid {

const double kDefaultHeapFreed = 0.5;

AgedHeap::AgedHeap(std::size_t bytes, double freed, std::uint64_t seed) {
  SeededRandom random(seed);
  std::vector<void*> blocks;
  // Whatever runs out of memory, the list's growth or a block, frees what the
  // aging holds before the sample reports it: a heap left full would fail the
  // next step with a wrong name, or never reach it.
  try {
    blocks.reserve(bytes / ((kAgingMinBytes + kAgingMaxBytes) / 2) + 16);
    for (std::size_t total = 0; total < bytes;) {
      const std::size_t size = kAgingMinBytes + random.below(kAgingMaxBytes - kAgingMinBytes + 1);
      void* p = std::malloc(size);
      if (p == nullptr) {
        throw std::bad_alloc();
      }
      try {
        blocks.push_back(p);
      } catch (...) {
        std::free(p);
        throw;
      }
      total += size;
    }
  } catch (...) {
    for (void* b : blocks) {
      std::free(b);
    }
    throw;
  }
  // A partial Fisher-Yates shuffle: the first `freed_` places get a seeded
  // random choice of the blocks, freed in that order.
  freed_ = static_cast<std::size_t>(std::llround(freed * static_cast<double>(blocks.size())));
  for (std::size_t n = 0; n < freed_; ++n) {
    std::swap(blocks[n], blocks[n + random.below(blocks.size() - n)]);
    std::free(blocks[n]);
  }
  blocks.erase(blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(freed_));
  held_ = std::move(blocks);
}

AgedHeap::~AgedHeap() {
  for (void* b : held_) {
    std::free(b);
  }
}

std::vector<HeapPlan> parseHeaps(const std::string& text, double freed) {
  const HeapPlan fresh{false, freed}, aged{true, freed};
  if (text == "fresh") {
    return {fresh};
  }
  if (text == "aged") {
    return {aged};
  }
  if (text == "fresh,aged" || text == "aged,fresh") {
    return {fresh, aged};
  }
  throw std::invalid_argument("bad --heap \"" + text + "\": expected fresh, aged or fresh,aged");
}

double parseHeapFreed(const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v > 0 && v < 1) ||
      text.find_first_of(" \t\n") != std::string::npos) {
    throw std::invalid_argument("bad --heap-freed \"" + text +
                                "\": expected a share between 0 and 1, such as 0.5");
  }
  return v;
}

std::string heapsName(const std::vector<HeapPlan>& heaps) {
  std::string name;
  for (const HeapPlan& h : heaps) {
    name += (name.empty() ? "" : ",") + std::string(h.aged ? "aged" : "fresh");
  }
  return name;
}

std::string heapRecipe(double freed) {
  char text[320];
  std::snprintf(text, sizeof text,
                "seed 0x%llx; blocks of %zu-%zu B, sizes uniform, totalling the grid's bytes; "
                "%g %% of them freed in a seeded random order, the rest held to the end of the "
                "sample",
                static_cast<unsigned long long>(kAgingSeed), kAgingMinBytes, kAgingMaxBytes,
                freed * 100);
  return text;
}

} // namespace voxgrid
