#ifndef VOXGRID_LAYOUT_MEMORY_H
#define VOXGRID_LAYOUT_MEMORY_H

#include <voxgrid/detail/registry.h>

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <system_error>

namespace voxgrid {

// The ways a one-block layout gets its block: where the pages come from and
// which thread touches them first. Creation is almost all the kernel faulting
// in fresh pages, so this decides what a grid costs to make, apart from where
// its elements sit (the index rule). Each has
//   static void* get(std::size_t bytes);  the block, as the layout's build() gets it
//   static void put(void* block);         given back
//   kName, kWords                         as the case names and the report say it
//   kFlags                                what it asks of the run

// Value-initialised by the calling thread, as std::vector<T>(n) does: every
// page faults in on one thread, and the fill then writes over the zeros.
struct ZeroedMemory {
  static constexpr const char* kName = "zeroed";
  static constexpr const char* kWords =
      "one block from malloc, value-initialised by one thread, as std::vector<T>(n) does";
  static constexpr unsigned kFlags = kPlain;
  static void* get(std::size_t bytes) {
    void* const block = ::operator new (bytes, std::align_val_t{64});
    std::memset(block, 0, bytes);
    return block;
  }
  static void put(void* block) { ::operator delete (block, std::align_val_t{64}); }
};

// Left uninitialised: the parallel fill touches each page first, from the
// thread that later reads it.
struct TouchedMemory {
  static constexpr const char* kName = "touched";
  static constexpr const char* kWords =
      "one block from malloc, left uninitialised and first touched by the parallel fill";
  static constexpr unsigned kFlags = kPlain;
  static void* get(std::size_t bytes) { return ::operator new (bytes, std::align_val_t{64}); }
  static void put(void* block) { ::operator delete (block, std::align_val_t{64}); }
};

// Aligned to 2 MiB and advised huge pages, then first touched by the fill: a
// fault maps 2 MiB at once. Needs transparent huge pages (always or madvise).
struct HugeMemory {
  static constexpr const char* kName = "huge";
  static constexpr const char* kWords = "one block aligned to 2 MiB and advised huge pages, first "
                                        "touched by the parallel fill";
  static constexpr unsigned kFlags = kHugePages;
  static constexpr std::size_t kPage = std::size_t{2} << 20;
  static void* get(std::size_t bytes) {
    const std::size_t whole = (bytes + kPage - 1) / kPage * kPage;
    void* const block = ::operator new (whole, std::align_val_t{kPage});
    if (whole > 0 && madvise(block, whole, MADV_HUGEPAGE) != 0) {
      const int err = errno;
      put(block);
      throw std::system_error(err, std::generic_category(), "madvise(MADV_HUGEPAGE)");
    }
    return block;
  }
  static void put(void* block) { ::operator delete (block, std::align_val_t{kPage}); }
};

// "padded/memory:huge": a crossed case's name, the rule and the memory apart,
// kept for the life of the program as a case's name is.
inline const char* crossedName(const std::string& rule, const char* memory) {
  static std::deque<std::string> names;
  const std::string name = rule + kMemorySegment + memory;
  const auto found = std::find(names.begin(), names.end(), name);
  return (found != names.end() ? *found : names.emplace_back(name)).c_str();
}

// Every memory, in the order the case table crosses them.
template <class Visit> void forEachMemory(Visit&& visit) {
  visit(TouchedMemory{});
  visit(HugeMemory{});
  visit(ZeroedMemory{});
}

} // namespace voxgrid

#endif
