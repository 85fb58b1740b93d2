#include <voxgrid/detail/heap_blocks.h>

#include <cstdlib>
#include <new>

// ThreadSanitizer's static runtime defines the allocation operators itself.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VOXGRID_NO_NEW_COUNT
#endif
#endif

#ifdef VOXGRID_NO_NEW_COUNT
long voxgrid::heapBlocks() { return -1; }
#else
namespace {
// Per thread, so that counting adds no locked instruction to 320,000 allocations.
thread_local long allocated = 0;
} // namespace

long voxgrid::heapBlocks() { return allocated; }

// The standard library's nothrow forms call this one.
void* operator new(std::size_t n) {
  for (;;) {
    if (void* p = std::malloc(n == 0 ? 1 : n)) {
      ++allocated;
      return p;
    }
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) {
      throw std::bad_alloc();
    }
    handler();
  }
}

void* operator new(std::size_t n, std::align_val_t al) {
  const auto align = static_cast<std::size_t>(al);
  const std::size_t rounded = (n + align - 1) / align * align; // aligned_alloc needs a multiple
  if (void* p = std::aligned_alloc(align, rounded == 0 ? align : rounded)) {
    ++allocated;
    return p;
  }
  throw std::bad_alloc();
}

// new[] too, though the standard library's would call the above: an allocator
// preloaded with LD_PRELOAD (jemalloc) brings its own new[], which would then
// go uncounted. Weak, so that a program with its own array operators (the unit
// tests fail array allocations on purpose) keeps them.
__attribute__((weak)) void* operator new[](std::size_t n) { return operator new(n); }
__attribute__((weak)) void* operator new[](std::size_t n, std::align_val_t al) {
  return operator new(n, al);
}

// All of the above come from malloc, so all go back to free.
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
__attribute__((weak)) void operator delete[](void* p) noexcept { std::free(p); }
__attribute__((weak)) void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
__attribute__((weak)) void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
__attribute__((weak)) void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
#endif
