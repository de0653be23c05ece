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
#include "db/engine/format/coding.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/usage_map.h"

namespace corvalin::engine {
namespace {

// Access builds indexes a few levels deep; more is a loop in damaged data.
constexpr int kMaxDepth = 32;
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

class Tree {
 public:
  Tree(PageWriteSet& pages, IndexPageCache& cache, const JetFormat& format,
       const IndexDef& index, uint32_t owner)
      : pages_(pages),
        cache_(cache),
        format_(format),
        buffer_(cache.scratch_.page),
        index_(index),
        owner_(owner) {}

  void CheckInFile(uint32_t number) {
    // The pages in use only grow during a save: the count is asked again
    // only for a number past the last one seen.
    if (number != 0 && number < pages_in_use_) return;
    pages_in_use_ = pages_.file().page_count() + uint32_t(pages_.allocated().size());
    if (number == 0 || number >= pages_in_use_)
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

  // Root to leaf along the path (key, row) belongs to.
  std::vector<Level> Descend(const std::vector<uint8_t>& key, RowId row) {
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
      level.model = &Load(number);
      if (level.page().leaf) {
        path.push_back(std::move(level));
        return path;
      }
      const IndexPage& node = level.page();
      const size_t slot = ChildSlot(node, number, key, row);
      level.slot = slot;
      number = slot < node.entries.size() ? node.entries[slot].child_page : node.tail_page;
      path.push_back(std::move(level));
    }
  }

  // The child of intermediate page `node` (page `number`) that (key, row)
  // belongs under: the first whose last entry is not below it; past them
  // all, the tail, or without one the last child. Returns its slot
  // (entries.size() for the tail).
  size_t ChildSlot(const IndexPage& node, uint32_t number, const std::vector<uint8_t>& key,
                   RowId row) const {
    if (node.entries.empty() && node.tail_page == 0)
      throw DamagedPage(pages_.file().path(), number,
                        "intermediate page of index " + index_.name + " has no children");
    auto it = std::lower_bound(node.entries.begin(), node.entries.end(), 0,
                               [&](const IndexEntry& e, int) {
                                 return CompareIndexEntries(e.key, e.row, key, row) < 0;
                               });
    size_t slot = size_t(it - node.entries.begin());
    if (slot == node.entries.size() && node.tail_page == 0) --slot;
    return slot;
  }

  // The leaf where (key, row) belongs, as Descend finds it, for a
  // lookup that needs of the levels above only whether the leaf's parent
  // entry carries the leaf's last key (*parent_bounded): no path is built,
  // and the leaf is not decoded. Where it stops is only a guess for Find,
  // which takes the page as a leaf only when the cache holds it as one or
  // its type byte says so, and otherwise descends in full.
  uint32_t LeafFor(const std::vector<uint8_t>& key, RowId row, bool* parent_bounded) {
    uint32_t seen[kMaxDepth + 1];
    size_t depth = 0;
    uint32_t number = index_.first_page;
    *parent_bounded = false;
    for (;;) {
      if (depth > kMaxDepth || std::find(seen, seen + depth, number) != seen + depth)
        throw DamagedPage(pages_.file().path(), number,
                          "index " + index_.name + " forms a loop");
      seen[depth++] = number;
      CheckInFile(number);
      const int known = cache_.KnownLeaf(number);
      if (known == 1 || (known < 0 && pages_.View(number)[0] == kIndexLeafPageType))
        return number;
      const IndexPage& node = cache_.Get(pages_, format_, number);
      if (node.leaf) return number;
      const size_t slot = ChildSlot(node, number, key, row);
      *parent_bounded = slot < node.entries.size();
      number = *parent_bounded ? node.entries[slot].child_page : node.tail_page;
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

  // A page for this index, in its usage map (rule 3; the global map is
  // marked for every new page at the end of the save).
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
    Write32(bytes, at, next, {.file = pages_.file().path(), .page = number},
            "the next-page field");
    cache_.NextChanged(number, next);
  }

  // Adds (key, row) in key order, keeping the separators above it (rule 5).
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
        if (depth == 0 || !at_end || !CarryLastKey(level, path[depth - 1], is_leaf, at_end))
          return;
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
      at_end = SplitBefore(level, path[depth - 1], split, is_leaf, at_end);
      inserted = path[depth - 1].slot;
    }
  }

