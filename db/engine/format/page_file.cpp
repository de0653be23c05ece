// PageFile over a POSIX file: one per (device, inode) in the process, an LRU
// page cache of bounded size, and an advisory OFD lock once it is writable.
// A file first opened for reading and then for writing keeps its one
// PageFile: the descriptor is reopened for writing, so both connections of
// a same-file append share one cache and see each other's pages.
//
//   file offset            contents
//   n * page_size          page n (decoded through the codec when set)
//   0 .. page_size         page 0, the header (read raw with ReadPrefix)
//
// A writable file is also mapped shared: a page that is already in the file
// is replaced by a copy into the mapping, which puts the bytes in the
// kernel's page cache at once, as a pwrite would, without a system call per
// page. A page that extends the file is written with pwrite, so its blocks
// are allocated then (a later store into the mapping never needs new space).
// Nothing else changes the file's size while we hold the write lock, so the
// size kept here is the file's; the mapping reserves room beyond it and is
// moved when the file outgrows it.
#include "db/engine/format/page_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
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
constexpr size_t kSparePages = 16;
// Pages read at once on a walk through consecutive pages.
constexpr size_t kReadAhead = 16;
// The mapping of a writable file reserves address space (not memory) past
// the file's end, so that a growing file is rarely remapped.
constexpr uint64_t kMinMapping = uint64_t(1) << 30;

class PosixPageFile : public PageFile {
 public:
  PosixPageFile(std::string path, int fd, bool writable)
      : path_(std::move(path)), fd_(fd), writable_(writable) {
    if (writable_) StartWriting();
  }
  ~PosixPageFile() override {
    Unmap();
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
    StartWriting();
  }

