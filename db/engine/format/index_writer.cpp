// The b-tree invariants kept here:
// - an intermediate entry carries the last (key, row) of its child's
//   subtree; a page with more than one child keeps its last child in the
//   tail field without an entry (keys beyond every entry go there), a page
//   with one child keeps it as an ordinary entry;
// - pages of one level are linked in key order through prev/next;
// - a split moves the first part of a page to a new page placed before it,
//   so the parent's link to the old page stays valid. When the entry went to
//   the end of the page (the common case of appended rows), the new page
//   takes all old entries and the old page only the new one, so pages of a
//   growing table fill up instead of staying half empty.
#include "db/engine/format/index_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <set>
#include <span>

#include "db/engine/error.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/usage_map.h"

namespace corvalin::engine {
namespace {

// Access builds indexes a few levels deep; more is a loop in damaged data.
constexpr int kMaxDepth = 32;
// A leaf entry ends in its row pointer: data page (3 bytes), row (1).
constexpr size_t kLeafTrailer = 4;

struct Child {
  std::vector<uint8_t> key;
  RowId row;
  uint32_t page = 0;
  bool bounded = true;  // false: the tail child, no entry of its own
};

struct Level {
  uint32_t number = 0;
  IndexPage* model = nullptr;  // in the cache
  IndexPage& page() const { return *model; }
  std::vector<Child> children;  // intermediate pages
  size_t slot = 0;              // the child taken on the way down
};

// Moves the bits numbered above `from` (bit b is 1 << b % 8 of byte b / 8)
// up by `by`, in a bitmap of `size` bytes whose top `by` bits are clear.
void ShiftBitsAbove(uint8_t* mask, size_t size, size_t from, size_t by) {
  if constexpr (std::endian::native == std::endian::little) {
    // As one little-endian number: bit b is bit b % 64 of word b / 64.
    constexpr size_t kMaxWords = 64;
    uint64_t words[kMaxWords] = {};
    const size_t count = (size + 7) / 8;
    if (count <= kMaxWords) {
      std::memcpy(words, mask, size);
      const size_t first = from / 64, shift_words = by / 64, shift_bits = by % 64;
      const uint64_t keep = from % 64 == 63 ? ~uint64_t(0) : (uint64_t(2) << (from % 64)) - 1;
      const uint64_t low = words[first] & keep;  // bits up to `from` stay
      words[first] &= ~keep;
      for (size_t i = count; i-- > first;) {
        uint64_t moved = 0;
        if (i >= first + shift_words) {
          size_t source = i - shift_words;
          moved = words[source] << shift_bits;
          if (shift_bits != 0 && source > first)
            moved |= words[source - 1] >> (64 - shift_bits);
        }
        words[i] = moved;
      }
      words[first] |= low;
      std::memcpy(mask, words, size);
      return;
    }
  }
  for (size_t b = size * 8; b-- > from + 1;) {
    bool set = mask[b / 8] & (1u << (b % 8));
    mask[b / 8] &= uint8_t(~(1u << (b % 8)));
    if (set && b + by < size * 8) mask[(b + by) / 8] |= uint8_t(1u << ((b + by) % 8));
  }
}

class Tree {
 public:
  Tree(PageWriteSet& pages, IndexPageCache& cache, const JetFormat& format,
       const IndexDef& index, uint32_t owner)
      : pages_(pages),
        cache_(cache),
        format_(format),
        buffer_(cache.scratch_.page),
        entry_(cache.scratch_.entry),
        last_(cache.scratch_.last),
        whole_(cache.scratch_.whole),
        index_(index),
        owner_(owner) {}

  void CheckInFile(uint32_t number) {
    if (number == 0 || number >= pages_.file().page_count() + pages_.allocated().size())
      throw DamagedPage(pages_.file().path(), number,
                        "index " + index_.name + " leads outside the file");
  }

  IndexPage& Load(uint32_t number) {
    CheckInFile(number);
    return cache_.Get(pages_, format_, number);
  }

