// The one seam through which every page of a database file is read and
// written. One PageFile exists per open file in the process (looked up by
// device and inode), so that every connection to the same file shares its
// page cache and sees the others' writes. Encryption (a page codec) and
// crash safety are layered here and nowhere else: a save's pages go to the
// log beside the file as one record and reach the file itself only at a
// checkpoint (page_log.h holds the rules), and an open finds and completes
// the saves a crash left in the log before anything is read. Lock bytes let
// one process write a file while others read it, each reader seeing it as
// some checkpoint left it (rules 10 to 13).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "db/engine/format/page_pool.h"
#include "db/engine/format/storage.h"

namespace corvalin::engine {

// A page as read from the file (decoded when the file is encoded), owned by
// the cache; holders keep it alive while they read it. Its bytes come from
// the slabs of page buffers.
using PageData = std::vector<uint8_t, PageAllocator<uint8_t>>;
using PagePtr = std::shared_ptr<const PageData>;

// Bytes [from, to) of a page.
struct ByteRange {
  uint32_t from = 0;
  uint32_t to = 0;
  bool operator==(const ByteRange&) const = default;
};

// Turns stored page bytes into plain ones and back (RC4 and Office
// encryption plug in here).
class PageCodec {
 public:
  virtual ~PageCodec() = default;
  virtual void Decode(uint32_t page_number, std::span<uint8_t> page) const = 0;
  virtual void Encode(uint32_t page_number, std::span<uint8_t> page) const = 0;
};

// How committed saves are gathered into the log's records (page_log.h,
// rule 2): a record is written when it holds most_saves saves or about
// most_bytes bytes, or when its first save is most_wait old (zero: no time
// bound), and at every sync point; by a thread of its own while saves go
// on when background_writer is set.
struct SaveGrouping {
  size_t most_saves = 1;
  uint64_t most_bytes = uint64_t(1) << 20;
  std::chrono::milliseconds most_wait{0};
  bool background_writer = false;
};

class PageFile {
 public:
  // The process-wide PageFile of the file at path (opened on first use).
  // The file is opened for reading, whether or not writable; writable lets
  // the first write (BeginWrite) take write access. A log left beside the
  // file by a writer no longer alive is applied first (page_log.h, rule 6);
  // when the file cannot be written then, the open fails with kErrReadOnly.
  // An open waits for a checkpoint under way in another process.
  // atomic_saves = false (benchmarks only) writes each save straight into
  // the file, without the log; the first writable open of a file decides.
  // Throws Error: file not found, needs recovery but is read-only, I/O
  // error.
  static std::shared_ptr<PageFile> Get(const std::string& path, bool writable,
                                       bool atomic_saves = true);

  // A PageFile over storage a caller provides (tests put files of their own
  // under it). With a log, saves are atomic and a log holding saves is
  // applied first, as Get does. Writable when file is. It takes no locks
  // (page_log.h, rule 13).
  // Saves are grouped as `grouping` says (by default each is a record of
  // its own, written before Commit returns).
  static std::shared_ptr<PageFile> Over(std::unique_ptr<Storage> file,
                                        std::unique_ptr<Storage> log,
                                        SaveGrouping grouping = {});
  virtual ~PageFile() = default;

  virtual const std::string& path() const = 0;
  virtual uint32_t page_size() const = 0;
  virtual uint32_t page_count() const = 0;

  // Set once the header has told the page size and the codec.
  virtual void Configure(uint32_t page_size, std::shared_ptr<PageCodec> codec) = 0;

  // Reads page n through the cache. Throws Error "damaged page N of file F"
  // when the page lies beyond the end of the file.
  virtual PagePtr Read(uint32_t page_number) = 0;

  // Reads raw bytes from the start of the file (the header, before the
  // page size is known).
  virtual std::vector<uint8_t> ReadPrefix(size_t length) = 0;

  // Reads `count` pages from `first` into pages[0..count) (each page_size()
  // bytes), each as Read gives it, without entering them into the cache:
  // for a walk through pages read once (a table's rows), which would only
  // push out of the cache the pages read again and again. Returns the
  // number of whole pages read: fewer when the file ends before.
  virtual size_t ReadOnce(uint32_t first, uint8_t* const* pages, size_t count);

  // The write side. Only a PageFile got with writable = true (or by a later
  // writable Get) accepts them; the others throw Error.
  virtual bool writable() const = 0;

  // Takes write access, before a save reads the pages it will change
  // (rule 11): reopens the file for writing under the writer's lock, kept
  // until the PageFile goes, and applies a log left by a writer now gone.
  // Does nothing once done. Throws Error: kErrReadOnly when not writable or
  // the file cannot be written; kErrFileLocked, naming the file, when
  // another process writes it; I/O error.
  virtual void BeginWrite() {}
  // Counts the times write access found the file changed since it was read
  // (the cache was dropped): whatever was decoded from it before is stale.
  virtual uint64_t reloads() const { return 0; }

  // Replaces page n (n <= page_count(): n == page_count() extends the file
  // by one page). Takes write access first when BeginWrite was not called. The cache takes the new bytes at once, and every reader
  // of this PageFile sees them; they are part of the save that the next
  // Commit ends. Throws Error on an I/O failure.
  virtual void Write(uint32_t page_number, std::span<const uint8_t> page) = 0;
  // The same for an existing page of which the writer changed no bytes
  // outside `changed` (sorted, apart): the others need not be looked at.
  virtual void WriteChanged(uint32_t page_number, std::span<const uint8_t> page,
                            std::span<const ByteRange> changed) {
    (void)changed;
    Write(page_number, page);
  }

  // Counts the Write calls so far: a holder of something decoded from
  // pages knows nobody wrote in between when the count has not moved.
  virtual uint64_t write_count() const = 0;

  // Ends a save: the pages written since the last Commit reach the file
  // together or not at all. The save survives the end of the process once
  // its group is in the log: a file on disk writes it at most a few
  // hundredths of a second after Commit returns (rule 2). Throws Error on
  // an I/O failure, after a Rollback.
  virtual void Commit() {}
  // Forgets the pages written since the last Commit (a save given up).
  virtual void Rollback() {}

  // Writes the group of saves not yet in the log of every file the process
  // has open (rule 2), for a program about to end at once: nothing it saved
  // is lost then. A save under way is left out.
  static void LogPendingSaves();

  // A sync point: every committed save reaches the storage device and the
  // file itself (a checkpoint). Done on close too. While readers in other
  // processes hold the file, it waits a few seconds for them and then
  // syncs the log instead (rule 11): the saves are as lasting, and the next
  // open applies them.
  virtual void Sync() = 0;
};

}  // namespace corvalin::engine