  // After page `level` was stored with a new last entry (at_end): its link
  // in the parent takes the new last key, and at_end says whether that
  // link is the parent's last. False when nothing above changes, as the
  // link is the parent's tail, which has no key.
  bool CarryLastKey(const Level& level, Level& parent, bool is_leaf, bool& at_end) {
    if (parent.slot >= parent.page().entries.size()) return false;
    const IndexPage& page = level.page();
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
    return true;
  }

  // Splits a full page below the root: the first part goes to a new page
  // before it, so the parent's link to the old page stays valid; the
  // parent takes a child for the new page (and, when the old page's last
  // key changed, its link's key). Returns whether the parent's last key
  // changed with it.
  bool SplitBefore(Level& level, Level& parent, size_t split, bool is_leaf, bool at_end) {
    uint32_t left_number = NewPage();
    Halves halves = Split(level, split);
    IndexPage& left = halves.left;
    left.prev_page = level.page().prev_page;
    left.next_page = level.number;
    halves.right.prev_page = left_number;
    const uint32_t before = left.prev_page;
    StoreOrFail(left_number, std::move(left));
    *level.model = std::move(halves.right);
    StoreOrFail(level.number, level.page());
    if (before != 0) SetNext(before, left_number);

    IndexPage& up = parent.page();
    if (parent.children.empty() && up.tail_page != 0) {
      // The parent's page takes the new link in place: its last child stays
      // in the tail, so it needs no rebuilding from its children, and its
      // last key, the tail's, does not change.
      if (parent.slot < up.entries.size() && at_end) {
        IndexEntry& link = up.entries[parent.slot];
        auto [k, r] = is_leaf ? std::pair{level.page().entries.back().key,
                                          level.page().entries.back().row}
                              : SubtreeMax(level.number);
        link.key = std::move(k);
        link.row = r;
      }
      up.entries.insert(up.entries.begin() + ptrdiff_t(parent.slot),
                        IndexEntry{std::move(halves.left_key), halves.left_row, left_number});
      return false;
    }
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
                           Child{std::move(halves.left_key), halves.left_row, left_number,
                                 true});
    return parent_max_changed;
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

  // A page's entries (a leaf's) or children (an intermediate page's) cut
  // before `split`, as two pages with the old page's links and this
  // table's owner; the old page's entries are moved out.
  struct Halves {
    IndexPage left, right;
    std::vector<uint8_t> left_key;  // the last (key, row) of the left half
    RowId left_row;
  };
  Halves Split(Level& level, size_t split) {
    Halves h;
    IndexPage& old = level.page();
    if (old.leaf) {
      h.left.leaf = h.right.leaf = true;
      h.left.next_page = h.right.next_page = old.next_page;
      h.left.prev_page = h.right.prev_page = old.prev_page;
      h.left.entries.assign(std::make_move_iterator(old.entries.begin()),
                            std::make_move_iterator(old.entries.begin() + split));
      h.right.entries.assign(std::make_move_iterator(old.entries.begin() + split),
                             std::make_move_iterator(old.entries.end()));
      h.left_key = h.left.entries.back().key;
      h.left_row = h.left.entries.back().row;
    } else {
      std::vector<Child> first(level.children.begin(), level.children.begin() + split);
      std::vector<Child> second(level.children.begin() + split, level.children.end());
      h.left_key = first.back().key;
      h.left_row = first.back().row;
      h.left = NodeFrom(first, old);
      h.right = NodeFrom(second, old);
    }
    h.left.owner = h.right.owner = owner_;
    return h;
  }

  // A full root: its entries move to two new pages under it.
  void SplitRoot(Level& root, size_t split) {
    uint32_t left_number = NewPage();
    uint32_t right_number = NewPage();
    Halves halves = Split(root, split);
    halves.left.prev_page = 0;
    halves.left.next_page = right_number;
    halves.right.prev_page = left_number;
    halves.right.next_page = 0;
    StoreOrFail(left_number, std::move(halves.left));
    StoreOrFail(right_number, std::move(halves.right));
    IndexPage top;
    top.leaf = false;
    top.owner = owner_;
    top.entries.push_back({std::move(halves.left_key), halves.left_row, left_number});
    top.tail_page = right_number;
    *root.model = std::move(top);
    StoreOrFail(root.number, root.page());
  }