  static std::vector<Child> Children(const IndexPage& page) {
    std::vector<Child> out;
    for (const IndexEntry& e : page.entries) out.push_back({e.key, e.row, e.child_page, true});
    if (page.tail_page != 0) out.push_back({{}, {}, page.tail_page, false});
    return out;
  }

  // Root to leaf along the path (key, row) belongs to. With raw_leaf the
  // leaf is not decoded (its level has no model).
  std::vector<Level> Descend(const std::vector<uint8_t>& key, RowId row,
                             bool raw_leaf = false) {
    std::vector<Level> path;
    uint32_t number = index_.first_page;
    path.reserve(4);
    for (;;) {
      bool seen = std::any_of(path.begin(), path.end(),
                              [&](const Level& l) { return l.number == number; });
      if (seen || path.size() > kMaxDepth)
        throw DamagedPage(pages_.file().path(), number,
                          "index " + index_.name + " forms a loop");
      Level level;
      level.number = number;
      if (raw_leaf) {
        CheckInFile(number);
        const int known = cache_.KnownLeaf(number);
        if (known == 1 || (known < 0 && pages_.View(number)[0] == kIndexLeafPageType)) {
          path.push_back(std::move(level));
          return path;
        }
      }
      level.model = &Load(number);
      if (level.page().leaf) {
        path.push_back(std::move(level));
        return path;
      }
      const IndexPage& node = level.page();
      if (node.entries.empty() && node.tail_page == 0)
        throw DamagedPage(pages_.file().path(), number,
                          "intermediate page of index " + index_.name + " has no children");
      // The first child whose last entry is not below (key, row); past them
      // all, the tail, or without one the last child.
      auto it = std::lower_bound(node.entries.begin(), node.entries.end(), 0,
                                 [&](const IndexEntry& e, int) {
                                   return CompareIndexEntries(e.key, e.row, key, row) < 0;
                                 });
      size_t slot = size_t(it - node.entries.begin());
      if (slot == node.entries.size() && node.tail_page == 0) --slot;
      level.slot = slot;
      number = slot < node.entries.size() ? node.entries[slot].child_page : node.tail_page;
      path.push_back(std::move(level));
    }
  }

  // The last (key, row) under page `number`.
  std::pair<std::vector<uint8_t>, RowId> SubtreeMax(uint32_t number) {
    for (int depth = 0; depth < kMaxDepth; ++depth) {
      const IndexPage& page = Load(number);
      if (page.leaf) {
        if (page.entries.empty())
          throw DamagedPage(pages_.file().path(), number, "empty leaf in index " + index_.name);
        return {page.entries.back().key, page.entries.back().row};
      }
      std::vector<Child> children = Children(page);
      if (children.empty()) break;
      if (children.back().bounded) return {children.back().key, children.back().row};
      number = children.back().page;
    }
    throw DamagedPage(pages_.file().path(), number, "index " + index_.name + " is malformed");
  }

  // An intermediate page over children, with like's header fields.
  IndexPage NodeFrom(const std::vector<Child>& children, const IndexPage& like) {
    IndexPage page;
    page.leaf = false;
    page.owner = like.owner;
    page.prev_page = like.prev_page;
    page.next_page = like.next_page;
    page.prefix_length = like.prefix_length;
    // More than one child: the last is the tail, without an entry. Only the
    // last child can lack a key of its own.
    size_t with_entries = children.size();
    if (children.size() > 1) {
      page.tail_page = children.back().page;
      --with_entries;
    }
    page.entries.reserve(with_entries + 1);
    for (size_t i = 0; i < with_entries; ++i) {
      const Child& c = children[i];
      if (c.bounded) {
        page.entries.push_back({c.key, c.row, c.page});
      } else {
        auto [key, row] = SubtreeMax(c.page);
        page.entries.push_back({std::move(key), row, c.page});
      }
    }
    return page;
  }

  // Writes page as page `number` of this save; false when it does not fit.
  bool Put(uint32_t number, const IndexPage& page) {
    buffer_.resize(format_.page_size);
    if (!EncodeIndexPage(page, format_, buffer_)) return false;
    PageData& target = pages_.Modify(number);
    std::copy(buffer_.begin(), buffer_.end(), target.begin());
    return true;
  }

