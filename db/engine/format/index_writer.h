// Adding entries to an index b-tree: the leaf that takes the entry, page
// splits, new levels above a full root. The page layout is in
// index_page.cpp.
#pragma once

#include <cstdint>
#include <vector>

#include "db/engine/format/database.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_write_set.h"
#include "db/engine/format/table_def.h"

namespace corvalin::engine {

// Whether the index already holds an entry with exactly this key.
bool IndexHasKey(PageWriteSet& pages, const JetFormat& format,
                 const IndexDef& index, const std::vector<uint8_t>& key);

// Adds (key, row) in order. New pages belong to the table whose definition
// starts at `owner` and are entered in the index's usage map when it has
// one. The root page never moves: when it is full, its entries go down to
// two new pages and it becomes their parent. Throws Error when a page is
// not what the index's structure says it is.
void InsertIndexEntry(PageWriteSet& pages, const JetFormat& format,
                      const IndexDef& index, uint32_t owner,
                      const std::vector<uint8_t>& key, RowId row);

}  // namespace corvalin::engine
