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

// Decoded index pages kept between saves, so that adding a row does not
// decode the pages on its path again. An entry is used only while the page
// file still holds the very bytes it was decoded from (or this save made
// it); a failed save must Clear the cache.
class IndexPageCache {
 public:
  // The page as this save sees it, decoded.
  IndexPage& Get(PageWriteSet& pages, const JetFormat& format, uint32_t number);
  // The page's new content, stored by this save.
  void Stored(uint32_t number, const IndexPage& page);
  // Keeps the cache bounded; called between saves.
  void Trim();
  // After the save's pages are written: remembers what they were made from.
  void Committed(PageFile& file);
  void Clear() {
    slots_.clear();
    touched_.clear();
  }

 private:
  struct Slot {
    PagePtr source;        // the bytes it was decoded from; null: this save's
    IndexPage page;
  };
  std::unordered_map<uint32_t, Slot> slots_;
  std::vector<uint32_t> touched_;
};

// Whether the index already holds an entry with exactly this key.
bool IndexHasKey(PageWriteSet& pages, IndexPageCache& cache, const JetFormat& format,
                 const IndexDef& index, const std::vector<uint8_t>& key);

// Adds (key, row) in order. New pages belong to the table whose definition
// starts at `owner` and are entered in the index's usage map when it has
// one. The root page never moves: when it is full, its entries go down to
// two new pages and it becomes their parent. Throws Error when a page is
// not what the index's structure says it is.
void InsertIndexEntry(PageWriteSet& pages, IndexPageCache& cache, const JetFormat& format,
                      const IndexDef& index, uint32_t owner,
                      const std::vector<uint8_t>& key, RowId row);

}  // namespace corvalin::engine
