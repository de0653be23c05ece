// Slabs of page buffers.
//
//   slab offset              contents
//   0 .. 4096                the slab's head: counts, its place in the list
//                            of slabs with room, the stack of free slots
//   4096 + k * size          slot k, one page buffer
//
// A slab is 2 MB and lies on a 2 MB boundary, so a buffer's slab is its
// address with the low bits cleared, and the kernel may back the slab with
// one huge page. Every slab with a free slot is on its size's list; a slab
// whose slots are all free is kept while it is the only one, so that an
// append that lets go of its pages and takes them again does not map and
// unmap slabs over and over, and any other such slab is unmapped.
#include "db/engine/format/page_pool.h"

#include <pthread.h>
#include <sys/mman.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVALIN_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define CORVALIN_ASAN 1
#endif
#ifdef CORVALIN_ASAN
#include <sanitizer/asan_interface.h>
#define POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define POISON(p, n) ((void)(p), (void)(n))
#define UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace corvalin::engine {
namespace {

constexpr size_t kSlabBytes = kHugeBlock;
constexpr size_t kHeadBytes = 4096;
constexpr size_t kSmallPage = 2048;  // Jet3
constexpr size_t kLargePage = 4096;  // Jet4 and ACE
// Slots of the smaller size in one slab: the most a head's stack holds.
constexpr size_t kMostSlots = (kSlabBytes - kHeadBytes) / kSmallPage;

struct SlabHead {
  uint32_t slots = 0;     // in the slab
  uint32_t used = 0;      // handed out
  uint32_t free_top = 0;  // free_slots[0 .. free_top) are free
  SlabHead* prev = nullptr;  // in the list of slabs with room
  SlabHead* next = nullptr;
  bool listed = false;
  uint16_t free_slots[kMostSlots];
};
static_assert(sizeof(SlabHead) <= kHeadBytes, "a slab's head fits before its first slot");

uint8_t* SlotsOf(SlabHead* slab) { return reinterpret_cast<uint8_t*>(slab) + kHeadBytes; }

SlabHead* SlabOf(void* buffer) {
  return reinterpret_cast<SlabHead*>(reinterpret_cast<uintptr_t>(buffer) & ~(kSlabBytes - 1));
}

void* MapSlab() { return MapHugeAligned(kSlabBytes); }

// One slab made ahead by a thread of its own. A slab's first touch costs
// the kernel 2 MB of zeros, and on a virtual machine whose host takes back
// the memory its guest frees, the host's own faults besides: some 3 ms a
// slab, a sixth of an append's time when the saving thread paid it. The
// thread maps and touches the next slab while saves go on; the pool takes
// it when it needs one, and maps its own only when none is ready.
class SpareSlab {
 public:
  // The slab made ahead, or nullptr; asks for the next either way.
  void* Take() {
    std::unique_lock lock(mutex_);
    if (!started_) {
      started_ = true;
      try {
        std::thread([this] { Make(); }).detach();
      } catch (const std::system_error&) {
        return nullptr;  // no thread: every slab is mapped when needed
      }
    }
    void* slab = ready_;
    ready_ = nullptr;
    if (orphaned_) return slab;
    wanted_ = true;
    lock.unlock();
    wake_.notify_one();
    return slab;
  }

  void BeforeFork() { mutex_.lock(); }
  void AfterForkInParent() { mutex_.unlock(); }
  // The child has no such thread: it takes the spare its copy holds, if
  // any, and maps its other slabs itself. It never signals the condition,
  // whose copy may count the parent's thread as waiting.
  void AfterForkInChild() {
    started_ = true;
    orphaned_ = true;
    mutex_.unlock();
  }

 private:
  void Make() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return wanted_ && !ready_; });
      wanted_ = false;
      lock.unlock();
      void* slab = nullptr;
      try {
        slab = MapSlab();
        for (size_t at = 0; at < kSlabBytes; at += 4096) static_cast<volatile uint8_t*>(slab)[at] = 0;
      } catch (const std::bad_alloc&) {
      }
      lock.lock();
      ready_ = slab;
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool started_ = false;
  bool orphaned_ = false;  // in a forked child
  bool wanted_ = false;
  void* ready_ = nullptr;
};

class SizePool {
 public:
  explicit SizePool(uint32_t size) : size_(size) {}

  void* Take() {
    std::lock_guard lock(mutex_);
    if (!room_) Add(NewSlab());
    SlabHead* slab = room_;
    if (slab->used == 0) --empty_;
    const uint32_t slot = slab->free_slots[--slab->free_top];
    ++slab->used;
    ++used_;
    if (slab->free_top == 0) Remove(slab);
    void* buffer = SlotsOf(slab) + size_t(slot) * size_;
    UNPOISON(buffer, size_);
    return buffer;
  }

