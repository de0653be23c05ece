#include "db/engine/format/page_write_set.h"

#include <algorithm>
#include <string>

#include "db/engine/error.h"

namespace corvalin::engine {

PageWriteSet::Slot* PageWriteSet::Find(uint32_t page_number) {
  for (size_t i = 0; i < used_; ++i)
    if (slots_[i]->number == page_number) return slots_[i].get();
  return nullptr;
}

const PageData& PageWriteSet::View(uint32_t page_number) {
  if (Slot* slot = Find(page_number)) return slot->bytes;
  for (const auto& [number, page] : viewed_)
    if (number == page_number) return *page;
  viewed_.emplace_back(page_number, file_.Read(page_number));
  return *viewed_.back().second;
}

PageData& PageWriteSet::Modify(uint32_t page_number) {
  if (Slot* slot = Find(page_number)) return slot->bytes;
  // View keeps the file's page alive (in viewed_) while it is copied.
  const PageData& source = View(page_number);
  if (used_ == slots_.size()) slots_.push_back(std::make_unique<Slot>());
  Slot& slot = *slots_[used_++];
  slot.number = page_number;
  slot.bytes.assign(source.begin(), source.end());
  return slot.bytes;
}

uint32_t PageWriteSet::Allocate() {
  uint32_t number = file_.page_count() + static_cast<uint32_t>(allocated_.size());
  if (number >= kMostPages) {
    const uint64_t limit_gb = uint64_t(kMostPages) * file_.page_size() >> 30;
    throw Error(kErrDatabaseFull, "this record cannot be saved: " + file_.path() +
                                      " would grow past the " + std::to_string(limit_gb) +
                                      " GB that an Access database can hold");
  }
  allocated_.push_back(number);
  if (used_ == slots_.size()) slots_.push_back(std::make_unique<Slot>());
  Slot& slot = *slots_[used_++];
  slot.number = number;
  slot.bytes.assign(file_.page_size(), 0);
  return number;
}

bool PageWriteSet::IsNew(uint32_t page_number) const {
  return std::find(allocated_.begin(), allocated_.end(), page_number) !=
         allocated_.end();
}

void PageWriteSet::Commit() {
  // Nothing here holds the file's pages any more, so the file's cache can
  // take the new bytes in place.
  viewed_.clear();
  try {
    for (uint32_t n : allocated_) file_.Write(n, Find(n)->bytes);
    for (size_t i = 0; i < used_; ++i)
      if (!IsNew(slots_[i]->number)) file_.Write(slots_[i]->number, slots_[i]->bytes);
    file_.Commit();
  } catch (...) {
    file_.Rollback();
    throw;
  }
  Discard();
}

void PageWriteSet::Discard() {
  used_ = 0;
  allocated_.clear();
  viewed_.clear();
}

}  // namespace corvalin::engine
