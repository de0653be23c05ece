// One stored row split into its column values (DecodeRow is declared in
// table_def_reader.h with the other readers).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/table_def.h"

namespace corvalin::engine {

// Where each column's bytes lie in the row, before decoding.
struct RowField {
  bool present = false;  // the null-mask bit (a Boolean's value)
  bool stored = false;   // the row has bytes for the column
  std::span<const uint8_t> bytes;
};

// Splits row into one field per column of table.columns. Throws Error when
// the row's own tables (null mask, variable offsets) run outside the row.
std::vector<RowField> SplitRow(const JetFormat& format, const TableDef& table,
                               std::span<const uint8_t> row,
                               const std::string& file);

// What a new row holds for one column: whether it is present (its null
// mask bit; a Boolean's value) and its stored bytes (fixed columns: exactly
// the column's length; long values: header and any inline bytes).
struct NewField {
  bool present = false;
  std::vector<uint8_t> bytes;
};

// Lays out a new row from one field per column of table.columns, in the
// format's row layout (row.cpp).
std::vector<uint8_t> EncodeRow(const JetFormat& format, const TableDef& table,
                               const std::vector<NewField>& fields);

// The same into row, with buffers kept from row to row. Buffers serve the
// rows of one table (its definition must outlive them): they keep the
// sizes its definition gives every row.
struct RowBuffers {
  std::vector<uint8_t> head;
  std::vector<uint8_t> mask;
  std::vector<const NewField*> by_slot;
  std::vector<size_t> offsets;
  const TableDef* table = nullptr;  // the sizes below are this table's
  size_t columns = 0, vars = 0, fixed_end = 0;
};
void EncodeRow(const JetFormat& format, const TableDef& table,
               const std::vector<NewField>& fields, RowBuffers& buffers,
               std::vector<uint8_t>& row);

// The room a row leaves for variable data once fixed data and the row's
// own tables are counted: what long values may take inline.
size_t FixedRowOverhead(const JetFormat& format, const TableDef& table);

}  // namespace corvalin::engine
