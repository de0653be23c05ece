// Writing a new table definition: its TDEF page chain, the data page that
// holds its usage maps, and an empty root page for each index. The TDEF
// layout is in table_def.cpp; its constants in table_def_layout.h.
#pragma once

#include <cstdint>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_write_set.h"
#include "db/engine/format/table_def.h"

namespace corvalin::engine {

// Gives each column its number and ordinal position (its place in the
// list), its variable-table slot or fixed-area offset, its storage length
// (from `length`: characters for Text, bytes for Binary; ignored for the
// fixed types and long values) and its flags. Columns must carry name,
// type, length, autonumber, compressed_unicode, precision, scale and, for
// Text and Memo, sort_order and sort_version.
void LayOutColumns(const JetFormat& format, std::vector<ColumnDef>& columns);

// Writes the definition of `table` (columns laid out, indexes with their
// numbers, columns, flags and type; one real index per logical index,
// real_index_number == index_number) through the save's pages: allocates
// the first TDEF page, the usage map page(s), one empty root leaf per index
// and the continuation pages, in that order, and enters them as used in the
// global usage map. Fills in table.page, the map row pointers, the indexes'
// root pages and maps, and long_value_maps. Jet4 and later only.
void WriteTableDefinition(PageWriteSet& pages, const JetFormat& format,
                          TableDef& table);

}  // namespace corvalin::engine
