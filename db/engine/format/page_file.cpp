// PageFile over a POSIX file: one per (device, inode) in the process, an LRU
// page cache of bounded size, and an advisory OFD lock for writable opens.
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
  ~PosixPageFile() override { ::close(fd_); }

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

  bool writable() const { return writable_; }

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
  bool writable;
  bool operator<(const FileKey& o) const {
    if (device != o.device) return device < o.device;
    if (inode != o.inode) return inode < o.inode;
    return writable < o.writable;
  }
};

std::mutex registry_mutex;
std::map<FileKey, std::weak_ptr<PageFile>>& Registry() {
  static auto* registry = new std::map<FileKey, std::weak_ptr<PageFile>>();
  return *registry;
}

}  // namespace

std::shared_ptr<PageFile> PageFile::Get(const std::string& path, bool writable) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw Error(kErrFileNotFound, "could not find file " + path);
  }
  std::lock_guard lock(registry_mutex);
  FileKey key{st.st_dev, st.st_ino, writable};
  auto& slot = Registry()[key];
  if (auto existing = slot.lock()) return existing;

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
  auto file = std::make_shared<PosixPageFile>(path, fd, writable);
  slot = file;
  return file;
}

}  // namespace corvalin::engine
