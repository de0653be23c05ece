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
#include <set>

#include "db/engine/error.h"
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
      : pages_(pages), cache_(cache), format_(format), index_(index), owner_(owner) {}

  IndexPage& Load(uint32_t number) {
    if (number == 0 || number >= pages_.file().page_count() + pages_.allocated().size())
      throw DamagedPage(pages_.file().path(), number,
                        "index " + index_.name + " leads outside the file");
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
    std::set<uint32_t> seen;
    for (;;) {
      if (!seen.insert(number).second || path.size() > kMaxDepth)
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

  IndexPage NodeFrom(std::vector<Child> children, const IndexPage& like) {
    IndexPage page = like;
    page.leaf = false;
    page.entries.clear();
    page.tail_page = 0;
    if (children.size() > 1) {
      page.tail_page = children.back().page;
      children.pop_back();
    } else if (!children.empty() && !children.back().bounded) {
      auto [key, row] = SubtreeMax(children.back().page);
      children.back().key = key;
      children.back().row = row;
    }
    for (Child& c : children) page.entries.push_back({std::move(c.key), c.row, c.page});
    return page;
  }

  bool Store(uint32_t number, const IndexPage& page) {
    buffer_.resize(format_.page_size);
    if (!EncodeIndexPage(page, format_, buffer_)) return false;
    PageData& target = pages_.Modify(number);
    std::copy(buffer_.begin(), buffer_.end(), target.begin());
    cache_.Stored(number, page);
    return true;
  }

  void StoreOrFail(uint32_t number, const IndexPage& page) {
    if (!Store(number, page))
      throw Error(kErrTooLong, "an entry of index " + index_.name +
                                   " is too large for an index page");
  }

  uint32_t NewPage() {
    uint32_t number = pages_.Allocate();
    if (index_.used_pages != 0)
      SetUsageMapBit(pages_, format_, index_.used_pages, number, true,
                     UsageMapKind::kOwnership);
    return number;
  }

  void SetNext(uint32_t number, uint32_t next) {
    IndexPage& p = Load(number);
    p.next_page = next;
    StoreOrFail(number, p);
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
      if (depth > 0 && path[depth - 1].children.empty())
        path[depth - 1].children = Children(path[depth - 1].page());
      if (!is_leaf) *level.model = NodeFrom(level.children, level.page());
      const IndexPage& page = level.page();
      size_t count = is_leaf ? page.entries.size() : level.children.size();
      if (Store(level.number, page)) {
        if (depth == 0 || !at_end) return;
        Level& parent = path[depth - 1];
        Child& link = parent.children[parent.slot];
        if (!link.bounded) return;  // the tail has no key to move
        auto [k, r] = is_leaf ? std::pair{page.entries.back().key, page.entries.back().row}
                              : SubtreeMax(level.number);
        link.key = k;
        link.row = r;
        at_end = parent.slot + 1 == parent.children.size();
        inserted = kNone;
        continue;
      }
      if (count < 2)
        throw Error(kErrTooLong, "an entry of index " + index_.name +
                                     " is too large for an index page");
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
      StoreOrFail(left_number, left);
      StoreOrFail(level.number, right);
      *level.model = std::move(right);
      if (before != 0) SetNext(before, left_number);

      Level& parent = path[depth - 1];
      Child& link = parent.children[parent.slot];
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
      IndexPage a, b;
      if (is_leaf) {
        a.leaf = b.leaf = true;
        a.entries.assign(level.page().entries.begin(), level.page().entries.begin() + k);
        b.entries.assign(level.page().entries.begin() + k, level.page().entries.end());
      } else {
        a = NodeFrom({level.children.begin(), level.children.begin() + k}, level.page());
        b = NodeFrom({level.children.begin() + k, level.children.end()}, level.page());
      }
      buffer_.resize(format_.page_size);
      return EncodeIndexPage(a, format_, buffer_) && EncodeIndexPage(b, format_, buffer_);
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
    StoreOrFail(left_number, left);
    StoreOrFail(right_number, right);
    IndexPage top;
    top.leaf = false;
    top.owner = owner_;
    top.entries.push_back({left_key, left_row, left_number});
    top.tail_page = right_number;
    StoreOrFail(root.number, top);
    *root.model = std::move(top);
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
  PageData buffer_;
  const IndexDef& index_;
  uint32_t owner_;
};

}  // namespace

IndexPage& IndexPageCache::Get(PageWriteSet& pages, const JetFormat& format,
                               uint32_t number) {
  auto it = slots_.find(number);
  if (it != slots_.end()) {
    if (!it->second.source) return it->second.page;  // made by this save
    if (!pages.IsNew(number) && pages.file().Read(number) == it->second.source)
      return it->second.page;
  }
  PagePtr source;
  const PageData* bytes = &pages.View(number);
  if (!pages.IsNew(number)) {
    source = pages.file().Read(number);
    // Pages this save changed are decoded from the change.
    if (bytes->data() != source->data() && *bytes != *source) source = nullptr;
  } 
  Slot& slot = slots_[number];
  slot.page = DecodeIndexPage(*bytes, format, pages.file().path(), number);
  slot.source = source;
  if (!source) touched_.push_back(number);
  return slot.page;
}

void IndexPageCache::Stored(uint32_t number, const IndexPage& page) {
  Slot& slot = slots_[number];
  if (&slot.page != &page) slot.page = page;
  slot.source = nullptr;
  touched_.push_back(number);
}

void IndexPageCache::Trim() {
  // A save touches a few pages per index, and appends keep to the right
  // edge of each tree: a thousand pages hold every path.
  constexpr size_t kMaxPages = 1024;
  if (slots_.size() >= kMaxPages) slots_.clear();
}

void IndexPageCache::Committed(PageFile& file) {
  for (uint32_t n : touched_) {
    auto it = slots_.find(n);
    if (it != slots_.end()) it->second.source = file.Read(n);
  }
  touched_.clear();
}

bool IndexHasKey(PageWriteSet& pages, IndexPageCache& cache, const JetFormat& format,
                 const IndexDef& index, const std::vector<uint8_t>& key) {
  return Tree(pages, cache, format, index, 0).HasKey(key);
}

void InsertIndexEntry(PageWriteSet& pages, IndexPageCache& cache, const JetFormat& format,
                      const IndexDef& index, uint32_t owner,
                      const std::vector<uint8_t>& key, RowId row) {
  Tree(pages, cache, format, index, owner).Insert(key, row);
}

}  // namespace corvalin::engine