  void Give(void* buffer) {
    std::lock_guard lock(mutex_);
    POISON(buffer, size_);
    SlabHead* slab = SlabOf(buffer);
    const size_t slot = (static_cast<uint8_t*>(buffer) - SlotsOf(slab)) / size_;
    slab->free_slots[slab->free_top++] = uint16_t(slot);
    --slab->used;
    --used_;
    if (!slab->listed) Add(slab);
    if (slab->used == 0 && ++empty_ > 1) {
      --empty_;
      Remove(slab);
      // The sanitizer keeps its marks of an unmapped range: whatever is
      // mapped there next must not find its bytes marked as let go.
      UNPOISON(slab, kSlabBytes);
      munmap(slab, kSlabBytes);
      --slabs_;
    }
  }

  void AddTo(PagePoolStats& stats) {
    std::lock_guard lock(mutex_);
    stats.slabs += slabs_;
    stats.buffers_used += used_;
  }

  // Held across a fork, as the heap's own locks are: a child made while
  // another thread (the log's) let go of a page gets the pool whole, and
  // its lock free.
  void BeforeFork() {
    mutex_.lock();
    spare_.BeforeFork();
  }
  void AfterForkInParent() {
    spare_.AfterForkInParent();
    mutex_.unlock();
  }
  void AfterForkInChild() {
    spare_.AfterForkInChild();
    mutex_.unlock();
  }

 private:
  SlabHead* NewSlab() {
    void* memory = spare_.Take();
    if (!memory) memory = MapSlab();
    SlabHead* slab = new (memory) SlabHead;
    slab->slots = uint32_t((kSlabBytes - kHeadBytes) / size_);
    // Taken from the top of the stack: the lowest slots first.
    for (uint32_t k = 0; k < slab->slots; ++k)
      slab->free_slots[k] = uint16_t(slab->slots - 1 - k);
    slab->free_top = slab->slots;
    POISON(SlotsOf(slab), size_t(slab->slots) * size_);
    ++slabs_;
    ++empty_;
    return slab;
  }
  // A slab that has room again goes to the back: the slabs in front are
  // filled first, so that those at the back may empty and be unmapped.
  void Add(SlabHead* slab) {
    slab->listed = true;
    slab->next = nullptr;
    slab->prev = last_;
    if (last_)
      last_->next = slab;
    else
      room_ = slab;
    last_ = slab;
  }
  void Remove(SlabHead* slab) {
    (slab->prev ? slab->prev->next : room_) = slab->next;
    (slab->next ? slab->next->prev : last_) = slab->prev;
    slab->prev = slab->next = nullptr;
    slab->listed = false;
  }

  const uint32_t size_;
  std::mutex mutex_;
  SpareSlab spare_;
  SlabHead* room_ = nullptr;  // the slabs with a free slot, first to fill first
  SlabHead* last_ = nullptr;
  size_t empty_ = 0;  // slabs with every slot free
  size_t slabs_ = 0;
  size_t used_ = 0;
};

// Never destroyed: page buffers may be let go by objects that outlive any
// static of this file.
struct Pools {
  SizePool small{kSmallPage};
  SizePool large{kLargePage};
};

Pools& AllPools() {
  static Pools* pools = [] {
    auto* made = new Pools;
    auto before = [] {
      AllPools().small.BeforeFork();
      AllPools().large.BeforeFork();
    };
    auto in_parent = [] {
      AllPools().large.AfterForkInParent();
      AllPools().small.AfterForkInParent();
    };
    auto in_child = [] {
      AllPools().large.AfterForkInChild();
      AllPools().small.AfterForkInChild();
    };
    pthread_atfork(before, in_parent, in_child);
    return made;
  }();
  return *pools;
}

SizePool& PoolFor(size_t bytes) {
  return bytes == kSmallPage ? AllPools().small : AllPools().large;
}

}  // namespace

void* MapHugeAligned(size_t bytes) {
  // Twice the size is mapped and the parts outside the boundary given back.
  const size_t span = bytes + kHugeBlock;
  void* got = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (got == MAP_FAILED) throw std::bad_alloc();
  const uintptr_t start = reinterpret_cast<uintptr_t>(got);
  const uintptr_t aligned = (start + kHugeBlock - 1) & ~(kHugeBlock - 1);
  if (aligned > start) munmap(got, aligned - start);
  const uintptr_t end = start + span;
  if (end > aligned + bytes)
    munmap(reinterpret_cast<void*>(aligned + bytes), end - (aligned + bytes));
  void* memory = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  madvise(memory, bytes, MADV_HUGEPAGE);  // only a hint: refused, the memory is still good
#endif
  return memory;
}

bool IsPooledSize(size_t bytes) { return bytes == kSmallPage || bytes == kLargePage; }

void* AllocatePageBuffer(size_t bytes) {
  if (IsPooledSize(bytes)) return PoolFor(bytes).Take();
  return ::operator new(bytes);
}

void FreePageBuffer(void* buffer, size_t bytes) {
  if (!buffer) return;
  if (IsPooledSize(bytes))
    PoolFor(bytes).Give(buffer);
  else
    ::operator delete(buffer);
}

PagePoolStats PagePoolNow() {
  PagePoolStats stats;
  PoolFor(kSmallPage).AddTo(stats);
  PoolFor(kLargePage).AddTo(stats);
  return stats;
}

}  // namespace corvalin::engine