  // The entry area of leaf `number` as this save sees it.
  const uint8_t* EntryArea(uint32_t number) {
    return pages_.View(number).data() + IndexPageAreasFor(format_).entries;
  }

  // Whether an entry can go in place at `low` of the leaf: not past its
  // last entry when a next leaf may be where it belongs, nor last under a
  // parent entry that carries the leaf's last key (the parent changes).
  static bool GoesInPlace(const LeafBytes& leaf, size_t low, bool parent_bounded) {
    return low < leaf.ends.size() || (leaf.next_page == 0 && !parent_bounded);
  }

  // One descent to the leaf where key belongs; see FindIndexSpot.
  IndexSpot Find(const std::vector<uint8_t>& key) {
    bool parent_bounded = false;
    const uint32_t number = LeafFor(key, RowId{0, 0}, &parent_bounded);
    LeafBytes* leaf = cache_.Leaf(pages_, format_, number);
    if (!leaf) return {HasKey(key), 0, 0};
    IndexSpot spot;
    const size_t low = LeafLowerBound(*leaf, EntryArea(number), key, &spot.has_key);
    // Past every entry, the key may start the next leaf.
    if (low == leaf->ends.size() && leaf->next_page != 0) return {HasKey(key), 0, 0};
    if (!spot.has_key && GoesInPlace(*leaf, low, parent_bounded)) {
      spot.leaf = number;
      spot.position = low;
    }
    return spot;
  }

  // Where (key, row) goes when the index holds `key` already: among the
  // entries of that key, in row order, which Find, knowing no row, cannot
  // tell. The same rules as Find's; leaf 0 when the general path must take
  // it.
  IndexSpot FindAmongEqual(const std::vector<uint8_t>& key, RowId row) {
    bool parent_bounded = false;
    const uint32_t number = LeafFor(key, row, &parent_bounded);
    LeafBytes* leaf = cache_.Leaf(pages_, format_, number);
    if (!leaf) return {true, 0, 0};
    const size_t low = LeafLowerBound(*leaf, EntryArea(number), key, row);
    if (!GoesInPlace(*leaf, low, parent_bounded)) return {true, 0, 0};
    return {true, number, low};
  }

  // Adds (key, row) at spot.position of the leaf in place; false, the page
  // untouched, when it cannot go there so (see PatchLeaf).
  bool Patch(const IndexSpot& spot, const std::vector<uint8_t>& key, RowId row) {
    // The in-place rules follow the Jet4/ACE encoding; Access 97 leaves are
    // always re-encoded.
    if (!format_.unicode_text) return false;
    LeafBytes* leaf = cache_.Leaf(pages_, format_, spot.leaf);
    if (!leaf || !PatchLeaf(pages_, format_, spot.leaf, *leaf, spot.position, key, row,
                            cache_.scratch_.leaf))
      return false;
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
  const IndexDef& index_;
  uint32_t owner_;
  uint32_t pages_in_use_ = 0;  // as CheckInFile last found it
};

}  // namespace

IndexSpot FindIndexSpot(PageWriteSet& pages, IndexPageCache& cache, const JetFormat& format,
                        const IndexDef& index, const std::vector<uint8_t>& key) {
  return Tree(pages, cache, format, index, 0).Find(key);
}

void InsertIndexEntry(PageWriteSet& pages, IndexPageCache& cache, const JetFormat& format,
                      const IndexDef& index, uint32_t owner,
                      const std::vector<uint8_t>& key, RowId row, const IndexSpot* spot) {
  Tree tree(pages, cache, format, index, owner);
  if (spot && spot->leaf != 0 && tree.Patch(*spot, key, row)) return;
  // An index that holds the key already (many rows of one category, one
  // date) takes the entry among its equals: the row, known now, places it.
  if (spot && spot->has_key) {
    const IndexSpot among = tree.FindAmongEqual(key, row);
    if (among.leaf != 0 && tree.Patch(among, key, row)) return;
  }
  tree.Insert(key, row);
}

}  // namespace corvalin::engine
