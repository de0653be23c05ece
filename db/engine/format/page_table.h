// Entries kept by page number, for the caches of pages and of what is
// decoded from them. A file's pages are numbered densely from 0, so a
// look-up is one index into a table of pointers (8 bytes a page of the
// file at most) instead of a hash. Entries live in a deque, so references
// stay valid while others come and go; a freed entry is taken again.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvalin::engine {

// Entry is default-constructible; one with a Forget() member keeps what
// Forget leaves (buffers to reuse) when erased, any other is reset.
template <typename Entry>
class PageTable {
 public:
  Entry* find(uint32_t page) { return page < where_.size() ? where_[page] : nullptr; }
  const Entry* find(uint32_t page) const { return const_cast<PageTable*>(this)->find(page); }
  Entry& at(uint32_t page) {
    Entry* entry = find(page);
    if (!entry) throw std::logic_error("page " + std::to_string(page) + " is not cached");
    return *entry;
  }
  // The entry of page, made when there is none.
  Entry& insert(uint32_t page) {
    if (Entry* entry = find(page)) return *entry;
    if (page >= where_.size()) where_.resize(std::max<size_t>(page + 1, where_.size() * 2));
    Entry* entry;
    if (!free_.empty()) {
      entry = free_.back();
      free_.pop_back();
    } else {
      entry = &entries_.emplace_back();
    }
    where_[page] = entry;
    return *entry;
  }
  Entry& operator[](uint32_t page) { return insert(page); }
  void erase(uint32_t page) {
    Entry* entry = find(page);
    if (!entry) return;
    Forget(*entry);
    free_.push_back(entry);
    where_[page] = nullptr;
  }
  // Erases the entries for which drop(entry) holds.
  template <typename Drop>
  void erase_if(Drop drop) {
    for (uint32_t page = 0; page < where_.size(); ++page)
      if (where_[page] && drop(*where_[page])) erase(page);
  }
  size_t size() const { return entries_.size() - free_.size(); }
  void clear() {
    where_.clear();
    entries_.clear();
    free_.clear();
  }

 private:
  static void Forget(Entry& entry) {
    if constexpr (requires { entry.Forget(); })
      entry.Forget();
    else
      entry = Entry{};
  }

  std::vector<Entry*> where_;  // by page number: its entry, or null
  std::deque<Entry> entries_;
  std::vector<Entry*> free_;
};

}  // namespace corvalin::engine
