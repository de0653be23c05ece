// PageFile over a Storage: one per (device, inode) in the process for files
// on disk, an LRU page cache of bounded size, the lock bytes that let one
// writer and many readers share the file, and the log of saves that makes
// each save atomic (page_log.h holds its rules, cited here as "rule N"). A
// file is opened for reading, even by a connection that may write it; the
// first write reopens it for writing under the writer's lock (rule 11), so
// a source that is only read can be read-only, and every connection of the
// process to the file shares one cache and sees the others' pages.
//
//   file offset            contents
//   n * page_size          page n (decoded through the codec when set)
//   0 .. page_size         page 0, the header (read raw with ReadPrefix)
//
// A changed page stays in the cache, pinned (off the LRU list), until a
// checkpoint writes it into the file (rules 3 and 4). Pages added by saves
// since the last checkpoint lie past the file's end until then: page_count
// is the count the saves made.
//
// Saves without the log (benchmarks only) write their changed ranges
// straight into the file when they end, as the log would have taken them.
#include "db/engine/format/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "db/engine/error.h"
#include "db/engine/format/access_lock_file.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/log_recovery.h"
#include "db/engine/format/page_log.h"
#include "db/engine/format/page_table.h"

namespace corvalin::engine {
namespace {

// The unchanged pages kept in memory (changed ones are held apart, rule 5):
// at most 16 MB of a file only read, which is walked page after page and
// seldom comes back, and 64 MB of a file this process writes. Keys that
// land anywhere come back to every leaf of their index save after save: a
// million rows' text index has some 12,000 leaves, and with room for 4,096
// pages a writer read leaves back from the kernel 200,000 times a run. The
// data pages a written file grows by make way at each checkpoint (see
// MarkAllStored), so its room goes to the pages that come back.
constexpr size_t kCachePages = 4096;
constexpr size_t kWrittenFileCachePages = 16384;
constexpr size_t kSparePages = 256;
// Data pages the file grew by that stay in memory after a checkpoint (the
// last ones written, which the next rows and long values may still fill).
constexpr size_t kNewDataPagesKept = 64;
// Pages read at once on a walk through consecutive pages.
constexpr size_t kReadAhead = 16;
// Rule 5's bounds: changed pages held in memory, bytes in the log, and the
// time between checkpoints while saves go on. Keys that land anywhere
// change leaves all over their indexes, and every checkpoint writes each
// leaf changed since the last one again: a million rows' text index has
// some 12,000 leaves, most of them changed between two checkpoints, so
// with room for 16,384 pages that bound, not the second, called 20
// checkpoints in such a run, and checkpoints took a third of its time.
// Room for twice that (64 MB more at most, and a log twice as large) calls
// 6, and takes 12 to 17% off the run.
constexpr size_t kMaxChangedPages = 32768;
constexpr uint64_t kMaxLogBytes = uint64_t(256) << 20;
constexpr auto kCheckpointEvery = std::chrono::seconds(1);
// Rule 2's bounds of a group of saves for a file on disk: a save returned
// reaches the log within this wait (and the write's own time), well inside
// the tenth of a second a user may lose to a kill. The wait is the bound
// that counts; the size only caps the write. Keys that land anywhere
// change most leaves of their index in every group, and each group logs
// every leaf it changed again, so the more saves a group holds, the fewer
// bytes a save logs: groups cut at 4 MB logged 1.8 KB a row of 100,000
// appended to as many, those the wait ends 1.4 KB.
constexpr SaveGrouping kGroupingOnDisk{SIZE_MAX, uint64_t(16) << 20, std::chrono::milliseconds(40),
                                       true};
// The log's writes are flushed from the device's cache every this many
// bytes while saves go on, and a sync point's writes to the file as it
// goes on (see StartFlusher).
constexpr uint64_t kFlushStep = uint64_t(8) << 20;
// How often the group's thread looks again while a save is under way (the
// save's own end writes the group when it is due).
constexpr auto kGroupRetry = std::chrono::milliseconds(5);
// Rule 14's room is reserved in steps of this many bytes, with a quarter of
// the growth to spare (so that a long run reserves seldom).
constexpr uint64_t kRoomStep = uint64_t(64) << 10;
// Rule 11: how long a close (or a Sync) waits for readers to let a
// checkpoint in before leaving the synced log for the next open.
constexpr auto kCloseWait = std::chrono::milliseconds(3000);
// Past a bound, how long a writer waits for readers before it refuses the
// save (two runs each reading the file the other writes would otherwise
// wait for each other for ever).
constexpr auto kBoundWait = std::chrono::seconds(60);
// Two changed stretches closer than this are logged as one range (a range
// costs its head of 8 bytes).
constexpr size_t kJoin = 16;

// A checkpoint hands the device what it has written every this many bytes.
constexpr uint64_t kWritebackStep = uint64_t(1) << 20;

using Clock = std::chrono::steady_clock;

// Closes fd on a thread of its own. The last close of a removed file gives
// its blocks back, and a file system mounted with discard waits there for
// the device to drop them: some 45 ms for the log of 100,000 saves, nearly
// a third of what the close of such a run costs. Nothing waits for it; a
// process that ends first closes it on its way out.
void CloseAside(int fd) {
  try {
    std::thread([fd] { ::close(fd); }).detach();
  } catch (const std::system_error&) {
    ::close(fd);
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
bool HasAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}

// Past the 128-byte blocks from `at` in which a and b are equal: the offset
// of the first block that differs (or of the last part shorter than one).
__attribute__((target("avx2"))) size_t SkipEqualAvx2(const uint8_t* a, const uint8_t* b,
                                                      size_t at, size_t size) {
  for (; at + 128 <= size; at += 128) {
    const __m256i* x = reinterpret_cast<const __m256i*>(a + at);
    const __m256i* y = reinterpret_cast<const __m256i*>(b + at);
    const __m256i e0 = _mm256_cmpeq_epi8(_mm256_loadu_si256(x), _mm256_loadu_si256(y));
    const __m256i e1 = _mm256_cmpeq_epi8(_mm256_loadu_si256(x + 1), _mm256_loadu_si256(y + 1));
    const __m256i e2 = _mm256_cmpeq_epi8(_mm256_loadu_si256(x + 2), _mm256_loadu_si256(y + 2));
    const __m256i e3 = _mm256_cmpeq_epi8(_mm256_loadu_si256(x + 3), _mm256_loadu_si256(y + 3));
    if (_mm256_movemask_epi8(_mm256_and_si256(_mm256_and_si256(e0, e1),
                                              _mm256_and_si256(e2, e3))) != -1)
      break;
  }
  return at;
}
#endif

class CachedPageFile : public PageFile {
 public:
  // With atomic saves, the log is log (a caller's storage) or the file at
  // log_path, made by the first save.
  // A file on disk (lock_fd is file's descriptor, holding the readers'
  // byte shared) is opened for reading; may_write lets its first write
  // reopen it for writing. A caller's storage (lock_fd < 0) is written
  // as it is, without locks, when it is writable.
  CachedPageFile(std::string path, std::unique_ptr<Storage> file, bool atomic_saves,
                 std::unique_ptr<Storage> log, std::string log_path, int lock_fd, bool may_write,
                 SaveGrouping grouping)
      : path_(std::move(path)), file_(std::move(file)), log_path_(std::move(log_path)),
        lock_fd_(lock_fd), grouping_(grouping) {
    atomic_ = atomic_saves;
    if (lock_fd_ < 0) {
      may_write_ = writing_ = file_->writable();
      if (writing_) StartWriting(atomic_saves, std::move(log));
    } else {
      may_write_ = may_write;
      read_stamp_ = file_->Stamp();
    }
  }

  ~CachedPageFile() override {
    StopGroupThread();
    Close();
    try {
      StopWriterThread();
    } catch (...) {
    }
    if (removed_log_fd_ >= 0) CloseAside(removed_log_fd_);
  }

  // The last close: a checkpoint, then the log goes (rule 5).
  void Close() {
    if (!writing_) return;
    try {
      std::lock_guard lock(mutex_);
      // After a group was lost the file takes nothing more: the log keeps
      // the groups before it for the next open (rule 2).
      if (lost_) return;
      if (CheckpointLocked(Wait::kClose)) {
        // Rule 5: the last close removes the log, now empty. Its blocks
        // go back when its last descriptor closes, kept open until the
        // others are closed (CloseAside).
        log_.reset();
        if (log_storage_ && !log_path_.empty()) {
          removed_log_fd_ = ::open(log_path_.c_str(), O_RDONLY | O_CLOEXEC);
          ::unlink(log_path_.c_str());
        }
      }
      // Otherwise readers kept the checkpoint out: the log, synced, stays
      // for the next open to apply (rule 11).
      log_.reset();
      log_storage_.reset();
    } catch (...) {
      // The log stays: the next open completes what it holds.
    }
  }

  // Another connection of the process opens the file with write access.
  // The first such open decides whether saves are atomic.
  void AllowWriting(bool atomic_saves) {
    std::lock_guard lock(mutex_);
    if (may_write_) return;
    may_write_ = true;
    atomic_ = atomic_saves;
  }

  void BeginWrite() override {
    std::lock_guard lock(mutex_);
    BeginWriteLocked();
  }

  uint64_t reloads() const override { return reloads_; }

  void LogPending() {
    std::lock_guard lock(mutex_);
    if (!InSave() && !lost_) LogTheGroup();
  }

  const std::string& path() const override { return path_; }
  uint32_t page_size() const override { return page_size_; }
  uint32_t page_count() const override {
    if (page_size_ == 0) return 0;
    // A writer's count changes only in its own saves.
    if (writing_) return pages_;
    std::lock_guard lock(mutex_);
    // Not written here: the file as of the last checkpoint. Its size is
    // looked at again only after pages were read from it (they may point to
    // pages a writer added since).
    if (size_stale_) {
      known_size_ = file_->Size();
      size_stale_ = false;
    }
    return static_cast<uint32_t>(known_size_ / page_size_);
  }

  void Configure(uint32_t page_size, std::shared_ptr<PageCodec> codec) override {
    std::lock_guard lock(mutex_);
    // Every open of the file configures it; only the first (before any
    // save) may change the page size.
    if (page_size != page_size_) {
      cache_.clear();
      lru_.clear();
      changed_pages_.clear();
      page_size_ = page_size;
      if (writing_)
        pages_ = stored_pages_ = save_pages_ = static_cast<uint32_t>(file_->Size() / page_size_);
    }
    codec_ = std::move(codec);
  }

  PagePtr Read(uint32_t page_number) override {
    std::lock_guard lock(mutex_);
    return ReadLocked(page_number);
  }

  std::vector<uint8_t> ReadPrefix(size_t length) override {
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> bytes(length);
    bytes.resize(file_->Read(0, bytes));
    const Entry* header = cache_.find(0);
    if (header && header->changed) {
      const size_t n = std::min(length, header->data->size());
      if (bytes.size() < n) bytes.resize(n);
      std::memcpy(bytes.data(), header->data->data(), n);
    }
    return bytes;
  }

  size_t ReadOnce(uint32_t first, uint8_t* const* pages, size_t count) override {
    std::lock_guard lock(mutex_);
    size_t whole = file_->Read(uint64_t(first) * page_size_, pages, count, page_size_) / page_size_;
    size_stale_ = true;
    for (size_t k = 0; k < count; ++k) {
      const uint32_t number = first + uint32_t(k);
      uint8_t* page = pages[k];
      // The cache's copy is the newer one (a save not yet in the file; a
      // page added past the file's end).
      if (const Entry* cached = cache_.find(number)) {
        std::memcpy(page, cached->data->data(), page_size_);
        if (k == whole) ++whole;
      } else if (k >= whole) {
        break;
      } else if (codec_ && number != 0) {
        codec_->Decode(number, std::span<uint8_t>(page, page_size_));
      }
    }
    return whole;
  }

  bool writable() const override { return may_write_; }

  void Write(uint32_t page_number, std::span<const uint8_t> page) override {
    WriteLocked(page_number, page, {});
  }

  void WriteChanged(uint32_t page_number, std::span<const uint8_t> page,
                    std::span<const ByteRange> changed) override {
    WriteLocked(page_number, page, changed);
  }

  uint64_t write_count() const override { return writes_; }

  void Commit() override {
    std::lock_guard lock(mutex_);
    CommitLocked();
  }

  void Rollback() override {
    std::lock_guard lock(mutex_);
    RollbackLocked();
  }

  void Sync() override {
    std::lock_guard lock(mutex_);
    if (writing_) CheckpointLocked(Wait::kClose);
  }

 private:
  // Write and WriteChanged: `changed` empty when any byte may have changed.
  void WriteLocked(uint32_t page_number, std::span<const uint8_t> page,
                   std::span<const ByteRange> changed) {
    std::lock_guard lock(mutex_);
    if (lost_) throw *lost_;
    if (!writing_) WriteAccessForWrite();
    if (page.size() != page_size_)
      throw Error(kErrIo, "page " + std::to_string(page_number) +
                              " has the wrong size for file " + path_);
    if (page_number > pages_)
      throw Error(kErrIo, "page " + std::to_string(page_number) +
                              " lies past the end of file " + path_);
    if (checkpoint_due_ && !InSave()) CheckpointLocked();
    StartLog();
    if (!InSave()) save_pages_ = pages_;

    Entry* entry = nullptr;
    // A page this write adds: its cached image is taken for zeros until the
    // new bytes replace it whole below (a rollback drops the page).
    const bool added = page_number == pages_;
    if (added) {
      entry = &Remember(page_number, FreshPage(), false);
      ++pages_;
    } else {
      entry = cache_.find(page_number);
      if (!entry) {
        ReadLocked(page_number);
        entry = cache_.find(page_number);
      }
    }
    // Holders keep what they read (the writer thread a group's pages, until
    // it has copied them): the cache takes a copy to change.
    if (!OnlyHolder(entry->data)) {
      std::shared_ptr<PageData> copy = FreshPage();
      std::memcpy(copy->data(), entry->data->data(), page_size_);
      entry->data = std::move(copy);
    }
    PageData& cached = *entry->data;
    if (codec_ && page_number != 0) {
      // Rule 1: an encrypted page is logged whole, encoded.
      Undo(page_number, 0, cached.data(), page_size_);
      std::memcpy(cached.data(), page.data(), page_size_);
      if (atomic_) {
        Logged(*entry, page_number, 0, page_size_);
      } else {
        encoded_.assign(page.begin(), page.end());
        codec_->Encode(page_number, encoded_);
        log_->Add(page_number, 0, encoded_);
      }
    } else if (added) {
      if (zeros_.size() != page_size_) zeros_.assign(page_size_, 0);
      LogChanges(*entry, page_number, zeros_.data(), nullptr, page.data());
      std::memcpy(cached.data(), page.data(), page_size_);
    } else {
      assert(SameOutside(cached.data(), page.data(), changed));
      if (changed.empty())
        LogChanges(*entry, page_number, cached.data(), cached.data(), page.data());
      else
        LogRanges(*entry, page_number, cached.data(), page.data(), changed);
    }
    if (!entry->changed) {
      entry->changed = true;
      lru_.erase(entry->lru);
      changed_pages_.push_back(page_number);
    }
    entry->last_write = writes_++;
  }

  // Whether a and b agree outside the ranges (all of them: none given).
  bool SameOutside(const uint8_t* a, const uint8_t* b, std::span<const ByteRange> ranges) const {
    size_t at = 0;
    for (const ByteRange& r : ranges) {
      if (r.from < at || r.to < r.from || r.to > page_size_) return false;
      if (std::memcmp(a + at, b + at, r.from - at) != 0) return false;
      at = r.to;
    }
    return ranges.empty() || std::memcmp(a + at, b + at, page_size_ - at) == 0;
  }
  struct Entry {
    std::shared_ptr<PageData> data;
    std::list<uint32_t>::iterator lru;  // unused while changed
    bool changed = false;               // not yet in the file
    uint64_t last_write = 0;            // the write count at its last write
    // Rule 2: the byte ranges [from, to) the group's saves changed, sorted,
    // apart by more than kJoin (a page in the group is changed, so pinned).
    std::vector<std::pair<uint32_t, uint32_t>> group_ranges;

    // Out of the cache: the page's bytes go, the buffers for ranges stay.
    void Forget() {
      data.reset();
      changed = false;
      group_ranges.clear();
    }
  };
  // The old bytes of a range a save changed, to give the save up.
  struct UndoRange {
    uint32_t page;
    uint32_t offset;
    uint32_t length;
    size_t at;  // in undo_bytes_
  };

  // Rule 11: write access, taken by the first write. The file is reopened
  // for reading and writing under the writer's byte; the readers' byte this
  // PageFile held shared goes with the read-only descriptor (so that its own
  // checkpoints and recovery never wait for it); a log left by a writer that
  // is gone is applied. When that, or anyone, changed the file since it was
  // read, the cache is dropped and reloads() counts it: what was decoded
  // from the old pages is to be read again.
  void BeginWriteLocked() {
    if (writing_) return;
    if (!may_write_) throw Error(kErrReadOnly, "file " + path_ + " is open for reading only");
    const int fd = OpenForWriting(path_);
    std::unique_ptr<Storage> file = PosixStorage(path_, fd, true);
    std::swap(file, file_);
    file.reset();  // the read-only descriptor, and its lock
    bool changed = false;
    try {
      changed = RecoverForWriting(path_, *file_, fd);
    } catch (...) {
      // Back to reading: the writer's byte goes, the readers' is held again.
      Unlock(fd, LockByte::kWriter);
      WaitLock(fd, LockByte::kRead, false);
      lock_fd_ = fd;
      throw;
    }
    lock_fd_ = fd;
    if (changed || file_->Stamp() != read_stamp_) {
      cache_.clear();
      lru_.clear();
      ++writes_;
      ++reloads_;
    }
    writing_ = true;
    StartWriting(atomic_, nullptr);
  }

  // A Write that comes without BeginWrite first (a file being made): the
  // pages of its save were read before write access; when the file had
  // changed by then, the save is refused.
  void WriteAccessForWrite() {
    const uint64_t reloads = reloads_;
    BeginWriteLocked();
    if (reloads_ != reloads)
      throw Error(kErrFileLocked, "file " + path_ + " was changed by another program since it "
                                  "was read; the save is refused");
  }

  // Rule 11: a checkpoint writes the file only while it holds the readers'
  // byte alone.
  enum class Wait {
    kAtBounds,  // past a bound of rule 5, up to kBoundWait; else not at all
    kClose,     // at a close or Sync: a few seconds
  };
  bool TakeReadersByte(Wait wait) {
    if (lock_fd_ < 0) return true;
    if (TryLock(lock_fd_, LockByte::kRead, true)) return true;
    if (wait == Wait::kAtBounds) {
      if (changed_pages_.size() <= kMaxChangedPages && (!log_ || log_->size() <= kMaxLogBytes))
        return false;
      if (WaitLockFor(lock_fd_, LockByte::kRead, true, kBoundWait)) return true;
      DeferCheckpoint();
      throw Error(kErrFileLocked, "file " + path_ + " is being read by another process, which "
                                  "kept the saves so far out of the file for " +
                                  std::to_string(kBoundWait.count()) + " seconds");
    }
    // A close waits once for what it has to write; a later Sync or close
    // with nothing new does not wait again.
    const uint64_t records = log_ ? log_->records() : 0;
    if (records == waited_for_records_) return false;
    waited_for_records_ = records;
    return WaitLockFor(lock_fd_, LockByte::kRead, true, kCloseWait);
  }

  // The checkpoint put off: the log is synced in its place, which makes the
  // saves as lasting as the checkpoint would have (the next open's recovery
  // redoes them), and the saves go on into the log.
  void DeferCheckpoint() {
    LogTheGroup();
    WaitForLogFolder();
    if (log_storage_) log_storage_->Sync();
    last_checkpoint_ = Clock::now();
    checkpoint_due_ = false;
  }

  void StartWriting(bool atomic_saves, std::unique_ptr<Storage> log) {
    atomic_ = atomic_saves;
    log_storage_ = std::move(log);
    pages_ = stored_pages_ = save_pages_ = static_cast<uint32_t>(file_->Size() / page_size_);
    last_checkpoint_ = Clock::now();
  }

  // The log, made for the first save (a file opened for writing that takes
  // no save leaves none).
  void StartLog() {
    if (log_) return;
    // Nothing is written while Access has the database open (its lock file
    // held): our saves would not be seen by it, nor its by us.
    RefuseWhenOpenInAccess(path_);
    if (atomic_ && !log_storage_) {
      log_storage_ = MakeLogFile(log_path_, path_);
      FindLogAfterPowerLoss();
    }
    try {
      log_ = std::make_unique<PageLog>(log_storage_.get(), page_size_,
                                       log_storage_ ? file_->Stamp() : 0,
                                       log_storage_ ? file_->Size() : 0);
      if (log_storage_) log_file_size_ = log_storage_->Size();
    } catch (const Error& e) {
      throw CannotSave(e);
    }
  }

  // Rule 4 counts on the log being found after a power loss: its name must
  // be on the device before the log is synced for a sync point. Syncing
  // the folder waits for the file system's journal (a few hundredths of a
  // second), so a thread does it while the first saves go on, and the first
  // sync point waits for it.
  void FindLogAfterPowerLoss() {
    try {
      log_folder_synced_ = std::async(std::launch::async, SyncFolderOf, log_path_);
    } catch (const std::system_error&) {
      SyncFolderOf(log_path_);  // no thread to be had
    }
  }
  void WaitForLogFolder() {
    if (log_folder_synced_.valid()) log_folder_synced_.get();
  }

  // A save the log could not take (no space, an I/O error): the error names
  // the database file, not only its log.
  Error CannotSave(const Error& e) const {
    return Error(e.number(), "this record cannot be saved in file " + path_ + ": " + e.description());
  }

  bool InSave() const { return !undo_.empty() || pages_ != save_pages_ || (log_ && log_->pending()); }

  PagePtr ReadLocked(uint32_t page_number) {
    if (Entry* cached = cache_.find(page_number)) {
      if (!cached->changed) lru_.splice(lru_.begin(), lru_, cached->lru);
      return cached->data;
    }
    // A miss just after the previous one is taken for a walk through
    // consecutive pages (a table's data pages): the pages after it are read
    // in the same call and cached.
    const bool onward = last_miss_ != UINT32_MAX && page_number > last_miss_ &&
                        page_number - last_miss_ <= kReadAhead;
    const size_t wanted = onward ? kReadAhead : 1;
    std::vector<std::shared_ptr<PageData>>& pages = read_ahead_;
    pages.clear();
    uint8_t* buffers[kReadAhead];
    for (size_t k = 0; k < wanted; ++k) {
      pages.push_back(FreshPage());
      buffers[k] = pages[k]->data();
    }
    const size_t got = file_->Read(uint64_t(page_number) * page_size_, buffers, wanted, page_size_);
    size_stale_ = true;
    const size_t whole = got / page_size_;
    if (whole == 0) {
      pages.clear();
      throw Error(kErrDamagedFile, "damaged page " + std::to_string(page_number) +
                                       " of file " + path_);
    }
    last_miss_ = page_number + uint32_t(whole) - 1;
    for (size_t k = 0; k < whole; ++k) {
      const uint32_t number = page_number + uint32_t(k);
      if (k > 0 && cache_.find(number)) continue;  // the cache's copy may be newer
      if (codec_ && number != 0) codec_->Decode(number, *pages[k]);
      Remember(number, pages[k], true);
    }
    PagePtr data = pages.front();
    for (auto& unused : pages)
      if (unused && unused.use_count() == 1 && spare_.size() < kSparePages)
        spare_.push_back(std::move(unused));
    pages.clear();
    return data;
  }

  // Rule 1, for a writer that said which bytes it changed (ranges a few
  // bytes long, or stretches of entries moved along): the ranges are logged
  // as they are and taken into cached, keeping the old bytes for a rollback.
  void LogRanges(Entry& entry, uint32_t page_number, uint8_t* cached, const uint8_t* now,
                 std::span<const ByteRange> changed) {
    for (const ByteRange& r : changed) {
      Undo(page_number, r.from, cached + r.from, r.to - r.from);
      std::memcpy(cached + r.from, now + r.from, r.to - r.from);
      if (atomic_)
        Logged(entry, page_number, r.from, r.to);
      else
        log_->Add(page_number, r.from, {now + r.from, size_t(r.to - r.from)});
    }
  }

  // Rule 1: logs the stretches where `now` differs from `old`, in 8-byte
  // words, and takes them into cached (the same bytes as old, keeping the
  // old ones for a rollback; null when the caller replaces the page whole).
  // Equal stretches are skipped 64 bytes at a time; stretches less than
  // kJoin bytes apart become one range.
  void LogChanges(Entry& entry, uint32_t page_number, const uint8_t* old, uint8_t* cached,
                  const uint8_t* now) {
    static_assert(kJoin == 16, "a range ends at two equal words");
    auto word_differs = [&](size_t at) {
      uint64_t a, b;
      std::memcpy(&a, old + at, 8);
      std::memcpy(&b, now + at, 8);
      return a != b;
    };
    size_t at = 0;
    for (;;) {
      at = NextDifference(old, now, at, page_size_);
      if (at >= page_size_) break;
      const size_t start = at;
      // The range ends before the first two equal words (or the page's end).
      size_t end = at + 8;
      // Long stretches (entries moved along a page) four words at a time.
      while (end + 32 <= page_size_ && word_differs(end) && word_differs(end + 8) &&
             word_differs(end + 16) && word_differs(end + 24))
        end += 32;
      while (end < page_size_) {
        if (word_differs(end)) {
          end += 8;
        } else if (end + 8 < page_size_ && word_differs(end + 8)) {
          end += 16;
        } else {
          break;
        }
      }
      if (cached) {
        Undo(page_number, start, cached + start, end - start);
        std::memcpy(cached + start, now + start, end - start);
      }
      if (atomic_)
        Logged(entry, page_number, uint32_t(start), uint32_t(end));
      else
        log_->Add(page_number, uint32_t(start), {now + start, end - start});
      at = end;
    }
  }

  // The offset of the first 8-byte word at or after `at` (a multiple of 8)
  // in which a and b differ, or size (a multiple of 8).
  static size_t NextDifference(const uint8_t* a, const uint8_t* b, size_t at, size_t size) {
    auto word_differs = [&](size_t k) {
      uint64_t x, y;
      std::memcpy(&x, a + k, 8);
      std::memcpy(&y, b + k, 8);
      return x != y;
    };
    for (; at % 64 != 0; at += 8)
      if (word_differs(at)) return at;
#if defined(__x86_64__) && defined(__GNUC__)
    if (HasAvx2()) at = SkipEqualAvx2(a, b, at, size);
#endif
#if defined(__SSE2__)
    for (; at + 64 <= size; at += 64) {
      const __m128i e0 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at)));
      const __m128i e1 =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at + 16)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at + 16)));
      const __m128i e2 =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at + 32)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at + 32)));
      const __m128i e3 =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at + 48)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at + 48)));
      if (_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(e0, e1), _mm_and_si128(e2, e3))) !=
          0xFFFF)
        break;
    }
