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
//  2. Saves are logged in groups: a group is the saves committed since the
//     log's last record, and its changes are, for each page, the byte
//     ranges any of them changed, taken from the page cache when the group
//     is written (a range that several saves changed is logged once, as the
//     last one left it). A group becomes ONE record appended to the log
//     with one write: a head (length, the file's page count, a sequence
//     number), the ranges, and a 64-bit checksum over the log's salt, the
//     head and the ranges that ends it and so marks it complete. A group is
//     written only between saves, so a record holds whole saves. It is
//     written when it reaches its bounds (a few hundredths of a second
//     since its first save, or 16 MB: a thread of the page
//     file writes it then when no save comes), and at every sync point and
//     checkpoint. When that write returns, the group's saves survive the
//     end of the process (the kernel holds the bytes); nothing is synced.
//     A group that cannot be written (an I/O error) is lost with its saves:
//     the error is the current save's, the file refuses later saves, and
//     the log keeps the groups written before it for the next open.
//     A file on disk hands each group to a thread of its own, which makes
//     the record (copying the ranges from the pages as the group left them:
//     it holds those pages, so a later save that changes one changes a copy)
//     and writes it while the saves go on; the record's place in the log is
//     taken when it is handed over, so records stay in order. The log's
//     file takes a record's whole blocks past the kernel's cache (storage.h:
//     only a recovery reads them); such a write returns once the device
//     has the bytes, so the rule above holds as it stands.
//  3. Until the next checkpoint the changed pages live only in the page
//     cache, pinned there (a changed page is never evicted). The database
//     file keeps the bytes of the last checkpoint.
//  4. A checkpoint, in this order: mark the log's head "writing the file";
//     sync the log; write every changed page into the database file (the
//     pages it grows by first, then the older ones, each in page order);
//     sync the database file; then empty the log (a new head
//     with a new salt and the file's new stamp; the next records overwrite
//     the old ones) and sync it.
//     The database file is written only after the log that can redo it is
//     on the device, and the log is emptied only after the database file
//     holds all it redoes.
//  5. Checkpoints are the sync points: the close of a file by its last
//     connection (which then removes the log; readers may put a checkpoint
//     off, rule 11), a Sync call, and the first
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
//     one, whatever order the device wrote blocks in. A log just made
//     holds no earlier records: its head reaches the device with the first
//     records, at the first sync point, and its name (the folder synced, by
//     a thread while the first saves go on) before that sync.
//  8. A file that needs recovery and cannot be written is not opened: the
//     error says so, and nothing is read from the torn file.
//  9. A log applies only to the file it was written for: its head holds
//     the file's stamp (size and modification time) and its size as the
//     last checkpoint left them, and a log whose stamp is not the file's (a
//     file copied over, or changed by another program since) is removed
//     unread. A head that says the file was being written from it (rule 4;
//     recovery marks it so too before it writes, so a recovery cut short is
//     taken up) stands for the file while the file's size lies between its
//     size at the stamp and the size the log's records give it: a
//     checkpoint or recovery cut short leaves the size there, since the
//     file only grows, page by page, as they write. A file put in its place
//     with any other size is another one, and such a log is removed unread
//     too.
// 10. Sharing a file between processes goes by two advisory OFD byte-range
//     locks on bytes 2^40 and 2^40 + 1 of the database file, past any data
//     it can hold, so they never touch a page: the WRITER byte, held
//     exclusive by the one process that writes the file, from its first
//     write to its close; and the READ byte, held shared by every reader
//     for its life and exclusive by a checkpoint (rule 4) or a recovery
//     (rule 6) while it writes the file. Within a process the PageFile is
//     one per file, so a reader and a writer there share it and its locks
//     and never wait for each other.
// 11. A writer opens the file for reading like any reader; its first write
//     reopens it for writing, takes the WRITER byte (refused, naming the
//     file, when another process holds it), lets its READ byte go and
//     applies a log that a writer now gone left (waiting for readers to
//     let the READ byte go). A file never written is never opened for
//     writing: a read-only file is a fine source. A checkpoint takes the
//     READ byte exclusive without waiting; when readers hold it, the
//     checkpoint is put off: at the once-a-second sync point the log is
//     synced instead (the saves are then as lasting as after a checkpoint:
//     a recovery redoes them) and saves go on into the log. Only past the
//     bounds of rule 5 (changed pages held, log size) does the writer wait
//     for readers to leave: a minute at most, then the save is refused
//     (two processes each reading what the other writes would otherwise
//     wait for each other for ever). A close (or Sync) waits for them a few
//     seconds, then leaves the synced log for the next open to apply.
// 12. A reader's open: when the log holds saves and nobody holds the WRITER
//     byte, it recovers the file first (taking the WRITER byte and the READ
//     byte exclusive; with other readers present it waits for them only
//     when a checkpoint was cut short, else it reads the file as the last
//     checkpoint left it). Then it takes the READ byte shared, waiting at
//     most for a checkpoint under way. Holding it, a log still marked
//     "writing the file" (a checkpoint cut short) sends it back to recover
//     first. So a reader sees the file as of some checkpoint, never a
//     checkpoint half done, and never waits longer than one checkpoint.
// 13. A PageFile over storage a caller provides takes no locks.
// 14. A full disk never strands a save in the log. A checkpoint must grow
//     the file by the pages that the saves since the last one added, and a
//     recovery the same; on a full disk neither could, and the file would
//     stay unopenable until room was made. So before a save ends, the log
//     reserves past its end (fallocate, keeping its size) the blocks its
//     group will take in the log and those the pages added since the last
//     checkpoint will take in the file, with some to spare; when the
//     device has no room for them the save is refused whole, and a group
//     never meets a full disk. A checkpoint that
//     grows the file, and a recovery, first give those blocks back (the
//     log is cut at its own size), then write the file into them.
//
// What this gives: after the end of the process at any instant, the file
// holds every save whose group was written (every save that returned more
// than a group's wait before); after a power loss, every save up to the
// last sync point and then an exact prefix of the later ones.
// Either way the rows are the old ones plus an exact prefix of the added
// ones, in order.
//
// The log's layout (little-endian):
//
//   offset  size  contents
//   0       8     "CrvlLog2"
//   8       4     page size
//   12      4     1 while the file is being written from the log, else 0
//   16      8     salt
//   24      8     the file's stamp when the log was emptied (rule 9)
//   32      8     the file's size in bytes then (rule 9)
//   40      8     checksum of bytes 0..39 (seeded with 0)
//   48      ...   records, one after another
//
// A log of the first layout ("CrvlLog1", left by an earlier version of the
// program) has no size: its checksum is at 32 and its records start at 40.
// It is still recovered, its head's "writing" mark taken as it stands.
//
//   record  size  contents
//   0       4     length of the ranges part in bytes
//   4       4     the file's page count after the save
//   8       8     sequence number: 1 for the first record after the head
//   16      n     ranges: page (4), offset in the page (2), length (2), bytes
//   16 + n  8     checksum of the salt, bytes 0 .. 16 + n of the record
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "db/engine/format/page_file.h"
#include "db/engine/format/storage.h"

