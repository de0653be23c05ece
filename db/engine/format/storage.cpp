#include "db/engine/format/storage.h"

#include <fcntl.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "db/engine/error.h"

namespace corvalin::engine {
namespace {

class Posix : public Storage {
 public:
  Posix(std::string path, int fd, bool writable)
      : path_(std::move(path)), fd_(fd), writable_(writable) {}
  ~Posix() override { ::close(fd_); }

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
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t put = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, off_t(offset + done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) Fail("write");
      done += size_t(put);
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

  std::string path_;
  int fd_;
  bool writable_;
};

}  // namespace

std::unique_ptr<Storage> PosixStorage(std::string path, int fd, bool writable) {
  return std::make_unique<Posix>(std::move(path), fd, writable);
}

}  // namespace corvalin::engine