#else
    for (; at + 64 <= size; at += 64)
      if (std::memcmp(a + at, b + at, 64) != 0) break;
#endif
    for (; at < size; at += 8)
      if (word_differs(at)) return at;
    return size;
  }

  // Rule 2: bytes [from, to) of the page are the group's to log. Ranges
  // closer than kJoin become one.
  void Logged(Entry& entry, uint32_t page_number, uint32_t from, uint32_t to) {
    auto& ranges = entry.group_ranges;
    if (ranges.empty()) group_pages_.push_back(page_number);
    size_t first = 0;
    while (first < ranges.size() && ranges[first].second + kJoin < from) ++first;
    size_t last = first;
    for (; last < ranges.size() && ranges[last].first <= to + kJoin; ++last) {
      from = std::min(from, ranges[last].first);
      to = std::max(to, ranges[last].second);
      group_bytes_ -= PageLog::kRangeHead + (ranges[last].second - ranges[last].first);
    }
    group_bytes_ += PageLog::kRangeHead + (to - from);
    if (last == first) {
      ranges.insert(ranges.begin() + ptrdiff_t(first), {from, to});
    } else {
      ranges[first] = {from, to};
      ranges.erase(ranges.begin() + ptrdiff_t(first) + 1, ranges.begin() + ptrdiff_t(last));
    }
  }

  // Rule 2: the group of saves since the last record becomes one record.
  // Runs between saves only, so that the cache holds whole saves. A group
  // that cannot be written is lost: the file refuses what comes after.
  void WriteGroup() {
    if (group_saves_ == 0) return;
    if (lost_) throw *lost_;
    if (writer_thread_.joinable() && !codec_) {
      HandOverGroup();
      return;
    }
    for (uint32_t n : group_pages_) {
      Entry* found = cache_.find(n);
      // A page that a save given up had added is gone with it.
      if (!found || n >= pages_) continue;
      Entry& entry = *found;
      const uint8_t* bytes = entry.data->data();
      if (codec_ && n != 0 && !entry.group_ranges.empty()) {
        // Rule 1: an encoded page goes whole.
        encoded_.assign(bytes, bytes + page_size_);
        codec_->Encode(n, encoded_);
        log_->Add(n, 0, encoded_);
      } else {
        for (const auto& [from, to] : entry.group_ranges) log_->Add(n, from, {bytes + from, to - from});
      }
      entry.group_ranges.clear();
    }
    if (writer_thread_.joinable()) {
      // The record goes to the writer thread, once the one before it is
      // written: the log holds the records in order.
      WaitForTheWriter();
      flight_at_ = log_->Seal(pages_, flight_);
      flight_salt_ = log_->salt();
      flight_saves_ = group_saves_;
      flight_made_here_ = false;
      flight_.store_pending();
    } else {
      try {
        log_->Append(pages_);
      } catch (const Error& e) {
        log_->Drop();
        LoseGroup(e, group_saves_);
      }
    }
    group_pages_.clear();
    group_bytes_ = 0;
    group_saves_ = 0;
  }

  // Rule 2, with the writer thread: the record is made there too. The
  // group's pages go over as they are (the thread holds them, so that a
  // save changing one meanwhile changes a copy) with their ranges; here
  // only its place in the log is taken.
  void HandOverGroup() {
    WaitForTheWriter();
    uint64_t range_bytes = 0;
    flight_page_count_ = 0;
    for (uint32_t n : group_pages_) {
      Entry* found = cache_.find(n);
      // A page that a save given up had added is gone with it.
      if (!found || n >= pages_ || found->group_ranges.empty()) continue;
      if (flight_page_count_ == flight_pages_.size()) flight_pages_.emplace_back();
      PageLog::PageRanges& page = flight_pages_[flight_page_count_++];
      page.page = n;
      page.bytes = found->data;
      // The entry takes the emptied buffer of an earlier group's ranges.
      std::swap(page.ranges, found->group_ranges);
      found->group_ranges.clear();
      for (const auto& [from, to] : page.ranges) range_bytes += PageLog::kRangeHead + (to - from);
    }
    flight_placed_ = log_->Place(pages_, range_bytes);
    flight_at_ = flight_placed_.at;
    flight_saves_ = group_saves_;
    flight_made_here_ = true;
    flight_.store_pending();
    group_pages_.clear();
    group_bytes_ = 0;
    group_saves_ = 0;
  }

  [[noreturn]] void LoseGroup(const Error& e, size_t saves) {
    lost_ = Error(e.number(), "the last " + std::to_string(saves) + " records saved in file " +
                                  path_ + " are lost: " + e.description());
    throw *lost_;
  }

  // A group's record in the writer thread's hands: its bytes, where they
  // go in the log, and the thread's state (kPending while it writes them).
  struct InFlight : std::vector<uint8_t> {
    enum : int { kIdle, kPending, kStop };
    std::atomic<int> state{kIdle};
    void store_pending() {
      state.store(kPending, std::memory_order_release);
      state.notify_all();
    }
  };

  // Rule 2: the writer thread of a file on disk makes each group's record
  // (an encrypted file's comes made: it only sums it) and writes it into the
  // log while saves go on (this costs about as much as the saves of a group
  // themselves: every byte is copied twice). It never takes the page file's
  // lock, so a save may wait for it while holding that lock.
  void StartWriterThread() {
    if (writer_thread_.joinable() || !grouping_.background_writer || !log_storage_) return;
    StartFlusher();
    writer_thread_ = std::thread([this] {
      for (;;) {
        flight_.state.wait(InFlight::kIdle, std::memory_order_acquire);
        if (flight_.state.load(std::memory_order_acquire) == InFlight::kStop) return;
        try {
          if (flight_made_here_) {
            // Built where a direct write takes it as it is (storage.h).
            const std::span<uint8_t> record =
                flight_record_.For(flight_at_, PageLog::RecordSize(flight_placed_));
            PageLog::BuildRecord(flight_placed_, {flight_pages_.data(), flight_page_count_}, record);
            log_storage_->Write(flight_at_, record);
            Written(record.size());
          } else {
            PageLog::SumRecord(flight_, flight_salt_);
            log_storage_->Write(flight_at_, flight_);
            Written(flight_.size());
          }
        } catch (const Error& e) {
          flight_error_ = e;
        } catch (const std::exception& e) {
          flight_error_ = Error(kErrIo, "cannot write the log of file " + path_ + ": " + e.what());
        }
        flight_.state.store(InFlight::kIdle, std::memory_order_release);
        flight_.state.notify_all();
      }
    });
  }

  // A sync costs about as much as the bytes written since the last one
  // (here some 0.6 ms a megabyte: the device's cache is written out), and
  // a sync point waits for its syncs. So a thread flushes the log's writes
  // while saves go on, and the sync point's writes to the file while it
  // writes the rest; its own syncs then find little left: before, the log
  // of a second's saves cost 85 ms there. This only adds syncs; no rule
  // counts on them. The thread syncs through descriptors of its own: a
  // write-back error is reported once to each open file description, so
  // one it meets is still reported to the sync point's sync.
  void StartFlusher() {
    if (flusher_.joinable() || log_path_.empty()) return;
    flush_fds_[0] = ::open(log_path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (flush_fds_[0] < 0) return;
    flush_fds_[1] = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    flush_due_.store(0, std::memory_order_relaxed);
    unflushed_ = 0;
    try {
      flusher_ = std::thread([this] {
        for (;;) {
          flush_due_.wait(0, std::memory_order_acquire);
          const int due = flush_due_.exchange(0, std::memory_order_acq_rel);
          if (due & kFlushStop) return;
          if (due & kFlushLog) ::fdatasync(flush_fds_[0]);
          if ((due & kFlushFile) && flush_fds_[1] >= 0) ::fdatasync(flush_fds_[1]);
        }
      });
    } catch (const std::system_error&) {
      CloseFlushDescriptors();
    }
  }

  // Asks the flusher, when there is one, for a flush of what (kFlushLog,
  // kFlushFile). The writer thread asks for the log's (the flusher was
  // started before it and stops after it), a sync point for the file's.
  void Flush(int what) {
    if (flush_fds_[0] < 0) return;
    flush_due_.fetch_or(what, std::memory_order_acq_rel);
    flush_due_.notify_one();
  }

  // The writer thread wrote `bytes` into the log.
  void Written(uint64_t bytes) {
    unflushed_ += bytes;
    if (unflushed_ < kFlushStep) return;
    unflushed_ = 0;
    Flush(kFlushLog);
  }

  void StopFlusher() {
    if (!flusher_.joinable()) return;
    flush_due_.fetch_or(kFlushStop, std::memory_order_acq_rel);
    flush_due_.notify_one();
    flusher_.join();
    CloseFlushDescriptors();
  }
  void CloseFlushDescriptors() {
    for (int& fd : flush_fds_) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
  }

  void WaitWhilePending() {
    for (int state; (state = flight_.state.load(std::memory_order_acquire)) == InFlight::kPending;)
      flight_.state.wait(state, std::memory_order_acquire);
  }

  // Waits until the writer thread has written the last record handed to
  // it; when that failed, its group is lost (rule 2).
  void WaitForTheWriter() {
    WaitWhilePending();
    if (flight_error_) {
      const Error e = *flight_error_;
      flight_error_.reset();
      LoseGroup(e, flight_saves_);
    }
  }

  void StopWriterThread() {
    if (!writer_thread_.joinable()) return;
    WaitWhilePending();
    flight_.state.store(InFlight::kStop, std::memory_order_release);
    flight_.state.notify_all();
    writer_thread_.join();
    StopFlusher();
  }

  // The group, and every record before it, in the log.
  void LogTheGroup() {
    WriteGroup();
    if (writer_thread_.joinable()) WaitForTheWriter();
  }

  bool GroupDue(Clock::time_point now) const {
    return group_saves_ >= grouping_.most_saves || group_bytes_ >= grouping_.most_bytes ||
           (grouping_.most_wait.count() > 0 && now - group_started_ >= grouping_.most_wait);
  }

  // Rule 2's thread: writes a group whose time is up while no save comes.
  void StartGroupThread() {
    if (group_thread_.joinable() || lock_fd_ < 0 || grouping_.most_wait.count() == 0) return;
    group_thread_ = std::thread([this] {
      std::unique_lock lock(mutex_);
      while (!stopping_) {
        if (group_saves_ == 0 || lost_) {
          group_wake_.wait(lock);
        } else if (const auto due = group_started_ + grouping_.most_wait; Clock::now() < due) {
          group_wake_.wait_until(lock, due);
        } else if (InSave()) {
          group_wake_.wait_for(lock, kGroupRetry);
        } else {
          try {
            WriteGroup();
          } catch (...) {
            // lost_ holds the error for the next save to report.
          }
        }
      }
    });
  }

  void StopGroupThread() {
    if (!group_thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    group_wake_.notify_all();
    group_thread_.join();
  }

  void Undo(uint32_t page_number, size_t offset, const uint8_t* old, size_t length) {
    undo_.push_back({page_number, uint32_t(offset), uint32_t(length), undo_bytes_.size()});
    undo_bytes_.insert(undo_bytes_.end(), old, old + length);
  }

  void CommitLocked() {
    if (!InSave()) return;
    StartLog();
    const Clock::time_point now = Clock::now();
    try {
      if (lost_) throw *lost_;
      if (atomic_) {
        ReserveRoom();
        if (++group_saves_ == 1) {
          group_started_ = now;
          StartGroupThread();
          StartWriterThread();
          group_wake_.notify_one();
        }
        if (GroupDue(now)) WriteGroup();  // rule 2
      } else {
        WriteRangesToFile();
      }
    } catch (const Error& e) {
      RollbackLocked();
      if (lost_) throw *lost_;
      throw atomic_ ? CannotSave(e) : e;
    } catch (...) {
      RollbackLocked();
      throw;
    }
    undo_.clear();
    undo_bytes_.clear();
    save_pages_ = pages_;
    // Rule 5: the next save starts with a checkpoint when one is due.
    checkpoint_due_ = atomic_ && (changed_pages_.size() > kMaxChangedPages ||
                                  log_->size() + group_bytes_ > kMaxLogBytes ||
                                  now - last_checkpoint_ >= kCheckpointEvery);
  }

  // Rule 14: the log holds, past its end, the blocks that the pages added
  // since the last checkpoint will take in the file, reserved before the
  // save that adds them is logged (a save the device has no room for is
  // refused whole, here).
  void ReserveRoom() {
    if (!log_storage_) return;
    const uint64_t growth =
        pages_ > stored_pages_ ? uint64_t(pages_ - stored_pages_) * page_size_ : 0;
    const uint64_t group_end = log_->size() + PageLog::kRecordHead + group_bytes_ + 8;
    if (group_end <= log_file_size_ && growth == 0) return;
    const uint64_t log_end = std::max(log_file_size_, group_end);
    if (log_end + growth <= reserved_to_) return;
    // A file the process may not make that large fails here too, not at
    // the group's write or the checkpoint.
    const uint64_t most = std::min(log_storage_->MostSize(), file_->MostSize());
    if (log_end + growth > most || uint64_t(pages_) * page_size_ > most)
      throw Error(kErrIo, "cannot write file " + path_ + ": " + std::strerror(EFBIG));
    const uint64_t spare = (log_end - log_file_size_ + growth) / 4;
    const uint64_t to = std::min(most, (log_end + growth + spare) / kRoomStep * kRoomStep + kRoomStep);
    log_storage_->Reserve(to);
    reserved_to_ = to;
  }

  // Rule 14: the blocks reserved in the log go to the file the checkpoint
  // is about to grow.
  void GiveRoomToFile() {
    if (!log_storage_) return;
    if (reserved_to_ != 0) log_storage_->Unreserve();
    reserved_to_ = 0;
  }

  // Saves without the log: the save's ranges go straight into the file.
  void WriteRangesToFile() {
    // One write per page, from its first changed byte to its last, taken
    // from the cache (which holds the plain bytes; an encoded page's one
    // range holds all of it).
    uint32_t page = UINT32_MAX, from = 0, to = 0;
    auto flush = [&] {
      if (page == UINT32_MAX) return;
      if (codec_ && page != 0) {
        encoded_ = *cache_.at(page).data;
        codec_->Encode(page, encoded_);
        WritePage(page, uint64_t(page) * page_size_, encoded_);
      } else {
        WritePage(page, uint64_t(page) * page_size_ + from,
                  {cache_.at(page).data->data() + from, to - from});
      }
    };
    log_->ForEachRange([&](uint32_t n, uint32_t offset, std::span<const uint8_t> bytes) {
      if (n != page) {
        flush();
        page = n;
        from = offset;
        to = offset;
      }
      from = std::min(from, offset);
      to = std::max(to, offset + uint32_t(bytes.size()));
    });
    flush();
    if (pages_ > stored_pages_) {
      file_->Truncate(uint64_t(pages_) * page_size_);
      stored_pages_ = pages_;
    }
    log_->Drop();
    MarkAllStored();
  }

  void RollbackLocked() {
    for (auto u = undo_.rbegin(); u != undo_.rend(); ++u) {
      Entry* entry = cache_.find(u->page);
      if (!entry) continue;
      if (!OnlyHolder(entry->data)) {
        std::shared_ptr<PageData> copy = FreshPage();
        std::memcpy(copy->data(), entry->data->data(), page_size_);
        entry->data = std::move(copy);
      }
      std::memcpy(entry->data->data() + u->offset, undo_bytes_.data() + u->at, u->length);
    }
    for (uint32_t n = save_pages_; n < pages_; ++n) {
      Entry* entry = cache_.find(n);
      if (!entry) continue;
      if (entry->changed)
        changed_pages_.erase(std::find(changed_pages_.begin(), changed_pages_.end(), n));
      else
        lru_.erase(entry->lru);
      cache_.erase(n);
    }
    pages_ = save_pages_;
    undo_.clear();
    undo_bytes_.clear();
    if (log_) log_->Drop();
    ++writes_;  // decoded copies of the pages are stale
  }

  // Rule 4. Returns false when readers kept it out (rule 11).
  bool CheckpointLocked(Wait wait = Wait::kAtBounds) {
    if (InSave()) CommitLocked();  // pages written outside a save
    if (lost_) throw *lost_;
    LogTheGroup();
    if (!atomic_) {
      file_->Sync();
      return true;
    }
    if (changed_pages_.empty() && (!log_ || log_->records() == 0)) return true;
    if (!TakeReadersByte(wait)) {
      DeferCheckpoint();
      return false;
    }
    struct LetReadersIn {
      int fd;
      ~LetReadersIn() {
        if (fd >= 0) Unlock(fd, LockByte::kRead);
      }
    } let_readers_in{lock_fd_};
    WaitForLogFolder();
    if (log_) log_->SyncForWriting();
    if (pages_ > stored_pages_) GiveRoomToFile();
    std::sort(changed_pages_.begin(), changed_pages_.end());
    WriteChangedPages();
    file_->Sync();
    const uint32_t grown_from = stored_pages_;
    stored_pages_ = std::max(stored_pages_, pages_);
    if (log_) log_->Reset(file_->Stamp(), file_->Size());
    if (log_storage_) log_file_size_ = log_storage_->Size();
    MarkAllStored(grown_from);
    last_checkpoint_ = Clock::now();
    checkpoint_due_ = false;
    return true;
  }

  // The changed pages (sorted) into the file, each stretch of consecutive
  // pages in one write. The pages the file grows by go first: nothing in
  // the file leads to them until the older pages follow, so meanwhile
  // another program sees the file of the last checkpoint with unused pages
  // after it. The older pages then leave it mixed (rule 4's window) only
  // for as long as they take.
  void WriteChangedPages() {
    const size_t split = size_t(
        std::lower_bound(changed_pages_.begin(), changed_pages_.end(), stored_pages_) -
        changed_pages_.begin());
    if (codec_) {
      auto write_encoded = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
          const uint32_t n = changed_pages_[i];
          const PageData& page = *cache_.at(n).data;
          std::span<const uint8_t> out = page;
          if (n != 0) {
            encoded_.assign(page.begin(), page.end());
            codec_->Encode(n, encoded_);
            out = encoded_;
          }
          WritePage(n, uint64_t(n) * page_size_, out);
        }
      };
      write_encoded(split, changed_pages_.size());
      Flush(kFlushFile);
      write_encoded(0, split);
      return;
    }
    WriteRuns(split, changed_pages_.size(), true);
    Flush(kFlushFile);
    WriteRuns(0, split, false);
  }

  // changed_pages_[from, to), each stretch of consecutive pages in one
  // write. Past the kernel's cache: pages the file grows by, which only a
  // recovery or a page this cache let go reads back (few new ones are:
  // full data pages). Through it, the device is handed each megabyte as it
  // is written, so that the sync that follows waits for less.
  void WriteRuns(size_t from, size_t to, bool past_cache) {
    std::vector<const uint8_t*>& run = write_run_;
    uint64_t unsent_from = 0, unsent_to = 0;
    uint64_t unflushed = 0;  // written straight to the device since the last flush
    for (size_t i = from; i < to;) {
      const uint32_t first = changed_pages_[i];
      run.clear();
      for (; i < to && changed_pages_[i] == first + run.size(); ++i)
        run.push_back(cache_.at(changed_pages_[i]).data->data());
      try {
        if (past_cache)
          file_->WriteAllPastCache(uint64_t(first) * page_size_, run.data(), run.size(),
                                   page_size_);
        else
          file_->WriteAll(uint64_t(first) * page_size_, run.data(), run.size(), page_size_);
      } catch (const Error& e) {
        throw Error(kErrIo, "cannot write page " + std::to_string(first) + " of file " +
                                path_ + ": " + e.what());
      }
      if (past_cache) {
        // Written straight to the device: flushed from its cache as the
        // writes go on.
        unflushed += run.size() * page_size_;
        if (unflushed >= kFlushStep) {
          unflushed = 0;
          Flush(kFlushFile);
        }
        continue;
      }
      if (unsent_to == unsent_from) unsent_from = uint64_t(first) * page_size_;
      unsent_to = (uint64_t(first) + run.size()) * page_size_;
      if (unsent_to - unsent_from >= kWritebackStep) {
        file_->StartWriteback(unsent_from, unsent_to - unsent_from);
        unsent_from = unsent_to;
      }
    }
    if (unsent_to > unsent_from) file_->StartWriteback(unsent_from, unsent_to - unsent_from);
  }

  void WritePage(uint32_t page_number, uint64_t offset, std::span<const uint8_t> bytes) {
    try {
      file_->Write(offset, bytes);
    } catch (const Error& e) {
      throw Error(kErrIo, "cannot write page " + std::to_string(page_number) + " of file " +
                              path_ + ": " + e.what());
    }
  }

  // The pages a checkpoint wrote join the evictable ones in the order they
  // were last written, the latest at the warm end: an append fills each
  // data page once and moves on, while the same index leaves, definitions
  // and usage maps are written save after save (in page order, the pages
  // appended since, which outnumber the cache, pushed the leaves out, and
  // each checkpoint was followed by reading them again). The data pages
  // the file grew by since the last checkpoint (pages >= grown_from) are
  // let go but for the last few written, which the next rows may still
  // fill: the others would only crowd the leaves out of the cache.
  void MarkAllStored(uint32_t grown_from = UINT32_MAX) {
    if (changed_pages_.empty()) return;
    by_last_write_.clear();
    size_t new_data_pages = 0;
    for (uint32_t n : changed_pages_) {
      by_last_write_.emplace_back(cache_.at(n).last_write, n);
      if (IsNewDataPage(n, grown_from)) ++new_data_pages;
    }
    std::sort(by_last_write_.begin(), by_last_write_.end());
    size_t let_go = new_data_pages > kNewDataPagesKept ? new_data_pages - kNewDataPagesKept : 0;
    for (const auto& [when, n] : by_last_write_) {
      Entry& entry = cache_.at(n);
      entry.changed = false;
      if (let_go > 0 && IsNewDataPage(n, grown_from)) {
        --let_go;
        if (OnlyHolder(entry.data) && spare_.size() < kSparePages)
          spare_.push_back(std::move(entry.data));
        cache_.erase(n);
        continue;
      }
      lru_.push_front(n);
      entry.lru = lru_.begin();
    }
    changed_pages_.clear();
    TrimCache();
  }

  // A data page (rows or long values) among the pages the file grew by
  // since grown_from.
  bool IsNewDataPage(uint32_t n, uint32_t grown_from) {
    return n >= grown_from && n != 0 && (*cache_.at(n).data)[0] == kDataPageType;
  }

  Entry& Remember(uint32_t page_number, std::shared_ptr<PageData> data, bool trim) {
    lru_.push_front(page_number);
    Entry& entry = cache_.insert(page_number);
    entry.data = std::move(data);
    entry.lru = lru_.begin();
    entry.changed = false;
    if (trim) TrimCache();
    return entry;
  }

  void TrimCache() {
    const size_t most = writing_ ? kWrittenFileCachePages : kCachePages;
    while (lru_.size() > most) {
      Entry& old = cache_.at(lru_.back());
      // A page nobody holds any more lends its buffer to the next one.
      if (OnlyHolder(old.data) && spare_.size() < kSparePages)
        spare_.push_back(std::move(old.data));
      cache_.erase(lru_.back());
      lru_.pop_back();
    }
  }

  // Whether the cache alone holds the page's bytes, so that it may change
  // them or take the buffer for another page. Another thread that let go
  // of them read them before: the fence orders that before what follows.
  static bool OnlyHolder(const std::shared_ptr<PageData>& page) {
    if (page.use_count() != 1) return false;
    std::atomic_thread_fence(std::memory_order_acquire);
    return true;
  }

  // A page-sized buffer for the cache, of an evicted page when there is one.
  std::shared_ptr<PageData> FreshPage() {
    while (!spare_.empty()) {
      std::shared_ptr<PageData> page = std::move(spare_.back());
      spare_.pop_back();
      if (page->size() == page_size_) return page;
    }
    return std::make_shared<PageData>(page_size_);
  }

  std::string path_;
  std::unique_ptr<Storage> file_;
  std::string log_path_;  // removed on the last close; empty for a caller's storage
  int removed_log_fd_ = -1;  // the log, removed: the last of its descriptors
  std::future<void> log_folder_synced_;  // the log's name on the device (FindLogAfterPowerLoss)
  int lock_fd_ = -1;        // file_'s descriptor, which holds its lock bytes; -1: no locks
  bool may_write_ = false;  // a connection opened it with write access
  bool writing_ = false;    // file_ is open for writing, the writer's byte held
  uint64_t read_stamp_ = 0;
  uint64_t reloads_ = 0;
  uint64_t waited_for_records_ = UINT64_MAX;
  mutable std::mutex mutex_;
  uint32_t page_size_ = 4096;
  // Not written here: the file's size as page_count() last looked at it.
  mutable uint64_t known_size_ = 0;
  mutable bool size_stale_ = true;
  std::shared_ptr<PageCodec> codec_;
  std::list<uint32_t> lru_;  // the pages in the file, most recent first
  PageTable<Entry> cache_;
  std::vector<uint32_t> changed_pages_;  // entries not yet in the file
  std::vector<std::shared_ptr<PageData>> spare_;
  std::vector<std::shared_ptr<PageData>> read_ahead_;
  uint32_t last_miss_ = UINT32_MAX;  // the last page read from the file
  // Writable files: the page counts, the log, the save under way.
  uint32_t pages_ = 0;         // with the saves since the last checkpoint
  uint32_t stored_pages_ = 0;  // in the file
  uint32_t save_pages_ = 0;    // before the save under way
  bool atomic_ = true;  // false: saves go straight into the file
  std::unique_ptr<Storage> log_storage_;
  std::unique_ptr<PageLog> log_;
  std::vector<UndoRange> undo_;
  std::vector<uint8_t> undo_bytes_;
  Clock::time_point last_checkpoint_;
  bool checkpoint_due_ = false;
  // Rule 14: the log's blocks reserved up to reserved_to_ (0: none); the
  // size of the log's file when the log was emptied.
  uint64_t reserved_to_ = 0;
  uint64_t log_file_size_ = 0;
  uint64_t writes_ = 0;
  PageData encoded_;
  PageData zeros_;  // a page of zeros, what an added page is compared with
  std::vector<const uint8_t*> write_run_;
  std::vector<std::pair<uint64_t, uint32_t>> by_last_write_;  // MarkAllStored's
  // Rule 2: the group of saves committed since the log's last record: its
  // pages in the order first changed, what its record will add to the log
  // about, its saves and when the first was committed.
  SaveGrouping grouping_;
  std::vector<uint32_t> group_pages_;
  uint64_t group_bytes_ = 0;
  size_t group_saves_ = 0;
  Clock::time_point group_started_;
  std::optional<Error> lost_;  // a group that could not be written
  std::thread group_thread_;
  // The writer thread and the record it writes (after the group thread, so
  // that it is made after the fields it reads).
  InFlight flight_;
  uint64_t flight_at_ = 0;
  uint64_t flight_salt_ = 0;
  // A record the writer thread makes itself (HandOverGroup): its pages,
  // the first flight_page_count_ of flight_pages_, and its place.
  std::vector<PageLog::PageRanges> flight_pages_;
  size_t flight_page_count_ = 0;
  PageLog::Placed flight_placed_;
  bool flight_made_here_ = false;
  AlignedBytes flight_record_;  // the writer thread's, for the records it makes
  size_t flight_saves_ = 0;
  std::optional<Error> flight_error_;  // set by the writer thread while kPending
  std::thread writer_thread_;
  // The flusher, the flushes asked of it, its own descriptors of the log
  // and the file, and what the writer thread wrote since it last asked.
  enum : int { kFlushLog = 1, kFlushFile = 2, kFlushStop = 4 };
  std::atomic<int> flush_due_{0};
  std::thread flusher_;
  int flush_fds_[2] = {-1, -1};
  uint64_t unflushed_ = 0;  // the writer thread's
  std::condition_variable group_wake_;
  bool stopping_ = false;
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
std::map<FileKey, std::weak_ptr<CachedPageFile>>& Registry() {
  static auto* registry = new std::map<FileKey, std::weak_ptr<CachedPageFile>>();
  return *registry;
}

}  // namespace