  const std::string& path() const override { return path_; }
  uint32_t page_size() const override { return page_size_; }
  uint32_t page_count() const override {
    if (page_size_ == 0) return 0;
    if (writable_) return static_cast<uint32_t>(size_ / page_size_);
    // Read-only: another process may be adding pages.
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return 0;
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
    std::shared_ptr<PageData> data = FreshPage();
    uint64_t offset = uint64_t(page_number) * page_size_;
    if (map_ && offset + page_size_ <= size_) {
      std::memcpy(data->data(), map_ + offset, page_size_);
      if (codec_ && page_number != 0) codec_->Decode(page_number, *data);
      Remember(page_number, data);
      return data;
    }
    // A miss just after the previous one is taken for a walk through
    // consecutive pages (a table's data pages): the pages after it are read
    // in the same call and cached.
    const bool onward = last_miss_ != UINT32_MAX && page_number > last_miss_ &&
                        page_number - last_miss_ <= kReadAhead;
    const size_t wanted = onward ? kReadAhead : 1;
    std::vector<std::shared_ptr<PageData>>& pages = read_ahead_;
    pages.clear();
    pages.push_back(std::move(data));
    while (pages.size() < wanted) pages.push_back(FreshPage());
    iovec parts[kReadAhead];
    for (size_t k = 0; k < pages.size(); ++k) parts[k] = {pages[k]->data(), page_size_};
    ssize_t got = ::preadv(fd_, parts, int(pages.size()), off_t(offset));
    if (got < 0) {
      throw Error(kErrIo, "cannot read page " + std::to_string(page_number) +
                              " of file " + path_ + ": " + std::strerror(errno));
    }
    const size_t whole = static_cast<size_t>(got) / page_size_;
    if (whole == 0) {
      throw Error(kErrDamagedFile, "damaged page " + std::to_string(page_number) +
                                       " of file " + path_);
    }
    last_miss_ = page_number + uint32_t(whole) - 1;
    for (size_t k = 0; k < whole; ++k) {
      const uint32_t number = page_number + uint32_t(k);
      if (k > 0 && cache_.count(number)) continue;  // the cache's copy may be newer
      if (codec_ && number != 0) codec_->Decode(number, *pages[k]);
      Remember(number, pages[k]);
    }
    data = std::move(pages.front());
    for (auto& unused : pages)
      if (unused && unused.use_count() == 1 && spare_.size() < kSparePages)
        spare_.push_back(std::move(unused));
    pages.clear();
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
    uint64_t offset = uint64_t(page_number) * page_size_;
    if (offset > size_)
      throw Error(kErrIo, "page " + std::to_string(page_number) +
                              " lies past the end of file " + path_);
    auto it = cache_.find(page_number);
    if (map_ && !codec_ && offset + page_size_ <= size_ && it != cache_.end() &&
        it->second.first.use_count() == 1) {
      // The cache holds the page's bytes in the file, and nobody else holds
      // them: only the blocks that differ are stored, in both.
      auto& cached = const_cast<PageData&>(*it->second.first);
      StoreChangedBlocks(page.data(), cached.data(), map_ + offset);
      ++writes_;
      lru_.splice(lru_.begin(), lru_, it->second.second);
      return;
    }
    const uint8_t* out = page.data();
    if (codec_ && page_number != 0) {
      encoded_.assign(page.begin(), page.end());
      codec_->Encode(page_number, encoded_);
      out = encoded_.data();
    }
    if (map_ && offset + page_size_ <= size_) {
      std::memcpy(map_ + offset, out, page_size_);
    } else {
      WriteAt(out, offset, page_number);
      size_ = std::max(size_, offset + page_size_);
      if (map_ && size_ > map_length_) Map();
    }
    ++writes_;
    // The cache takes the new bytes: in place when nobody else holds the
    // old ones, else as a new page (holders keep what they read).
    if (it != cache_.end()) {
      if (it->second.first.use_count() == 1) {
        auto& bytes = const_cast<PageData&>(*it->second.first);
        std::memcpy(bytes.data(), page.data(), page_size_);
      } else {
        std::shared_ptr<PageData> copy = FreshPage();
        std::memcpy(copy->data(), page.data(), page_size_);
        it->second.first = std::move(copy);
      }
      lru_.splice(lru_.begin(), lru_, it->second.second);
    } else {
      std::shared_ptr<PageData> copy = FreshPage();
      std::memcpy(copy->data(), page.data(), page_size_);
      Remember(page_number, std::move(copy));
    }
  }

  void WriteTaking(uint32_t page_number, PageData& page) override {
    {
      std::lock_guard lock(mutex_);
      const uint64_t offset = uint64_t(page_number) * page_size_;
      auto it = cache_.find(page_number);
      if (writable_ && map_ && !codec_ && page.size() == page_size_ &&
          offset + page_size_ <= size_ && it != cache_.end() &&
          it->second.first.use_count() == 1) {
        // The new bytes go to the file and become the cache's copy; the old
        // copy's buffer goes back to the caller.
        std::memcpy(map_ + offset, page.data(), page_size_);
        std::swap(const_cast<PageData&>(*it->second.first), page);
        ++writes_;
        lru_.splice(lru_.begin(), lru_, it->second.second);
        return;
      }
    }
    Write(page_number, page);
  }

  uint64_t write_count() const override { return writes_; }

  void Sync() override {
    std::lock_guard lock(mutex_);
    // fdatasync also writes back the pages stored through the mapping.
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
  void StartWriting() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
      throw Error(kErrIo, "cannot open file " + path_ + ": " + std::strerror(errno));
    size_ = uint64_t(st.st_size);
    Map();
  }

  // Maps the file with room to grow. Without a mapping (a file system that
  // has none) every page is written with pwrite.
  void Map() {
    Unmap();
    uint64_t length = std::max(kMinMapping, size_ * 2);
    void* at = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (at == MAP_FAILED) return;
    map_ = static_cast<uint8_t*>(at);
    map_length_ = length;
  }

  void Unmap() {
    if (map_) ::munmap(map_, map_length_);
    map_ = nullptr;
    map_length_ = 0;
  }