namespace corvalin::engine {

// The log of the database file at path lives at LogPathFor(path).
std::string LogPathFor(const std::string& database_path);

class PageLog {
 public:
  // Takes over the log in storage: empties it and writes a new head for
  // pages of page_size bytes of a file with stamp and file_size (rules 7
  // and 9). Without storage the log only gathers a save's ranges (saves
  // written straight into the file).
  PageLog(Storage* storage, uint32_t page_size, uint64_t stamp, uint64_t file_size);

  // The record being built: a range of the save's bytes.
  void Add(uint32_t page, uint32_t offset, std::span<const uint8_t> bytes);
  bool pending() const { return used_ > kRecordHead; }
  // Calls f(page, offset, bytes) for each range of the record being built.
  template <typename F>
  void ForEachRange(F&& f) const;

  // Appends the record (rule 2) and starts the next. Throws Error; the log
  // is then as it was before the record.
  void Append(uint32_t page_count);
  // Ends the record as Append does, but hands it over to be written by the
  // caller at the offset returned: the record's bytes are swapped into
  // `out`, and the log counts them as written. The caller puts in its
  // checksum (SumRecord with salt(), on whichever thread writes it) and
  // writes it before the log is synced or emptied; a record that fails to
  // be written leaves the log to be recovered as it is (its checksum marks
  // it torn).
  uint64_t Seal(uint32_t page_count, std::vector<uint8_t>& out);
  // The checksum of a sealed record, into its last 8 bytes.
  static void SumRecord(std::span<uint8_t> record, uint64_t salt);

  // A record made away from the log, on the thread that writes it: Place
  // counts it as written (as Seal does, with nothing being built) from the
  // bytes its ranges take, heads included; BuildRecord then makes its bytes
  // from the pages, and the caller writes them at `at` under Seal's terms.
  struct PageRanges {
    uint32_t page = 0;
    PagePtr bytes;  // let go once copied
    std::vector<std::pair<uint32_t, uint32_t>> ranges;   // [from, to), in order
  };
  struct Placed {
    uint64_t at = 0;
    uint64_t sequence = 0;
    uint64_t salt = 0;
    uint32_t page_count = 0;
    uint64_t range_bytes = 0;
  };
  Placed Place(uint32_t page_count, uint64_t range_bytes);
  // The record's length in bytes; BuildRecord fills `out` of that length.
  static size_t RecordSize(const Placed& placed) { return kRecordHead + placed.range_bytes + 8; }
  static void BuildRecord(const Placed& placed, std::span<PageRanges> pages, std::span<uint8_t> out);
  // The salt of the records written since the log was last emptied.
  uint64_t salt() const { return salt_; }
  // Forgets the record being built.
  void Drop() { used_ = kRecordHead; }

  // Bytes in the log and records since it was emptied.
  uint64_t size() const { return end_; }
  uint64_t records() const { return sequence_; }

  // Rule 4's first steps: marks the head and syncs the log.
  void SyncForWriting();
  // Empties the log for a file now of stamp and file_size (rule 4's last
  // step, rule 7).
  void Reset(uint64_t stamp, uint64_t file_size, bool sync = true);

  static constexpr size_t kHead = 48;
  static constexpr size_t kRecordHead = 16;
  static constexpr size_t kRangeHead = 8;

 private:
  // Takes `more` bytes at the end of the record being built.
  void Room(size_t more);
  // Puts the head and (unless left to SumRecord) the checksum around the
  // ranges of the record being built; returns the length of its head and
  // ranges.
  size_t Finish(uint32_t page_count, bool sum = true);

  Storage* storage_;
  uint32_t page_size_;
  uint64_t salt_ = 0;
  uint64_t stamp_ = 0;
  uint64_t file_size_ = 0;
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
  bool size_known = false;     // false in a log of the first layout
  uint64_t file_size = 0;      // of the file at the stamp
  uint32_t most_pages = 0;     // the largest page count of the records
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
