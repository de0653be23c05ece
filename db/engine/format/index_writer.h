// Adding entries to an index b-tree: the leaf that takes the entry, page
// splits, new levels above a full root. The page layout is in
// index_page.cpp, the pages kept between saves in index_page_cache.h, the
// change of a leaf in place in index_leaf_patch.h.
#pragma once

#include <cstdint>
#include <vector>

#include "db/engine/format/database.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/index_page_cache.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_write_set.h"
#include "db/engine/format/table_def.h"

namespace corvalin::engine {

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
