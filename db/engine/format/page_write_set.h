// The pages one save changes, held until the save is complete and then
// written in an order that keeps the file readable at every step: new pages
// first (nothing points to them yet), then the changed pages in the order
// they were first changed, so the caller decides what goes last (the table
// definition with its row count).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "db/engine/format/page_file.h"

namespace corvalin::engine {

class PageWriteSet {
 public:
  explicit PageWriteSet(PageFile& file) : file_(file) {}

  PageFile& file() const { return file_; }

  // The page as this save sees it (its own changes included).
  const PageData& View(uint32_t page_number);

  // A changeable copy of the page, written at Commit.
  PageData& Modify(uint32_t page_number);

  // A new zero-filled page after the last page of the file (or after the
  // pages this save already added).
  uint32_t Allocate();
  // The pages allocated by this save, in order.
  const std::vector<uint32_t>& allocated() const { return allocated_; }
  bool IsNew(uint32_t page_number) const;

  // Writes every page. After Commit the set is empty and can be reused.
  void Commit();
  // Forgets every change (nothing has been written).
  void Discard();
  bool empty() const { return pages_.empty(); }

 private:
  PageFile& file_;
  std::map<uint32_t, PageData> pages_;
  std::vector<uint32_t> order_;      // changed existing pages, first change first
  std::vector<uint32_t> allocated_;  // new pages
  std::map<uint32_t, PagePtr> viewed_;
};

}  // namespace corvalin::engine