  bool Store(uint32_t number, const IndexPage& page) {
    if (!Put(number, page)) return false;
    cache_.Stored(number, page);
    return true;
  }

  void StoreOrFail(uint32_t number, const IndexPage& page) {
    if (!Store(number, page)) TooLarge();
  }
  // The same for a page nobody needs afterwards: the cache takes it.
  void StoreOrFail(uint32_t number, IndexPage&& page) {
    if (!Put(number, page)) TooLarge();
    cache_.Stored(number, std::move(page));
  }

  [[noreturn]] void TooLarge() const {
    throw Error(kErrTooLong, "an entry of index " + index_.name +
                                 " is too large for an index page");
  }

  // A level's children, taken from its page when first needed.
  static std::vector<Child>& ChildrenOf(Level& level) {
    if (level.children.empty()) level.children = Children(level.page());
    return level.children;
  }

  uint32_t NewPage() {
    uint32_t number = pages_.Allocate();
    if (index_.used_pages != 0)
      SetUsageMapBit(pages_, format_, index_.used_pages, number, true,
                     UsageMapKind::kOwnership);
    return number;
  }

  // Links page `number` to `next`: only its next-page field changes, in
  // its bytes and in what the cache holds of it.
  void SetNext(uint32_t number, uint32_t next) {
    CheckInFile(number);
    const uint8_t type = pages_.View(number)[0];
    if (type != kIndexLeafPageType && type != kIndexNodePageType)
      throw DamagedPage(pages_.file().path(), number,
                        "index " + index_.name + " links to a page that is not an index page");
    PageData& bytes = pages_.Modify(number);
    const size_t at = IndexPageAreasFor(format_).next;
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(next >> (8 * i));
    cache_.NextChanged(number, next);
  }

