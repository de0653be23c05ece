#include "db/engine/format/page_write_set.h"

#include <algorithm>

#include "db/engine/error.h"

namespace corvalin::engine {

const PageData& PageWriteSet::View(uint32_t page_number) {
  auto it = pages_.find(page_number);
  if (it != pages_.end()) return it->second;
  auto seen = viewed_.find(page_number);
  if (seen != viewed_.end()) return *seen->second;
  PagePtr page = file_.Read(page_number);
  return *viewed_.emplace(page_number, std::move(page)).first->second;
}

PageData& PageWriteSet::Modify(uint32_t page_number) {
  auto it = pages_.find(page_number);
  if (it != pages_.end()) return it->second;
  PageData copy = View(page_number);
  viewed_.erase(page_number);
  order_.push_back(page_number);
  return pages_.emplace(page_number, std::move(copy)).first->second;
}

uint32_t PageWriteSet::Allocate() {
  uint32_t number = file_.page_count() + static_cast<uint32_t>(allocated_.size());
  // Access files end at 2 GB; 4 KB pages give 524,288 of them.
  if (number >= (1u << 24) - 1)
    throw Error(kErrIo, "file " + file_.path() + " is at its largest size");
  allocated_.push_back(number);
  pages_.emplace(number, PageData(file_.page_size(), 0));
  return number;
}

bool PageWriteSet::IsNew(uint32_t page_number) const {
  return std::find(allocated_.begin(), allocated_.end(), page_number) !=
         allocated_.end();
}

void PageWriteSet::Commit() {
  for (uint32_t n : allocated_) file_.Write(n, pages_.at(n));
  for (uint32_t n : order_) file_.Write(n, pages_.at(n));
  Discard();
}

void PageWriteSet::Discard() {
  pages_.clear();
  order_.clear();
  allocated_.clear();
  viewed_.clear();
}

}  // namespace corvalin::engine
