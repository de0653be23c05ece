// PageFile over a POSIX file: one per (device, inode) in the process, an LRU
// page cache of bounded size, and an advisory OFD lock once it is writable.
// A file first opened for reading and then for writing keeps its one
// PageFile: the descriptor is reopened for writing, so both connections of
// a same-file append share one cache and see each other's pages.
//
//   file offset            contents
//   n * page_size          page n (decoded through the codec when set)
//   0 .. page_size         page 0, the header (read raw with ReadPrefix)
#include "db/engine/format/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <unordered_map>

#include "db/engine/error.h"

namespace corvalin::engine {
namespace {

constexpr size_t kCachePages = 4096;

class PosixPageFile : public PageFile {
 public:
  PosixPageFile(std::string path, int fd, bool writable)
      : path_(std::move(path)), fd_(fd), writable_(writable) {}
  ~PosixPageFile() override {
    if (writable_) ::fdatasync(fd_);
    ::close(fd_);
  }

  // Reopens the file for writing under the write lock.
  void MakeWritable() {
    std::lock_guard lock(mutex_);
    if (writable_) return;
    int fd = OpenLocked(path_, true);
    ::close(fd_);
    fd_ = fd;
    writable_ = true;
  }

  const std::string& path() const override { return path_; }
  uint32_t page_size() const override { return page_size_; }
  uint32_t page_count() const override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || page_size_ == 0) return 0;
    return static_cast<uint32_t>(st.st_size / page_size_);
  }

  void Configure(uint32_t page_size, std::shared_ptr<PageCodec> codec) override {
    std::lock_guard lock(mutex_);
    if (page_size != page_size_) {
      cache_.clear();
      lru_.clear();
    }
    page_size_ = page_size;
    codec_ = std::move(codec);
  }

  PagePtr Read(uint32_t page_number) override {
    std::lock_guard lock(mutex_);
    auto it = cache_.find(page_number);
    if (it != cache_.end()) {
      lru_.splice(lru_.begin(), lru_, it->second.second);
      return it->second.first;
    }
    auto data = std::make_shared<PageData>(page_size_);
    off_t offset = static_cast<off_t>(page_number) * page_size_;
    ssize_t got = ::pread(fd_, data->data(), page_size_, offset);
    if (got < 0) {
      throw Error(kErrIo, "cannot read page " + std::to_string(page_number) +
                              " of file " + path_ + ": " + std::strerror(errno));
    }
    if (static_cast<uint32_t>(got) != page_size_) {
      throw Error(kErrDamagedFile, "damaged page " +
                                       std::to_string(page_number) +
                                       " of file " + path_);
    }
    if (codec_ && page_number != 0) codec_->Decode(page_number, *data);
    lru_.push_front(page_number);
    cache_[page_number] = {data, lru_.begin()};
    if (cache_.size() > kCachePages) {
      cache_.erase(lru_.back());
      lru_.pop_back();
    }
    return data;
  }

  std::vector<uint8_t> ReadPrefix(size_t length) override {
    std::vector<uint8_t> bytes(length);
    ssize_t got = ::pread(fd_, bytes.data(), length, 0);
    if (got < 0) {
      throw Error(kErrIo, "cannot read file " + path_ + ": " +
                              std::strerror(errno));
    }
    bytes.resize(static_cast<size_t>(got));
    return bytes;
  }

  bool writable() const override { return writable_; }

  void Write(uint32_t page_number, std::span<const uint8_t> page) override {
    std::lock_guard lock(mutex_);
    if (!writable_)
      throw Error(kErrReadOnly, "file " + path_ + " is open for reading only");
    if (page.size() != page_size_)
      throw Error(kErrIo, "page " + std::to_string(page_number) +
                              " has the wrong size for file " + path_);
    auto data = std::make_shared<PageData>(page.begin(), page.end());
    const uint8_t* out = data->data();
    PageData encoded;
    if (codec_ && page_number != 0) {
      encoded = *data;
      codec_->Encode(page_number, encoded);
      out = encoded.data();
    }
    off_t offset = static_cast<off_t>(page_number) * page_size_;
    size_t done = 0;
    while (done < page_size_) {
      ssize_t put = ::pwrite(fd_, out + done, page_size_ - done, offset + done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0)
        throw Error(kErrIo, "cannot write page " + std::to_string(page_number) +
                                " of file " + path_ + ": " + std::strerror(errno));
      done += static_cast<size_t>(put);
    }
    auto it = cache_.find(page_number);
    if (it != cache_.end()) {
      it->second.first = data;
      lru_.splice(lru_.begin(), lru_, it->second.second);
    } else {
      lru_.push_front(page_number);
      cache_[page_number] = {data, lru_.begin()};
      if (cache_.size() > kCachePages) {
        cache_.erase(lru_.back());
        lru_.pop_back();
      }
    }
  }

  void Sync() override {
    std::lock_guard lock(mutex_);
    if (writable_ && ::fdatasync(fd_) != 0)
      throw Error(kErrIo, "cannot flush file " + path_ + ": " + std::strerror(errno));
  }

  static int OpenLocked(const std::string& path, bool writable) {
    int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
      if (errno == ENOENT) throw Error(kErrFileNotFound, "could not find file " + path);
      throw Error(kErrIo, "cannot open file " + path + ": " + std::strerror(errno));
    }
    if (writable) {
      struct flock fl {};
      fl.l_type = F_WRLCK;
      fl.l_whence = SEEK_SET;
      if (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
        ::close(fd);
        throw Error(kErrFileLocked, "file locked by another process: " + path);
      }
    }
    return fd;
  }

 private:
  std::string path_;
  int fd_;
  bool writable_;
  std::mutex mutex_;
  uint32_t page_size_ = 4096;
  std::shared_ptr<PageCodec> codec_;
  std::list<uint32_t> lru_;
  std::unordered_map<uint32_t,
                     std::pair<PagePtr, std::list<uint32_t>::iterator>> cache_;
};

struct FileKey {
  dev_t device;
  ino_t inode;
  bool operator<(const FileKey& o) const {
    if (device != o.device) return device < o.device;
    return inode < o.inode;
  }
};

std::mutex registry_mutex;
std::map<FileKey, std::weak_ptr<PosixPageFile>>& Registry() {
  static auto* registry = new std::map<FileKey, std::weak_ptr<PosixPageFile>>();
  return *registry;
}

}  // namespace

std::shared_ptr<PageFile> PageFile::Get(const std::string& path, bool writable) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw Error(kErrFileNotFound, "could not find file " + path);
  }
  std::lock_guard lock(registry_mutex);
  FileKey key{st.st_dev, st.st_ino};
  auto& slot = Registry()[key];
  if (auto existing = slot.lock()) {
    if (writable) existing->MakeWritable();
    return existing;
  }
  int fd = PosixPageFile::OpenLocked(path, writable);
  auto file = std::make_shared<PosixPageFile>(path, fd, writable);
  slot = file;
  return file;
}

}  // namespace corvalin::engine