std::shared_ptr<PageFile> PageFile::Get(const std::string& path, bool writable,
                                        bool atomic_saves) {
  // Only a regular file can be a database. A folder, a device, a pipe (whose
  // open would wait for a writer) or a link to nothing is refused as what it
  // is; "could not find file" is kept for a name with nothing behind it.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int error = errno;
    struct stat link {};
    if (error == ENOENT && ::lstat(path.c_str(), &link) != 0)
      throw Error(kErrFileNotFound, "could not find file " + path);
    if (error == ENOENT)
      throw Error(kErrUnrecognisedFormat, path + " is not a database file (a link to nothing)");
    throw Error(kErrIo, "cannot open file " + path + ": " + std::strerror(error));
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
  std::shared_ptr<CachedPageFile> existing = slot.lock();
  if (existing) {
    if (writable) existing->AllowWriting(atomic_saves);
    return existing;
  }
  // Write access waits for the first write (rule 11).
  const int fd = OpenForReading(path);
  auto made = std::make_shared<CachedPageFile>(path, PosixStorage(path, fd, false), atomic_saves,
                                               nullptr, LogPathFor(path), fd, writable,
                                               kGroupingOnDisk);
  slot = made;
  return made;
}

size_t PageFile::ReadOnce(uint32_t first, uint8_t* const* pages, size_t count) {
  for (size_t k = 0; k < count; ++k) {
    if (first + k >= page_count()) return k;
    PagePtr page = Read(first + uint32_t(k));
    std::memcpy(pages[k], page->data(), page_size());
  }
  return count;
}

void PageFile::LogPendingSaves() {
  std::vector<std::shared_ptr<CachedPageFile>> files;
  {
    std::lock_guard lock(registry_mutex);
    for (auto& [key, file] : Registry())
      if (auto open = file.lock()) files.push_back(std::move(open));
  }
  for (auto& file : files) {
    try {
      file->LogPending();
    } catch (...) {
      // The groups written before stay in the log.
    }
  }
}

std::shared_ptr<PageFile> PageFile::Over(std::unique_ptr<Storage> file,
                                         std::unique_ptr<Storage> log, SaveGrouping grouping) {
  if (log) Recover(*file, *log);
  if (!file->writable()) log.reset();
  std::string path = file->path();
  const bool atomic_saves = log != nullptr;
  return std::make_shared<CachedPageFile>(std::move(path), std::move(file), atomic_saves,
                                          std::move(log), "", -1, false, grouping);
}

}  // namespace corvalin::engine