  void WriteAt(const uint8_t* out, uint64_t offset, uint32_t page_number) {
    size_t done = 0;
    while (done < page_size_) {
      ssize_t put = ::pwrite(fd_, out + done, page_size_ - done, off_t(offset + done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0)
        throw Error(kErrIo, "cannot write page " + std::to_string(page_number) +
                                " of file " + path_ + ": " + std::strerror(errno));
      done += static_cast<size_t>(put);
    }
  }

  // Copies the blocks of `page` that differ from `cached` into cached and
  // into `mapped`, the page in the mapping (equal to cached).
  void StoreChangedBlocks(const uint8_t* page, uint8_t* cached, uint8_t* mapped) {
    constexpr size_t kBlock = 256;  // page sizes are multiples of it
    for (size_t at = 0; at < page_size_;) {
      if (std::memcmp(page + at, cached + at, kBlock) == 0) {
        at += kBlock;
        continue;
      }
      size_t end = at + kBlock;
      while (end < page_size_ && std::memcmp(page + end, cached + end, kBlock) != 0)
        end += kBlock;
      std::memcpy(cached + at, page + at, end - at);
      std::memcpy(mapped + at, page + at, end - at);
      at = end;
    }
  }

  void Remember(uint32_t page_number, PagePtr data) {
    lru_.push_front(page_number);
    cache_[page_number] = {std::move(data), lru_.begin()};
    if (cache_.size() > kCachePages) {
      auto old = cache_.find(lru_.back());
      // A page nobody holds any more lends its buffer to the next one.
      if (old->second.first.use_count() == 1 && spare_.size() < kSparePages)
        spare_.push_back(std::const_pointer_cast<PageData>(std::move(old->second.first)));
      cache_.erase(old);
      lru_.pop_back();
    }
  }

  // A page-sized buffer for the cache, of an evicted page when there is one.
  std::shared_ptr<PageData> FreshPage() {
    if (!spare_.empty()) {
      std::shared_ptr<PageData> page = std::move(spare_.back());
      spare_.pop_back();
      if (page->size() == page_size_) return page;
    }
    return std::make_shared<PageData>(page_size_);
  }

  std::string path_;
  int fd_;
  bool writable_;
  std::mutex mutex_;
  uint32_t page_size_ = 4096;
  std::shared_ptr<PageCodec> codec_;
  std::list<uint32_t> lru_;
  std::unordered_map<uint32_t,
                     std::pair<PagePtr, std::list<uint32_t>::iterator>> cache_;
  std::vector<std::shared_ptr<PageData>> spare_;
  std::vector<std::shared_ptr<PageData>> read_ahead_;
  uint32_t last_miss_ = UINT32_MAX;  // the last page read from the file
  // Writable files: the file's size, its mapping, the pages written so far.
  uint64_t size_ = 0;
  uint8_t* map_ = nullptr;
  uint64_t map_length_ = 0;
  uint64_t writes_ = 0;
  PageData encoded_;
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
  // Only a regular file can be a database. A folder, a device, a pipe (whose
  // open would wait for a writer) or a link to nothing is refused as what it
  // is; "could not find file" is kept for a name with nothing behind it.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    struct stat link {};
    if (errno == ENOENT && ::lstat(path.c_str(), &link) != 0)
      throw Error(kErrFileNotFound, "could not find file " + path);
    if (errno == ENOENT)
      throw Error(kErrUnrecognisedFormat, path + " is not a database file (a link to nothing)");
    throw Error(kErrIo, "cannot open file " + path + ": " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) {
    const char* what = S_ISDIR(st.st_mode)                          ? "a folder"
                       : S_ISFIFO(st.st_mode)                        ? "a pipe"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                     : "not a regular file";
    throw Error(kErrUnrecognisedFormat, path + " is not a database file (" + what + ")");
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
