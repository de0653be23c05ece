// The pages one save changes, held until the save is complete and then
// handed to the page file as one save, which its log makes atomic
// (page_log.h). They go in an order that would keep the file readable at
// every step even without the log (benchmarks switch it off): new pages
// first (nothing points to them yet), then the changed pages in the order
// they were first changed, so the caller decides what goes last (the table
// definition with its row count).
//
// This is where two of the write rules (table_writer.h) are kept: rule 1,
// as no page reaches the file before Commit and Discard drops them all,
// and rule 2, by the order Commit writes in.
//
// A set used for save after save (a table writer's) keeps the pages it
// committed, up to kKeptPages of them (a page whose number falls on the
// same place as a newer one's makes way): they hold exactly what the file
// holds for as long as nobody else writes to it, so a later save that
// views or changes one of them neither reads nor copies it. Rows appended
// come back to the same data, definition and long value pages, and keys in
// no order to the same few hundred index leaves. The file's write count (and its count
// of reloads, for a change by another process) tells when they go stale;
// they are dropped then, and after a failed save. It is looked at once per
// save: from a save's first View or Modify to its Commit or Discard nobody
// else writes the file (what the save viewed would be stale too).
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "db/engine/format/page_file.h"

namespace corvalin::engine {

// The most pages an Access file may have, whatever its page size: 2 GB of
// 4 KB pages (Jet4, ACE), 1 GB of 2 KB pages (Access 97). Access cannot open
// a larger file, so no save makes a file grow past it.
inline constexpr uint32_t kMostPages = 524288;

class PageWriteSet {
 public:
  explicit PageWriteSet(PageFile& file) : file_(file) {}

  PageFile& file() const { return file_; }

  // The page as this save sees it (its own changes included).
  const PageData& View(uint32_t page_number);

  // A changeable copy of the page, written at Commit.
  PageData& Modify(uint32_t page_number);
  // The same, for a caller that changes only bytes `changes` of it: it
  // calls this for each part it changes (before or after changing it), so
  // that Commit hands the file only those. A page also changed through
  // Modify without a range is handed over whole.
  PageData& Modify(uint32_t page_number, ByteRange changes);

  // A new zero-filled page after the last page of the file (or after the
  // pages this save already added). Throws Error kErrDatabaseFull, naming
  // the file and the limit, when the file would grow past kMostPages.
  uint32_t Allocate();
  // The pages allocated by this save, in order.
  const std::vector<uint32_t>& allocated() const { return allocated_; }
  bool IsNew(uint32_t page_number) const;

  // Writes every page as one save (all or nothing). After Commit the set
  // is empty and can be reused; after a failure the file is as it was.
  void Commit();
  // Forgets every change (nothing has been written).
  void Discard();
  bool empty() const { return changed_.empty(); }

 private:
  // A changed page. Slots and their buffers are kept from save to save, so
  // a save allocates nothing; references to a slot's bytes stay valid for
  // the whole save. A save changes a handful of pages, so lookups are
  // linear.
  struct Slot {
    uint32_t number = 0;
    PageData bytes;
    // What this save changed: every byte, or the ranges, sorted and apart.
    bool whole = false;
    std::vector<ByteRange> changes;
  };
  using Slots = std::vector<std::unique_ptr<Slot>>;
  // Committed pages kept for later saves: page n in place n % kKeptPages.
  static constexpr size_t kKeptPages = 1024;
  // Past this many ranges, a page is handed over whole.
  static constexpr size_t kMostRanges = 8;

  Slot* Find(uint32_t page_number);
  // The save's slot for an existing page, made on first use.
  Slot& Change(uint32_t page_number);
  // The place of the kept page page_number, or null (dropping them all
  // first when stale).
  std::unique_ptr<Slot>* FindKept(uint32_t page_number);
  Slot& NewSlot();
  void DropKept();

  PageFile& file_;
  Slots changed_;  // this save's, in the order first changed
  Slots kept_;     // kKeptPages places once a save was committed, some empty
  // The page each place of kept_ holds, or kNoPage: a look-up that misses
  // reads this table only, not the slot.
  static constexpr uint32_t kNoPage = UINT32_MAX;
  std::vector<uint32_t> kept_numbers_;
  size_t kept_count_ = 0;
  Slots spare_;
  uint64_t kept_writes_ = 0;   // the file's write count when kept_ was right
  uint64_t kept_reloads_ = 0;  // and its reload count
  bool kept_checked_ = false;  // by this save
  std::vector<uint32_t> allocated_;  // new pages
  std::vector<std::pair<uint32_t, PagePtr>> viewed_;
};

}  // namespace corvalin::engine
