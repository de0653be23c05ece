// Every save atomic: the log of saves beside a database file.
//
// A save (one record with its long values, index entries, usage maps and
// table-definition counters) changes a handful of pages. Written into the
// database file one after another, a save cut short by the end of the
// process or a power loss would leave the file torn: a row that no index
// knows, an index split half done. So the database file is never written
// during a save. The rules:
//
//  1. A save's changes are the byte ranges in which its pages differ from
//     their cached images, in the bytes the file stores (after the page
//     codec: the log never holds the plain text of an encrypted file; such
//     a page is logged whole, since one changed byte changes its cipher).
//  2. At the end of a save its ranges become ONE record appended to the log
//     with one write: a head (length, the file's page count, a sequence
//     number), the ranges, and a 64-bit checksum over the log's salt, the
//     head and the ranges that ends it and so marks it complete. When that
//     write returns, the save survives the end of the process (the kernel
//     holds the bytes); nothing is synced.
//  3. Until the next checkpoint the changed pages live only in the page
//     cache, pinned there (a changed page is never evicted). The database
//     file keeps the bytes of the last checkpoint.
//  4. A checkpoint, in this order: mark the log's head "writing the file";
//     sync the log; write every changed page into the database file, in
//     page order; sync the database file; then empty the log (a new head
//     with a new salt and the file's new stamp; the next records overwrite
//     the old ones) and sync it.
//     The database file is written only after the log that can redo it is
//     on the device, and the log is emptied only after the database file
//     holds all it redoes.
//  5. Checkpoints are the sync points: the close of a file by its last
//     connection (which then removes the log), a Sync call, and the first
//     save after one second since the last checkpoint, or after the log or
//     the set of changed pages grew past its bound (memory stays flat).
//  6. Recovery, before anything of the file is read, whenever a log with
//     complete records lies beside it and no live writer holds the file's
//     lock: the records are applied to the database file in order, from the
//     first one on, stopping at the first record whose head, sequence
//     number, salt or checksum is wrong (it and everything after it are a
//     save cut short, or stale bytes of an earlier log); then the database
//     file is synced and the log emptied. Applying a record sets bytes to
//     the values they had after that save, so applying a prefix again (a
//     recovery cut short) gives the same file.
//  7. The salt changes each time the log is emptied and is synced with the
//     log's head before any record of the new generation is written, so a
//     record left from an earlier generation never passes as a current
//     one, whatever order the device wrote blocks in.
//  8. A file that needs recovery and cannot be written is not opened: the
//     error says so, and nothing is read from the torn file.
//  9. A log applies only to the file it was written for: its head holds
//     the file's stamp (size and modification time) as the last checkpoint
//     left it, and a log whose stamp is not the file's (a file copied over,
//     or changed by another program since) is removed unread, unless its
//     head says the file was being written from it (rule 4; recovery marks
//     it so too before it writes, so a recovery cut short is taken up).
//
// What this gives: after the end of the process at any instant, the file
// holds every save whose log write returned; after a power loss, every save
// up to the last sync point and then an exact prefix of the later ones.
// Either way the rows are the old ones plus an exact prefix of the added
// ones, in order.
//
// The log's layout (little-endian):
//
//   offset  size  contents
//   0       8     "CrvlLog1"
//   8       4     page size
//   12      4     1 while the file is being written from the log, else 0
//   16      8     salt
//   24      8     the file's stamp when the log was emptied (rule 9)
//   32      8     checksum of bytes 0..31 (seeded with 0)
//   40      ...   records, one after another
//
//   record  size  contents
//   0       4     length of the ranges part in bytes
//   4       4     the file's page count after the save
//   8       8     sequence number: 1 for the first record after the head
//   16      n     ranges: page (4), offset in the page (2), length (2), bytes
//   16 + n  8     checksum of the salt, bytes 0 .. 16 + n of the record
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "db/engine/format/storage.h"

namespace corvalin::engine {

// The log of the database file at path lives at LogPathFor(path).
std::string LogPathFor(const std::string& database_path);

class PageLog {
 public:
  // Takes over the log in storage: empties it and writes a new head for
  // pages of page_size bytes of a file with stamp (rule 7). Without
  // storage the log only gathers a save's ranges (saves written straight
  // into the file).
  PageLog(Storage* storage, uint32_t page_size, uint64_t stamp);

  // The record being built: a range of the save's bytes.
  void Add(uint32_t page, uint32_t offset, std::span<const uint8_t> bytes);
  bool pending() const { return used_ > kRecordHead; }
  // Calls f(page, offset, bytes) for each range of the record being built.
  template <typename F>
  void ForEachRange(F&& f) const;

  // Appends the record (rule 2) and starts the next. Throws Error; the log
  // is then as it was before the record.
  void Append(uint32_t page_count);
  // Forgets the record being built.
  void Drop() { used_ = kRecordHead; }

  // Bytes in the log and records since it was emptied.
  uint64_t size() const { return end_; }
  uint64_t records() const { return sequence_; }

  // Rule 4's first steps: marks the head and syncs the log.
  void SyncForWriting();
  // Empties the log for a file now of stamp (rule 4's last step, rule 7).
  void Reset(uint64_t stamp);

  static constexpr size_t kHead = 40;
  static constexpr size_t kRecordHead = 16;
  static constexpr size_t kRangeHead = 8;

 private:
  // Takes `more` bytes at the end of the record being built.
  void Room(size_t more);

  Storage* storage_;
  uint32_t page_size_;
  uint64_t salt_ = 0;
  uint64_t stamp_ = 0;
  uint64_t sequence_ = 0;
  uint64_t end_ = kHead;
  // The record being built is its first used_ bytes; the buffer only grows,
  // so that a save neither allocates nor clears.
  std::vector<uint8_t> record_;
  size_t used_ = kRecordHead;
};

// The complete records at the start of the log in storage (rule 6), and the
// page size they are for.
struct LoggedSaves {
  uint64_t records = 0;
  uint32_t page_size = 0;
  bool writing = false;  // the file was being written from the log
  uint64_t stamp = 0;    // of the file, unless writing
};
LoggedSaves FindLoggedSaves(Storage& log);

// Rule 9: whether the saves in log are to be applied to file.
bool LogIsForFile(const LoggedSaves& saves, Storage& file);

// Applies the complete records of log to file and syncs file (rule 6),
// after marking the log's head (when the log can be written). Returns the
// records applied. Throws Error kErrIo on a failed write.
uint64_t ReplayLog(Storage& log, Storage& file);

// A 64-bit checksum of bytes, chained through seed.
uint64_t LogChecksum(uint64_t seed, std::span<const uint8_t> bytes);

template <typename F>
void PageLog::ForEachRange(F&& f) const {
  for (size_t at = kRecordHead; at + kRangeHead <= used_;) {
    const uint8_t* p = record_.data() + at;
    const uint32_t page = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                          uint32_t(p[3]) << 24;
    const uint32_t offset = uint32_t(p[4]) | uint32_t(p[5]) << 8;
    const uint32_t length = uint32_t(p[6]) | uint32_t(p[7]) << 8;
    f(page, offset, std::span<const uint8_t>(p + kRangeHead, length));
    at += kRangeHead + length;
  }
}

}  // namespace corvalin::engine
