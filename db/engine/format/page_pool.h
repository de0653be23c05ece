// Memory for page buffers. An append holds tens of thousands of pages at
// once (the caches, the changed pages, the log's groups), made and let go
// thousands of times a second; taken one by one from the heap, each new
// 4 KB is a fault of its own, and those faults were a fifth of an append's
// time. Buffers of a page's size come instead from slabs of 2 MB, which
// the kernel may back with huge pages, and go back to their slab when let
// go. Other sizes go to the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace corvalin::engine {

// The sizes served from slabs: the pages of Jet3 files and of later ones.
// A buffer of any other size comes from the heap.
bool IsPooledSize(size_t bytes);
void* AllocatePageBuffer(size_t bytes);
void FreePageBuffer(void* buffer, size_t bytes);

// The size of a huge page.
inline constexpr size_t kHugeBlock = size_t(2) << 20;

// `bytes` (a multiple of kHugeBlock) of memory on a kHugeBlock boundary,
// which the kernel may back with huge pages; let go with munmap. Throws
// std::bad_alloc.
void* MapHugeAligned(size_t bytes);

// For std::vector: page buffers from the slabs.
template <typename T>
struct PageAllocator {
  using value_type = T;
  PageAllocator() noexcept = default;
  template <typename U>
  PageAllocator(const PageAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return static_cast<T*>(AllocatePageBuffer(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { FreePageBuffer(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const PageAllocator<U>&) const noexcept {
    return true;
  }
};

// What the slabs hold now, for tests and benchmarks.
struct PagePoolStats {
  size_t slabs = 0;         // mapped
  size_t buffers_used = 0;  // handed out and not yet let go
};
PagePoolStats PagePoolNow();

}  // namespace corvalin::engine