  void Insert(const std::vector<uint8_t>& key, RowId row) {
    std::vector<Level> path = Descend(key, row);
    Level& leaf = path.back();
    auto& entries = leaf.page().entries;
    size_t pos = size_t(
        std::lower_bound(entries.begin(), entries.end(), 0,
                         [&](const IndexEntry& e, int) {
                           return CompareIndexEntries(e.key, e.row, key, row) < 0;
                         }) -
        entries.begin());
    entries.insert(entries.begin() + pos, IndexEntry{key, row, 0});
    bool at_end = pos + 1 == entries.size();
    size_t inserted = pos;  // where this level took a new entry or child
    constexpr size_t kNone = SIZE_MAX;

    // Work upwards: store each changed page, splitting those that overflow.
    for (size_t depth = path.size(); depth-- > 0;) {
      Level& level = path[depth];
      const bool is_leaf = level.page().leaf;
      // A page whose children changed is rebuilt from them; one whose link
      // key changed was changed in place.
      if (!is_leaf && !level.children.empty())
        *level.model = NodeFrom(level.children, level.page());
      const IndexPage& page = level.page();
      if (Store(level.number, page)) {
        if (depth == 0 || !at_end) return;
        Level& parent = path[depth - 1];
        // The tail has no key to move.
        if (parent.slot >= parent.page().entries.size()) return;
        auto [k, r] = is_leaf ? std::pair{page.entries.back().key, page.entries.back().row}
                              : SubtreeMax(level.number);
        if (parent.children.empty()) {
          // Only the link's key changes: in the parent's page itself.
          IndexEntry& link = parent.page().entries[parent.slot];
          link.key = std::move(k);
          link.row = r;
          at_end = parent.slot + 1 == parent.page().entries.size() && parent.page().tail_page == 0;
        } else {
          Child& link = parent.children[parent.slot];
          link.key = std::move(k);
          link.row = r;
          at_end = parent.slot + 1 == parent.children.size();
        }
        inserted = kNone;
        continue;
      }
      const size_t count = is_leaf ? page.entries.size() : ChildrenOf(level).size();
      if (count < 2) TooLarge();
      size_t split = ChooseSplit(level, is_leaf, count,
                                 inserted != kNone && inserted + 2 >= count);

      if (depth == 0) {
        SplitRoot(level, split);
        return;
      }
      // The first part goes to a new page before this one.
      uint32_t left_number = NewPage();
      IndexPage left, right;
      std::vector<uint8_t> left_key;
      RowId left_row;
      if (is_leaf) {
        IndexPage& old = level.page();
        left.leaf = right.leaf = true;
        left.next_page = right.next_page = old.next_page;
        left.prev_page = right.prev_page = old.prev_page;
        left.entries.assign(std::make_move_iterator(old.entries.begin()),
                            std::make_move_iterator(old.entries.begin() + split));
        right.entries.assign(std::make_move_iterator(old.entries.begin() + split),
                             std::make_move_iterator(old.entries.end()));
        left_key = left.entries.back().key;
        left_row = left.entries.back().row;
      } else {
        std::vector<Child> first(level.children.begin(), level.children.begin() + split);
        std::vector<Child> second(level.children.begin() + split, level.children.end());
        left_key = first.back().key;
        left_row = first.back().row;
        left = NodeFrom(first, level.page());
        right = NodeFrom(second, level.page());
      }
      left.owner = right.owner = owner_;
      left.prev_page = right.prev_page;  // the old page's previous page
      left.next_page = level.number;
      right.prev_page = left_number;
      uint32_t before = left.prev_page;
      right.prev_page = left_number;
      StoreOrFail(left_number, std::move(left));
      *level.model = std::move(right);
      StoreOrFail(level.number, level.page());
      if (before != 0) SetNext(before, left_number);

      Level& parent = path[depth - 1];
      Child& link = ChildrenOf(parent)[parent.slot];
      bool parent_max_changed =
          link.bounded && at_end && parent.slot + 1 == parent.children.size();
      if (link.bounded && at_end) {
        auto [k, r] = is_leaf ? std::pair{level.page().entries.back().key,
                                          level.page().entries.back().row}
                              : SubtreeMax(level.number);
        link.key = k;
        link.row = r;
      }
      parent.children.insert(parent.children.begin() + parent.slot,
                             Child{left_key, left_row, left_number, true});
      inserted = parent.slot;
      at_end = parent_max_changed;
    }
  }

  // Where a full page splits: after all but the last entry when the new one
  // went to the end, else in the middle, else wherever both halves fit
  // (their shared prefixes differ from the whole page's).
  size_t ChooseSplit(const Level& level, bool is_leaf, size_t count, bool at_end) {
    auto fits = [&](size_t k) {
      if (is_leaf) {
        std::span<const IndexEntry> all = level.page().entries;
        return IndexEntriesFit(all.first(k), true, format_) &&
               IndexEntriesFit(all.subspan(k), true, format_);
      }
      IndexPage a = NodeFrom({level.children.begin(), level.children.begin() + k}, level.page());
      IndexPage b = NodeFrom({level.children.begin() + k, level.children.end()}, level.page());
      return IndexEntriesFit(a.entries, false, format_) &&
             IndexEntriesFit(b.entries, false, format_);
    };
    size_t middle = (count + 1) / 2;
    if (at_end && fits(count - 1)) return count - 1;
    if (fits(middle)) return middle;
    for (size_t d = 1; d < count; ++d) {
      if (middle + d < count && fits(middle + d)) return middle + d;
      if (middle > d && fits(middle - d)) return middle - d;
    }
    throw Error(kErrTooLong, "the entries of index " + index_.name +
                                 " are too large to share an index page");
  }

