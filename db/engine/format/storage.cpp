#include "db/engine/format/storage.h"

#include <fcntl.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "db/engine/error.h"
#include "db/engine/format/page_pool.h"

namespace corvalin::engine {
namespace {

class Posix : public Storage {
 public:
  Posix(std::string path, int fd, bool writable, bool past_cache = false)
      : path_(std::move(path)), fd_(fd), writable_(writable), past_cache_(past_cache) {}
  ~Posix() override {
    ::close(fd_);
    if (direct_fd_ >= 0) ::close(direct_fd_);
  }

  const std::string& path() const override { return path_; }
  bool writable() const override { return writable_; }

  uint64_t Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) Fail("read");
    return uint64_t(st.st_size);
  }

  uint64_t Stamp() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) Fail("read");
    uint64_t h = uint64_t(st.st_size) * 0x9E3779B97F4A7C15ull;
    for (uint64_t v : {uint64_t(st.st_ino), uint64_t(st.st_mtim.tv_sec), uint64_t(st.st_mtim.tv_nsec)})
      h = (h ^ v) * 0xBF58476D1CE4E5B9ull + (h >> 29);
    return h;
  }

  size_t Read(uint64_t offset, uint8_t* const* buffers, size_t count, size_t each) override {
    constexpr size_t kMaxParts = 64;
    iovec parts[kMaxParts];
    size_t total = 0;
    while (count > 0) {
      const size_t n = count < kMaxParts ? count : kMaxParts;
      for (size_t k = 0; k < n; ++k) parts[k] = {buffers[k], each};
      ssize_t got = ::preadv(fd_, parts, int(n), off_t(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) Fail("read");
      total += size_t(got);
      if (size_t(got) < n * each) break;
      offset += n * each;
      buffers += n;
      count -= n;
    }
    return total;
  }

  void Write(uint64_t offset, std::span<const uint8_t> bytes) override {
    if (past_cache_ && bytes.size() >= kPastCacheFrom) {
      // The whole blocks in the middle go past the cache; a block is never
      // written both ways within one write, and the kernel writes back and
      // drops any cached copy of a block it writes directly.
      const uint64_t first = (offset + kBlock - 1) & ~uint64_t(kBlock - 1);
      const uint64_t last = (offset + bytes.size()) & ~uint64_t(kBlock - 1);
      if (last > first) {
        WriteCached(offset, bytes.first(size_t(first - offset)));
        WritePastCache(first, bytes.subspan(size_t(first - offset), size_t(last - first)));
        WriteCached(last, bytes.subspan(size_t(last - offset)));
        return;
      }
    }
    WriteCached(offset, bytes);
  }

  void WriteCached(uint64_t offset, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t put = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, off_t(offset + done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) Fail("write");
      done += size_t(put);
    }
  }

  // Writes whole blocks at a block's offset through the direct descriptor:
  // from the caller's memory when it is aligned as the file is, else a
  // piece at a time through an aligned buffer. What it cannot write so
  // goes through the cache.
  void WritePastCache(uint64_t offset, std::span<const uint8_t> bytes) {
    if (!OpenDirect()) past_cache_ = false;
    const bool aligned = reinterpret_cast<uintptr_t>(bytes.data()) % kBlock == 0;
    while (past_cache_ && !bytes.empty()) {
      const size_t n = aligned ? bytes.size() : std::min(bytes.size(), kPiece);
      const uint8_t* from = bytes.data();
      if (!aligned) {
        const std::span<uint8_t> piece = piece_.For(0, n);
        std::memcpy(piece.data(), bytes.data(), n);
        from = piece.data();
      }
      const size_t put = WriteDirect(offset, {from, n});
      if (!direct_) past_cache_ = false;
      offset += put;
      bytes = bytes.subspan(put);
      if (put < n) break;  // a short write or a refusal: the rest through the cache
    }
    WriteCached(offset, bytes);
  }

  // Writes bytes (aligned memory, at a block's offset) through the direct
  // descriptor. Returns how many it wrote: fewer after a short write, and
  // none once the file system has refused a direct write (none is tried
  // again then).
  size_t WriteDirect(uint64_t offset, std::span<const uint8_t> bytes) {
    for (;;) {
      if (!direct_) return 0;
      const ssize_t put = ::pwrite(direct_fd_, bytes.data(), bytes.size(), off_t(offset));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0 && errno == EINVAL) {
        direct_ = false;  // the file system takes no direct writes here
        return 0;
      }
      if (put <= 0) Fail("write");
      return size_t(put);
    }
  }

  // Opens the direct descriptor once; false where the file system refuses.
  bool OpenDirect() {
    if (direct_fd_ >= 0) return true;
    if (!direct_ || !writable_) return false;
    // Opened again through the descriptor, not the name: the same file
    // whatever has happened to its name since. Its locks are the first
    // descriptor's (open file description locks), untouched by this one.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    direct_fd_ = ::open(self.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
    if (direct_fd_ < 0) direct_ = false;
    return direct_;
  }

  void WriteAllPastCache(uint64_t offset, const uint8_t* const* buffers, size_t count,
                         size_t each) override {
    // Pages of whole blocks at a block's offset, gathered a piece at a time
    // into aligned memory.
    if (each % kBlock != 0 || offset % kBlock != 0 || each > kPiece || !OpenDirect()) {
      WriteAll(offset, buffers, count, each);
      return;
    }
    while (count > 0) {
      const size_t n = std::min(count, kPiece / each);
      const std::span<uint8_t> piece = piece_.For(0, n * each);
      for (size_t k = 0; k < n; ++k) std::memcpy(piece.data() + k * each, buffers[k], each);
      const size_t done = WriteDirect(offset, piece);  // the rest, if any, through the cache
      WriteCached(offset + done, piece.subspan(done));
      offset += n * each;
      buffers += n;
      count -= n;
    }
  }

  void WriteAll(uint64_t offset, const uint8_t* const* buffers, size_t count,
                size_t each) override {
    constexpr size_t kMaxParts = 64;
    iovec parts[kMaxParts];
    while (count > 0) {
      const size_t n = count < kMaxParts ? count : kMaxParts;
      for (size_t k = 0; k < n; ++k) parts[k] = {const_cast<uint8_t*>(buffers[k]), each};
      ssize_t put = ::pwritev(fd_, parts, int(n), off_t(offset));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) Fail("write");
      if (size_t(put) < n * each) {
        // A short write: the rest of this stretch one buffer at a time.
        for (size_t k = size_t(put) / each; k < n; ++k) {
          const size_t from = k == size_t(put) / each ? size_t(put) % each : 0;
          Write(offset + k * each + from, {buffers[k] + from, each - from});
        }
      }
      offset += n * each;
      buffers += n;
      count -= n;
    }
  }

  void Truncate(uint64_t size) override {
    if (::ftruncate(fd_, off_t(size)) != 0) Fail("write");
  }

  void Sync() override {
    if (::fdatasync(fd_) != 0) Fail("flush");
  }

  void StartWriteback(uint64_t offset, uint64_t length) override {
    ::sync_file_range(fd_, off_t(offset), off_t(length), SYNC_FILE_RANGE_WRITE);
  }

  void Reserve(uint64_t end) override {
    if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, off_t(end)) == 0) return;
    if (errno == EOPNOTSUPP || errno == ENOSYS) return;
    Fail("write");
  }

  uint64_t MostSize() override {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    return uint64_t(limit.rlim_cur);
  }

  void Unreserve() override {
    // Cutting the file at its own size drops the blocks held past it.
    struct stat st {};
    if (::fstat(fd_, &st) != 0) Fail("read");
    if (uint64_t(st.st_blocks) * 512 <= uint64_t(st.st_size)) return;
    if (::ftruncate(fd_, st.st_size) != 0) Fail("write");
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    throw Error(kErrIo, std::string("cannot ") + what + " file " + path_ + ": " +
                            std::strerror(errno ? errno : EIO));
  }

  // Direct writes need block-aligned offsets, lengths and memory.
  static constexpr size_t kBlock = kDirectBlock;
  static constexpr size_t kPiece = size_t(1) << 20;
  static constexpr size_t kPastCacheFrom = 64 * kBlock;

  std::string path_;
  int fd_;
  bool writable_;
  bool past_cache_;    // large writes go past the cache, while the file system takes them
  bool direct_ = true;  // until the file system refuses a direct open or write
  int direct_fd_ = -1;
  AlignedBytes piece_;  // for bytes not aligned as the file is
};

}  // namespace

std::unique_ptr<Storage> PosixStorage(std::string path, int fd, bool writable) {
  return std::make_unique<Posix>(std::move(path), fd, writable);
}

AlignedBytes::~AlignedBytes() {
  if (memory_) ::munmap(memory_, capacity_);
}

std::span<uint8_t> AlignedBytes::For(uint64_t offset, size_t size) {
  const size_t lead = size_t(offset % kDirectBlock);
  if (capacity_ < lead + size) {
    // Grown by half at least: records a little larger than the last are
    // common, and each new buffer is faulted in again.
    const size_t wanted = std::max(lead + size, capacity_ + capacity_ / 2);
    const size_t capacity = (wanted + kHugeBlock - 1) / kHugeBlock * kHugeBlock;
    auto* memory = static_cast<uint8_t*>(MapHugeAligned(capacity));
    if (memory_) ::munmap(memory_, capacity_);
    memory_ = memory;
    capacity_ = capacity;
  }
  return {memory_ + lead, size};
}

std::unique_ptr<Storage> PosixAppendStorage(std::string path, int fd) {
  return std::make_unique<Posix>(std::move(path), fd, true, true);
}

}  // namespace corvalin::engine
