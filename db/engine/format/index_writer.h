// Adding entries to an index b-tree: the leaf that takes the entry, page
// splits, new levels above a full root. The page layout is in
// index_page.cpp.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "db/engine/format/database.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_write_set.h"
#include "db/engine/format/table_def.h"

namespace corvalin::engine {

// A leaf page as stored, with where each entry ends: enough to find a
// key's place and to add an entry in place. Kept only for pages whose bytes
// are exactly what EncodeIndexPage writes for their entries, so that a
// change in place gives the bytes a re-encoding would.
struct LeafBytes {
  std::vector<uint16_t> ends;  // entry i ends ends[i] bytes into the entry area
  size_t prefix = 0;           // the page's shared prefix length
  size_t min_whole = 0;        // the shortest entry, key and row pointer
  uint32_t next_page = 0;
};

// Index pages kept between saves, decoded and as leaf bytes, so that adding
// a row does not decode the pages on its path again. They are used only
// while nobody else has written to the file since this cache's last save
// (Begin checks); a failed save must Clear the cache.
class IndexPageCache {
 public:
  // Before a save.
  void Begin(PageFile& file);
  // The page as this save sees it, decoded.
  IndexPage& Get(PageWriteSet& pages, const JetFormat& format, uint32_t number);
  // The leaf as this save sees it, or null when it is not a leaf in the
  // form EncodeIndexPage writes (the first change then re-encodes it).
  LeafBytes* Leaf(PageWriteSet& pages, const JetFormat& format, uint32_t number);
  // The page's new content, stored by this save (encoded by EncodeIndexPage).
  void Stored(uint32_t number, const IndexPage& page);
  void Stored(uint32_t number, IndexPage&& page);
  // 1 when the cache knows page `number` is a leaf, 0 when it knows it is
  // not, -1 when it does not know.
  int KnownLeaf(uint32_t number) const;
  // The page's next-page field was changed in place.
  void NextChanged(uint32_t number, uint32_t next);
  // The leaf was changed in place (its LeafBytes with it).
  void Patched(uint32_t number);
  // After the save's pages are written.
  void Committed(PageFile& file) { write_count_ = file.write_count(); }
  void Clear() {
    slots_.clear();
    decoded_leaves_.clear();
  }

  // Buffers the b-tree code reuses from save to save.
  struct Scratch {
    PageData page;
    std::vector<uint8_t> entry, last, whole;
  };
  Scratch scratch_;

 private:
  enum class LeafState { kUnknown, kCanonical, kKnownCanonical, kOther };
  struct Slot {
    bool decoded = false;
    IndexPage page;
    LeafState leaf_state = LeafState::kUnknown;
    LeafBytes leaf;
  };
  std::unordered_map<uint32_t, Slot> slots_;
  std::vector<uint32_t> decoded_leaves_;  // this save's, released at the next Begin
  uint64_t write_count_ = UINT64_MAX;
};

// Where a key goes in an index, looked up before the row is placed: whether
// the key is there already, and when the new entry can go straight into the
// leaf found, where.
struct IndexSpot {
  bool has_key = false;
  uint32_t leaf = 0;    // 0: the entry takes the general path
  size_t position = 0;  // in the leaf
};

// One descent: whether the index holds an entry with exactly this key, and
// where an entry with it would go.
IndexSpot FindIndexSpot(PageWriteSet& pages, IndexPageCache& cache, const JetFormat& format,
                        const IndexDef& index, const std::vector<uint8_t>& key);

// Adds (key, row) in order. New pages belong to the table whose definition
// starts at `owner` and are entered in the index's usage map when it has
// one. The root page never moves: when it is full, its entries go down to
// two new pages and it becomes their parent. Throws Error when a page is
// not what the index's structure says it is.
// With a spot that FindIndexSpot gave for the key in this save, the entry
// goes into the leaf in place when the page then is what re-encoding it
// would give and nothing above it changes; else the general path runs.
void InsertIndexEntry(PageWriteSet& pages, IndexPageCache& cache, const JetFormat& format,
                      const IndexDef& index, uint32_t owner,
                      const std::vector<uint8_t>& key, RowId row,
                      const IndexSpot* spot = nullptr);

}  // namespace corvalin::engine