  // A full root: its entries move to two new pages under it.
  void SplitRoot(Level& root, size_t split) {
    uint32_t left_number = NewPage();
    uint32_t right_number = NewPage();
    IndexPage left, right;
    std::vector<uint8_t> left_key;
    RowId left_row;
    if (root.page().leaf) {
      left.leaf = right.leaf = true;
      left.entries.assign(root.page().entries.begin(), root.page().entries.begin() + split);
      right.entries.assign(root.page().entries.begin() + split, root.page().entries.end());
      left_key = left.entries.back().key;
      left_row = left.entries.back().row;
    } else {
      std::vector<Child> first(root.children.begin(), root.children.begin() + split);
      std::vector<Child> second(root.children.begin() + split, root.children.end());
      left_key = first.back().key;
      left_row = first.back().row;
      left = NodeFrom(first, root.page());
      right = NodeFrom(second, root.page());
    }
    left.owner = right.owner = owner_;
    left.prev_page = 0;
    left.next_page = right_number;
    right.prev_page = left_number;
    right.next_page = 0;
    StoreOrFail(left_number, std::move(left));
    StoreOrFail(right_number, std::move(right));
    IndexPage top;
    top.leaf = false;
    top.owner = owner_;
    top.entries.push_back({left_key, left_row, left_number});
    top.tail_page = right_number;
    *root.model = std::move(top);
    StoreOrFail(root.number, root.page());
  }

  // One descent to the leaf where key belongs; see FindIndexSpot.
  IndexSpot Find(const std::vector<uint8_t>& key) {
    std::vector<Level> path = Descend(key, RowId{0, 0}, true);
    const uint32_t number = path.back().number;
    LeafBytes* leaf = cache_.Leaf(pages_, format_, number);
    if (!leaf) return {HasKey(key), 0, 0};
    const IndexPageAreas areas = IndexPageAreasFor(format_);
    const uint8_t* area = pages_.View(number).data() + areas.entries;
    const size_t n = leaf->ends.size();
    // The first entry whose key is not below key.
    size_t low = 0, high = n;
    while (low < high) {
      size_t mid = (low + high) / 2;
      if (CompareStored(*leaf, area, mid, key) < 0) low = mid + 1;
      else high = mid;
    }
    IndexSpot spot;
    if (low < n) {
      spot.has_key = CompareStored(*leaf, area, low, key) == 0;
    } else if (leaf->next_page != 0) {
      return {HasKey(key), 0, 0};  // the key may start the next leaf
    }
    // The entry goes here unless it would be first (the stored form of the
    // old first entry changes) or last under a parent entry that carries
    // this leaf's last key (the parent changes).
    bool parent_bounded = path.size() > 1 && path[path.size() - 2].slot <
                                                 path[path.size() - 2].page().entries.size();
    if (!spot.has_key && low > 0 && (low < n || !parent_bounded)) {
      spot.leaf = number;
      spot.position = low;
    }
    return spot;
  }

  // The entry's key and row pointer as stored, prefix restored.
  static void WholeEntry(const LeafBytes& leaf, const uint8_t* area, size_t i,
                         std::vector<uint8_t>& out) {
    size_t start = i == 0 ? 0 : leaf.ends[i - 1];
    out.clear();
    if (i > 0) out.insert(out.end(), area, area + leaf.prefix);
    out.insert(out.end(), area + start, area + leaf.ends[i]);
  }

  // Orders leaf entry i, as stored (its prefix from the first entry),
  // against a key alone, as the entries' order (CompareIndexEntries) has
  // it: key bytes, then the shorter key first. The entry is not put
  // together.
  static int CompareStored(const LeafBytes& leaf, const uint8_t* area, size_t i,
                           const std::vector<uint8_t>& key) {
    const size_t start = i == 0 ? 0 : leaf.ends[i - 1];
    const size_t prefix = i == 0 ? 0 : leaf.prefix;
    const size_t length = prefix + (leaf.ends[i] - start) - kLeafTrailer;
    const size_t n = std::min(length, key.size());
    // The key part of the entry: up to `prefix` bytes from the first entry,
    // the rest from its own stored bytes.
    const size_t head = std::min(n, prefix);
    if (head > 0) {
      int c = std::memcmp(area, key.data(), head);
      if (c != 0) return c < 0 ? -1 : 1;
    }
    if (n > head) {
      int c = std::memcmp(area + start, key.data() + head, n - head);
      if (c != 0) return c < 0 ? -1 : 1;
    }
    if (length != key.size()) return length < key.size() ? -1 : 1;
    return 0;
  }

