#include "db/engine/format/page_write_set.h"

#include <algorithm>
#include <string>

#include "db/engine/error.h"

namespace corvalin::engine {

PageWriteSet::Slot* PageWriteSet::Find(uint32_t page_number) {
  for (const auto& slot : changed_)
    if (slot->number == page_number) return slot.get();
  return nullptr;
}

std::unique_ptr<PageWriteSet::Slot>* PageWriteSet::FindKept(uint32_t page_number) {
  if (kept_count_ == 0) return nullptr;
  // Nobody else writes while a save is under way: one look at the file's
  // counts per save is enough.
  if (!kept_checked_) {
    kept_checked_ = true;
    if (file_.write_count() != kept_writes_ || file_.reloads() != kept_reloads_) {
      DropKept();
      return nullptr;
    }
  }
  const size_t at = page_number % kKeptPages;
  return kept_numbers_[at] == page_number ? &kept_[at] : nullptr;
}

PageWriteSet::Slot& PageWriteSet::NewSlot() {
  if (spare_.empty()) {
    changed_.push_back(std::make_unique<Slot>());
  } else {
    changed_.push_back(std::move(spare_.back()));
    spare_.pop_back();
  }
  return *changed_.back();
}

void PageWriteSet::DropKept() {
  if (kept_count_ == 0) return;
  for (auto& place : kept_)
    if (place) spare_.push_back(std::move(place));
  std::fill(kept_numbers_.begin(), kept_numbers_.end(), kNoPage);
  kept_count_ = 0;
}

const PageData& PageWriteSet::View(uint32_t page_number) {
  if (Slot* slot = Find(page_number)) return slot->bytes;
  if (auto* kept = FindKept(page_number)) return (*kept)->bytes;
  for (const auto& [number, page] : viewed_)
    if (number == page_number) return *page;
  viewed_.emplace_back(page_number, file_.Read(page_number));
  return *viewed_.back().second;
}

PageWriteSet::Slot& PageWriteSet::Change(uint32_t page_number) {
  if (Slot* slot = Find(page_number)) return *slot;
  if (auto* kept = FindKept(page_number)) {
    // Its bytes are the file's already: no copy.
    kept_numbers_[page_number % kKeptPages] = kNoPage;
    changed_.push_back(std::move(*kept));
    --kept_count_;
  } else {
    // View keeps the file's page alive (in viewed_) while it is copied.
    const PageData& source = View(page_number);
    Slot& slot = NewSlot();
    slot.number = page_number;
    slot.bytes.assign(source.begin(), source.end());
  }
  Slot& slot = *changed_.back();
  slot.whole = false;
  slot.changes.clear();
  return slot;
}

PageData& PageWriteSet::Modify(uint32_t page_number) {
  Slot& slot = Change(page_number);
  slot.whole = true;
  return slot.bytes;
}

PageData& PageWriteSet::Modify(uint32_t page_number, ByteRange changes) {
  Slot& slot = Change(page_number);
  changes.to = std::min<uint32_t>(changes.to, uint32_t(slot.bytes.size()));
  if (slot.whole || changes.from >= changes.to) return slot.bytes;
  // Into the sorted ranges, joined with those it overlaps or touches.
  auto& ranges = slot.changes;
  auto first = std::find_if(ranges.begin(), ranges.end(),
                            [&](const ByteRange& r) { return r.to >= changes.from; });
  auto last = first;
  for (; last != ranges.end() && last->from <= changes.to; ++last) {
    changes.from = std::min(changes.from, last->from);
    changes.to = std::max(changes.to, last->to);
  }
  if (first == last) {
    ranges.insert(first, changes);
  } else {
    *first = changes;
    ranges.erase(first + 1, last);
  }
  if (ranges.size() > kMostRanges) slot.whole = true;
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
  Slot& slot = NewSlot();
  slot.number = number;
  slot.bytes.assign(file_.page_size(), 0);
  slot.whole = true;
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
    for (const auto& slot : changed_) {
      if (IsNew(slot->number)) continue;
      if (slot->whole)
        file_.Write(slot->number, slot->bytes);
      else
        file_.WriteChanged(slot->number, slot->bytes, slot->changes);
    }
    file_.Commit();
  } catch (...) {
    file_.Rollback();
    DropKept();
    throw;
  }
  // The pages written are the file's now: they are kept, each in its
  // place, where an older one makes way.
  if (kept_.empty()) {
    kept_.resize(kKeptPages);
    kept_numbers_.assign(kKeptPages, kNoPage);
  }
  for (auto& slot : changed_) {
    kept_numbers_[slot->number % kKeptPages] = slot->number;
    std::unique_ptr<Slot>& place = kept_[slot->number % kKeptPages];
    if (place)
      spare_.push_back(std::move(place));
    else
      ++kept_count_;
    place = std::move(slot);
  }
  changed_.clear();
  kept_writes_ = file_.write_count();
  kept_reloads_ = file_.reloads();
  kept_checked_ = false;
  allocated_.clear();
}

void PageWriteSet::Discard() {
  // What the kept pages hold is still the file's: nothing was written.
  for (auto& slot : changed_) spare_.push_back(std::move(slot));
  changed_.clear();
  allocated_.clear();
  viewed_.clear();
  kept_checked_ = false;
}

}  // namespace corvalin::engine
