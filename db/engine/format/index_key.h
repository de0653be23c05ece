// The key bytes of one index entry: what a leaf entry holds before its row
// pointer. The encoding of every indexable column type is described in
// index_key.cpp; text keys follow the column's sort order (text_index_codes.h).
#pragma once

#include <cstdint>
#include <vector>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/table_def.h"
#include "db/engine/value.h"

namespace corvalin::engine {

// The key of `row` (one value per table.columns, in that order) in `index`:
// the column keys one after another in the index's column order. Throws
// Error naming table and column when a value cannot be keyed: a type the
// column does not take, a number out of the column's range, a text under a
// sort order we do not know, or a character whose key code is unknown.
std::vector<uint8_t> EncodeIndexKey(const JetFormat& format, const TableDef& table,
                                    const IndexDef& index, const std::vector<Value>& row);
// The same into key (its room reused).
void EncodeIndexKey(const JetFormat& format, const TableDef& table, const IndexDef& index,
                    const std::vector<Value>& row, std::vector<uint8_t>& key);

// The key of one column value, appended to `out`: the flag byte (value or
// Null, ascending or descending) and the value's bytes.
void AppendColumnKey(const JetFormat& format, const TableDef& table,
                     const ColumnDef& column, bool ascending, const Value& value,
                     std::vector<uint8_t>& out);

// Whether the index holds an entry for the row: an index that ignores Nulls
// leaves out the rows whose indexed columns are all Null.
bool IndexHoldsRow(const TableDef& table, const IndexDef& index,
                   const std::vector<Value>& row);

// Whether the row's key may repeat in a unique index: Access takes a key in
// which any column is Null for unlike every other, as SQL does, so rows
// that share it are no duplicates. A Yes/No column is never Null.
bool KeyHasNull(const TableDef& table, const IndexDef& index, const std::vector<Value>& row);

// The column an index column names. Throws Error naming table and index when
// the table has no column with that number.
const ColumnDef& IndexedColumn(const TableDef& table, const IndexDef& index,
                               const IndexColumn& key_column, size_t* position);

}  // namespace corvalin::engine