  // Adds (key, row) at spot.position of the leaf in place, when the page
  // keeps its shared prefix and has room: then the bytes are exactly what
  // EncodeIndexPage writes for the entries with the new one (the entries
  // after it move up by its stored size, their end bits with them, the
  // free space shrinks by as much). Returns false, the page untouched,
  // otherwise.
  bool Patch(const IndexSpot& spot, const std::vector<uint8_t>& key, RowId row) {
    // The in-place rules follow the Jet4/ACE encoding; Access 97 leaves are
    // always re-encoded.
    if (!format_.unicode_text) return false;
    LeafBytes* leaf = cache_.Leaf(pages_, format_, spot.leaf);
    const size_t n = leaf ? leaf->ends.size() : 0;
    if (!leaf || spot.position == 0 || spot.position > n) return false;
    const IndexPageAreas areas = IndexPageAreasFor(format_);
    const uint8_t* area = pages_.View(spot.leaf).data() + areas.entries;
    whole_.assign(key.begin(), key.end());
    whole_.push_back(uint8_t(row.page >> 16));
    whole_.push_back(uint8_t(row.page >> 8));
    whole_.push_back(uint8_t(row.page));
    whole_.push_back(uint8_t(row.row));
    // The prefix EncodeIndexPage would choose: what the first and last
    // entries share, below the shortest entry's size.
    WholeEntry(*leaf, area, 0, entry_);
    if (spot.position < n) WholeEntry(*leaf, area, n - 1, last_);
    const std::vector<uint8_t>& last = spot.position < n ? last_ : whole_;
    size_t common = 0;
    while (common < entry_.size() && common < last.size() && entry_[common] == last[common])
      ++common;
    size_t limit = std::min(leaf->min_whole, whole_.size()) - 1;
    if (std::min(common, limit) != leaf->prefix) return false;
    const size_t stored = whole_.size() - leaf->prefix;
    const size_t total = leaf->ends[n - 1];
    if (areas.entries + total + stored > format_.page_size ||
        total + stored >= areas.mask_size * 8)
      return false;

    PageData& page = pages_.Modify(spot.leaf);
    uint8_t* entries = page.data() + areas.entries;
    uint8_t* mask = page.data() + areas.mask;
    const size_t start = leaf->ends[spot.position - 1];
    std::memmove(entries + start + stored, entries + start, total - start);
    std::memcpy(entries + start, whole_.data() + leaf->prefix, stored);
    ShiftBitsAbove(mask, areas.mask_size, start, stored);
    mask[(start + stored) / 8] |= uint8_t(1u << ((start + stored) % 8));
    for (size_t i = spot.position; i < n; ++i) leaf->ends[i] = uint16_t(leaf->ends[i] + stored);
    leaf->ends.insert(leaf->ends.begin() + spot.position, uint16_t(start + stored));
    size_t free = format_.page_size - areas.entries - (total + stored);
    page[2] = uint8_t(free);
    page[3] = uint8_t(free >> 8);
    leaf->min_whole = std::min(leaf->min_whole, whole_.size());
    cache_.Patched(spot.leaf);
    return true;
  }

  bool HasKey(const std::vector<uint8_t>& key) {
    std::vector<Level> path = Descend(key, RowId{0, 0});
    const IndexPage* page = path.back().model;
    for (int hops = 0; hops < 2; ++hops) {
      auto it = std::lower_bound(page->entries.begin(), page->entries.end(), 0,
                                 [&](const IndexEntry& e, int) {
                                   return CompareIndexEntries(e.key, RowId{}, key, RowId{}) < 0;
                                 });
      if (it != page->entries.end())
        return CompareIndexEntries(it->key, RowId{}, key, RowId{}) == 0;
      if (page->next_page == 0) return false;
      page = &Load(page->next_page);
    }
    return false;
  }

