// What the cache keeps of a page: the decoded page (intermediate pages for
// as long as the cache has room, leaves for one save only, as they are big),
// and for leaves the LeafBytes the in-place change needs, with whether the
// bytes are known to be the encoder's (stored by this cache) or were found
// to be (read and checked once).
#include "db/engine/format/index_page_cache.h"

#include <algorithm>

namespace corvalin::engine {

void IndexPageCache::Begin(PageFile& file) {
  // A save touches a few pages per index. Appends in key order keep to the
  // right edge of each tree; keys in no order visit every leaf, and when
  // the leaves outgrow the cache they go, while the few intermediate pages
  // every descent reads stay. A leaf that is not decoded keeps only where
  // its entries end (a few hundred bytes), so the cache can hold the leaves
  // of a table of a million rows and two indexes in a few megabytes; a
  // leaf that left it is read and checked again on its next visit.
  constexpr size_t kMaxPages = 16384;
  // Decoded leaves are big (an entry and its key each) and only a page
  // split or a changed prefix needs one; they go after every save, their
  // leaf bytes stay.
  for (uint32_t number : decoded_leaves_) {
    Slot* slot = slots_.find(number);
    if (!slot || !slot->decoded || !slot->page.leaf) continue;
    slot->decoded = false;
    Release(slot->page);
    Note(number, slot);
  }
  decoded_leaves_.clear();
  if (file.write_count() != write_count_ || file.reloads() != reloads_) {
    // What the cache holds from here on is read from the file as it is now,
    // so it stays right for the next save too when this one is refused
    // before its entries go in (a run of duplicates keeps its tree's pages).
    Clear();
    Matches(file);
  } else if (slots_.size() >= kMaxPages) {
    slots_.erase_if([](const Slot& slot) { return !slot.decoded || slot.page.leaf; });
    if (slots_.size() >= kMaxPages / 2) {
      Clear();
    } else {
      for (uint32_t number = 0; number < known_.size(); ++number)
        known_[number] = Known(slots_.find(number));
    }
  }
}

IndexPage& IndexPageCache::Get(PageWriteSet& pages, const JetFormat& format,
                               uint32_t number) {
  Slot& slot = slots_[number];
  if (!slot.decoded) {
    // A leaf decoded by an earlier save lends its entries (and their keys'
    // room): decoding allocates nothing then.
    if (!spare_.empty() && slot.page.entries.capacity() == 0) {
      slot.page = std::move(spare_.back());
      spare_.pop_back();
    }
    DecodeIndexPage(pages.View(number), format, pages.file().path(), number, slot.page);
    slot.decoded = true;
    if (slot.page.leaf) decoded_leaves_.push_back(number);
    Note(number, &slot);
  }
  return slot.page;
}

LeafBytes* IndexPageCache::Leaf(PageWriteSet& pages, const JetFormat& format,
                                uint32_t number) {
  Slot* found = slots_.find(number);
  if (found) {
    LeafState state = found->leaf_state;
    if (state == LeafState::kCanonical) return &found->leaf;
    if (state == LeafState::kOther) return nullptr;
  }
  const PageData& bytes = pages.View(number);
  if (bytes[0] != kIndexLeafPageType) return nullptr;
  Slot& slot = found ? *found : slots_[number];
  if (!ReadLeafBytes(bytes, format, slot.leaf_state == LeafState::kKnownCanonical, slot.leaf)) {
    slot.leaf_state = LeafState::kOther;  // an empty leaf too: the general path
    Note(number, &slot);
    return nullptr;
  }
  slot.leaf_state = LeafState::kCanonical;
  Note(number, &slot);
  return &slot.leaf;
}

void IndexPageCache::Stored(uint32_t number, const IndexPage& page) {
  Slot& slot = slots_[number];
  if (&slot.page != &page) slot.page = page;
  slot.decoded = true;
  slot.leaf_state = page.leaf ? LeafState::kKnownCanonical : LeafState::kUnknown;
  if (page.leaf) decoded_leaves_.push_back(number);
  Note(number, &slot);
}

void IndexPageCache::Stored(uint32_t number, IndexPage&& page) {
  Slot& slot = slots_[number];
  slot.page = std::move(page);
  slot.decoded = true;
  slot.leaf_state = slot.page.leaf ? LeafState::kKnownCanonical : LeafState::kUnknown;
  if (slot.page.leaf) decoded_leaves_.push_back(number);
  Note(number, &slot);
}

int IndexPageCache::KnownLeaf(uint32_t number) const {
  return number < known_.size() ? known_[number] : -1;
}

int8_t IndexPageCache::Known(const Slot* slot) {
  if (!slot) return -1;
  if (slot->decoded) return slot->page.leaf ? 1 : 0;
  if (slot->leaf_state == LeafState::kCanonical || slot->leaf_state == LeafState::kKnownCanonical)
    return 1;
  return -1;
}

void IndexPageCache::Note(uint32_t number, const Slot* slot) {
  if (number >= known_.size()) known_.resize(std::max<size_t>(number + 1, known_.size() * 2), -1);
  known_[number] = Known(slot);
}

void IndexPageCache::NextChanged(uint32_t number, uint32_t next) {
  Slot* found = slots_.find(number);
  if (!found) return;
  Slot& slot = *found;
  if (slot.decoded) slot.page.next_page = next;
  slot.leaf.next_page = next;
}

void IndexPageCache::Patched(uint32_t number) {
  Slot& slot = slots_[number];
  slot.decoded = false;
  Release(slot.page);
  Note(number, &slot);
}

void IndexPageCache::Release(IndexPage& page) {
  constexpr size_t kSpare = 8;
  if (page.entries.capacity() != 0 && spare_.size() < kSpare) spare_.push_back(std::move(page));
  page = IndexPage{};
}

}  // namespace corvalin::engine
