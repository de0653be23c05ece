#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "db/engine/format/page_file.h"
#include "db/engine/format/page_pool.h"

namespace corvalin::engine {
namespace {

// Buffers of both page sizes, more than a slab holds: each is its own
// stretch of memory, keeps what was written into it while the others are
// written, and lets its slab go once every buffer of it is let go.
TEST(PagePool, BuffersOfAPageSizeAreApartAndTheirSlabsGoWhenAllAreLetGo) {
  for (const size_t size : {size_t(2048), size_t(4096)}) {
    SCOPED_TRACE(size);
    const PagePoolStats before = PagePoolNow();
    std::vector<uint8_t*> buffers;
    for (size_t k = 0; k < 2500; ++k) {
      auto* b = static_cast<uint8_t*>(AllocatePageBuffer(size));
      std::memset(b, int(k % 251), size);
      buffers.push_back(b);
    }
    const PagePoolStats full = PagePoolNow();
    EXPECT_EQ(full.buffers_used, before.buffers_used + 2500);
    EXPECT_GE(full.slabs, before.slabs + 2500 * size / (size_t(2) << 20));

    std::vector<uint8_t*> sorted = buffers;
    std::sort(sorted.begin(), sorted.end());
    for (size_t k = 1; k < sorted.size(); ++k)
      ASSERT_GE(sorted[k] - sorted[k - 1], std::ptrdiff_t(size)) << "two buffers overlap";
    for (size_t k = 0; k < buffers.size(); ++k)
      ASSERT_TRUE(std::all_of(buffers[k], buffers[k] + size,
                              [&](uint8_t v) { return v == uint8_t(k % 251); }))
          << "buffer " << k << " was written through another";

    // Every other one back, then taken again: the freed slots are reused.
    for (size_t k = 0; k < buffers.size(); k += 2) FreePageBuffer(buffers[k], size);
    for (size_t k = 0; k < buffers.size(); k += 2)
      buffers[k] = static_cast<uint8_t*>(AllocatePageBuffer(size));
    EXPECT_EQ(PagePoolNow().slabs, full.slabs);

    for (uint8_t* b : buffers) FreePageBuffer(b, size);
    const PagePoolStats after = PagePoolNow();
    EXPECT_EQ(after.buffers_used, before.buffers_used);
    EXPECT_LE(after.slabs, before.slabs + 1) << "the emptied slabs were kept";
  }
}

TEST(PagePool, PagesOfOtherSizesComeFromTheHeap) {
  const PagePoolStats before = PagePoolNow();
  PageData odd(1000, 7);
  PageData page(4096, 1);
  EXPECT_EQ(PagePoolNow().buffers_used, before.buffers_used + 1);
  odd.reserve(4096);  // grown to a page's size: now from a slab
  EXPECT_EQ(PagePoolNow().buffers_used, before.buffers_used + 2);
  EXPECT_EQ(odd[999], 7);

}

// Memory mapped later where a slab was reads as any other: nothing of the
// slab's free slots stays marked (which the address sanitizer would take
// for a use of memory let go).
TEST(PagePool, MemoryMappedWhereASlabWasIsFreeOfIt) {
  std::vector<void*> buffers;
  std::set<uintptr_t> slabs;
  for (int k = 0; k < 1600; ++k) {
    buffers.push_back(AllocatePageBuffer(4096));
    slabs.insert(reinterpret_cast<uintptr_t>(buffers.back()) & ~((uintptr_t(2) << 20) - 1));
  }
  for (void* b : buffers) FreePageBuffer(b, 4096);
  int remapped = 0;
  for (uintptr_t slab : slabs) {
    void* got = ::mmap(reinterpret_cast<void*>(slab), size_t(2) << 20, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (got == MAP_FAILED) continue;  // the slab kept, or taken by another mapping
    if (got == reinterpret_cast<void*>(slab)) {
      ++remapped;
      auto* bytes = static_cast<volatile uint8_t*>(got);
      for (size_t at = 8192; at < (size_t(2) << 20); at += 4096) EXPECT_EQ(bytes[at], 0);
    }
    ::munmap(got, size_t(2) << 20);
  }
  EXPECT_GT(remapped, 0) << "no emptied slab was unmapped";
}

// The log's thread lets go of pages that the saving thread took.
TEST(PagePool, TwoThreadsTakeAndLetGoAtOnce) {
  const PagePoolStats before = PagePoolNow();
  auto work = [](uint8_t mark) {
    std::vector<uint8_t*> held;
    for (int round = 0; round < 20000; ++round) {
      auto* b = static_cast<uint8_t*>(AllocatePageBuffer(4096));
      b[0] = mark;
      b[4095] = mark;
      held.push_back(b);
      if (held.size() > 700 || round % 3 == 0) {
        uint8_t* old = held.front();
        held.erase(held.begin());
        if (old[0] != mark || old[4095] != mark) std::abort();
        FreePageBuffer(old, 4096);
      }
    }
    for (uint8_t* b : held) FreePageBuffer(b, 4096);
  };
  std::thread other(work, uint8_t(1));
  work(2);
  other.join();
  EXPECT_EQ(PagePoolNow().buffers_used, before.buffers_used);
}

// A child forked while another thread takes and lets go of pages (as the
// log's thread does) can take pages too: it never finds the pool, or the
// slab made ahead, locked.
TEST(PagePool, AChildForkedWhileAnotherThreadUsesThePoolCanUseIt) {
  std::atomic<bool> stop{false};
  // Slabs come and go all the while, so that the thread making slabs
  // ahead is at work too.
  std::thread busy([&] {
    std::vector<void*> held;
    while (!stop.load()) {
      held.push_back(AllocatePageBuffer(4096));
      if (held.size() == 1500) {
        for (void* page : held) FreePageBuffer(page, 4096);
        held.clear();
      }
    }
    for (void* page : held) FreePageBuffer(page, 4096);
  });
  int hung = 0;
  for (int k = 0; k < 40; ++k) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // More than two slabs hold: the child maps slabs of its own.
      std::vector<void*> pages;
      for (int n = 0; n < 1200; ++n) pages.push_back(AllocatePageBuffer(4096));
      for (void* page : pages) FreePageBuffer(page, 4096);
      ::_exit(0);
    }
    int status = 0;
    pid_t done = 0;
    for (int wait = 0; wait < 500 && (done = ::waitpid(child, &status, WNOHANG)) == 0; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
      ++hung;
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
    }
  }
  stop = true;
  busy.join();
  EXPECT_EQ(hung, 0) << "children found the pool locked for ever";
}

}  // namespace
}  // namespace corvalin::engine