 private:
  PageWriteSet& pages_;
  IndexPageCache& cache_;
  const JetFormat& format_;
  // Scratch space kept by the cache, so that a save allocates none.
  PageData& buffer_;
  std::vector<uint8_t>& entry_;
  std::vector<uint8_t>& last_;
  std::vector<uint8_t>& whole_;
  const IndexDef& index_;
  uint32_t owner_;
};

}  // namespace

void IndexPageCache::Begin(PageFile& file) {
  // A save touches a few pages per index. Appends in key order keep to the
  // right edge of each tree; keys in no order visit every leaf, and when
  // the leaves outgrow the cache they go, while the few intermediate pages
  // every descent reads stay.
  constexpr size_t kMaxPages = 4096;
  // Decoded leaves are big (an entry and its key each) and only a page
  // split or a changed prefix needs one; they go after every save, their
  // leaf bytes stay.
  for (uint32_t number : decoded_leaves_) {
    auto it = slots_.find(number);
    if (it == slots_.end() || !it->second.decoded || !it->second.page.leaf) continue;
    it->second.decoded = false;
    it->second.page = IndexPage{};
  }
  decoded_leaves_.clear();
  if (file.write_count() != write_count_) {
    slots_.clear();
  } else if (slots_.size() >= kMaxPages) {
    std::erase_if(slots_, [](const auto& slot) {
      return !slot.second.decoded || slot.second.page.leaf;
    });
    if (slots_.size() >= kMaxPages / 2) slots_.clear();
  }
}

IndexPage& IndexPageCache::Get(PageWriteSet& pages, const JetFormat& format,
                               uint32_t number) {
  Slot& slot = slots_[number];
  if (!slot.decoded) {
    slot.page = DecodeIndexPage(pages.View(number), format, pages.file().path(), number);
    slot.decoded = true;
    if (slot.page.leaf) decoded_leaves_.push_back(number);
  }
  return slot.page;
}

namespace {

// Reads a leaf's entry ends from its bytes. Unless `known` (the bytes are
// what EncodeIndexPage wrote), also checks that they are exactly what it
// would write for the entries they hold: then the entry area is the entries
// stored with the prefix the encoder chooses, the header holds the free
// space it computes, and every byte it leaves zero is zero. False for an
// empty leaf and for anything else.
bool ReadLeafBytes(const PageData& bytes, const JetFormat& format, bool known, LeafBytes& leaf) {
  const IndexPageAreas areas = IndexPageAreasFor(format);
  if (bytes.size() <= areas.entries) return false;
  const size_t area = bytes.size() - areas.entries;
  leaf.ends.clear();
  leaf.min_whole = SIZE_MAX;
  leaf.prefix = bytes[areas.prefix];
  if (areas.prefix_size == 2) leaf.prefix |= size_t(bytes[areas.prefix + 1]) << 8;
  leaf.next_page = uint32_t(bytes[areas.next]) | uint32_t(bytes[areas.next + 1]) << 8 |
                   uint32_t(bytes[areas.next + 2]) << 16 | uint32_t(bytes[areas.next + 3]) << 24;
  for (size_t byte = 0; byte < areas.mask_size; ++byte) {
    for (uint8_t bits = bytes[areas.mask + byte]; bits != 0; bits &= uint8_t(bits - 1)) {
      const size_t bit = byte * 8 + size_t(std::countr_zero(bits));
      const size_t start = leaf.ends.empty() ? 0 : leaf.ends.back();
      if (bit > area || bit <= start) return false;
      const size_t whole = bit - start + (leaf.ends.empty() ? 0 : leaf.prefix);
      if (whole < kLeafTrailer) return false;
      leaf.min_whole = std::min(leaf.min_whole, whole);
      leaf.ends.push_back(uint16_t(bit));
    }
  }
  if (leaf.ends.empty() || leaf.prefix >= leaf.ends[0]) return false;
  if (known) return true;

  const size_t n = leaf.ends.size();
  const size_t total = leaf.ends.back();
  const uint8_t* entries = bytes.data() + areas.entries;
  if (bytes[1] != 0x01 || bytes[areas.prefix + areas.prefix_size] != 0) return false;
  const size_t free = area - total;
  if (bytes[2] != uint8_t(free) || bytes[3] != uint8_t(free >> 8)) return false;
  for (size_t i = areas.unknown; i < areas.prev; ++i)
    if (bytes[i] != 0) return false;
  for (size_t i = total; i < area; ++i)
    if (entries[i] != 0) return false;
  // The encoder's prefix: what the first and last entries share, below the
  // shortest entry and within the length field. The first `prefix` bytes of
  // every entry are the first entry's, so the stored prefix is the
  // encoder's when it is at the limit or the next bytes differ.
  if (n == 1) return leaf.prefix == 0;
  const size_t limit = std::min((size_t(1) << (8 * areas.prefix_size)) - 1, leaf.min_whole - 1);
  if (leaf.prefix > limit) return false;
  return leaf.prefix == limit || entries[leaf.prefix] != entries[leaf.ends[n - 2]];
}

}  // namespace

LeafBytes* IndexPageCache::Leaf(PageWriteSet& pages, const JetFormat& format,
                                uint32_t number) {
  auto it = slots_.find(number);
  if (it != slots_.end()) {
    LeafState state = it->second.leaf_state;
    if (state == LeafState::kCanonical) return &it->second.leaf;
    if (state == LeafState::kOther) return nullptr;
  }
  const PageData& bytes = pages.View(number);
  if (bytes[0] != kIndexLeafPageType) return nullptr;
  Slot& slot = it != slots_.end() ? it->second : slots_[number];
  if (!ReadLeafBytes(bytes, format, slot.leaf_state == LeafState::kKnownCanonical, slot.leaf)) {
    slot.leaf_state = LeafState::kOther;  // an empty leaf too: the general path
    return nullptr;
  }
  slot.leaf_state = LeafState::kCanonical;
  return &slot.leaf;
}

void IndexPageCache::Stored(uint32_t number, const IndexPage& page) {
  Slot& slot = slots_[number];
  if (&slot.page != &page) slot.page = page;
  slot.decoded = true;
  slot.leaf_state = page.leaf ? LeafState::kKnownCanonical : LeafState::kUnknown;
  if (page.leaf) decoded_leaves_.push_back(number);
}

void IndexPageCache::Stored(uint32_t number, IndexPage&& page) {
  Slot& slot = slots_[number];
  slot.page = std::move(page);
  slot.decoded = true;
  slot.leaf_state = slot.page.leaf ? LeafState::kKnownCanonical : LeafState::kUnknown;
  if (slot.page.leaf) decoded_leaves_.push_back(number);
}

int IndexPageCache::KnownLeaf(uint32_t number) const {
  auto it = slots_.find(number);
  if (it == slots_.end()) return -1;
  const Slot& slot = it->second;
  if (slot.decoded) return slot.page.leaf ? 1 : 0;
  if (slot.leaf_state == LeafState::kCanonical || slot.leaf_state == LeafState::kKnownCanonical)
    return 1;
  return -1;
}

void IndexPageCache::NextChanged(uint32_t number, uint32_t next) {
  auto it = slots_.find(number);
  if (it == slots_.end()) return;
  Slot& slot = it->second;
  if (slot.decoded) slot.page.next_page = next;
  slot.leaf.next_page = next;
}

void IndexPageCache::Patched(uint32_t number) {
  Slot& slot = slots_[number];
  slot.decoded = false;
  slot.page = IndexPage{};
}

IndexSpot FindIndexSpot(PageWriteSet& pages, IndexPageCache& cache, const JetFormat& format,
                        const IndexDef& index, const std::vector<uint8_t>& key) {
  return Tree(pages, cache, format, index, 0).Find(key);
}

void InsertIndexEntry(PageWriteSet& pages, IndexPageCache& cache, const JetFormat& format,
                      const IndexDef& index, uint32_t owner,
                      const std::vector<uint8_t>& key, RowId row, const IndexSpot* spot) {
  Tree tree(pages, cache, format, index, owner);
  if (spot && spot->leaf != 0 && tree.Patch(*spot, key, row)) return;
  tree.Insert(key, row);
}

}  // namespace corvalin::engine
