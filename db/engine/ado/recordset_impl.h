// What a record set holds: either the rows of one table, read one at a time
// through a fixed list of row ids, or a small rowset built in memory (the
// tables schema).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/engine/ado/recordset.h"
#include "db/engine/format/database.h"
#include "db/engine/format/page_window.h"
#include "db/engine/format/table_writer.h"

namespace corvalin::ado {

struct Recordset::Impl {
  // Table rows.
  std::shared_ptr<engine::Database> database;
  std::shared_ptr<const engine::TableDef> table;
  std::shared_ptr<const std::vector<engine::RowId>> row_ids;
  // The rows' pages, read a window at a time as the record set moves on.
  std::unique_ptr<engine::PageWindow> pages;
  // The current row, read on first use; its storage is kept from row to
  // row, so that moving on allocates nothing.
  mutable std::vector<Variant> current;
  mutable bool current_read = false;

  // In-memory rows (schema rowsets).
  std::vector<std::vector<Variant>> memory_rows;
  bool in_memory = false;

  size_t position = 0;
  bool read_only = true;

  // The write side: whether AddNew started a record, its values (one per
  // column) and which of them were set since, and the writer that saves it
  // (made on the first AddNew). The values are kept from record to record
  // with the storage of their texts; a column not set is saved as Null.
  bool adding = false;
  std::vector<Variant> pending;
  std::vector<uint8_t> assigned;
  std::unique_ptr<engine::TableWriter> writer;

  size_t RowCount() const { return in_memory ? memory_rows.size() : row_ids->size(); }
  // The current row's values; throws when there is none.
  const std::vector<Variant>& CurrentRow() const {
    // Read once for each row: only a row read since the last move is.
    return current_read ? current : ReadCurrentRow();
  }
  const std::vector<Variant>& ReadCurrentRow() const;
};

}  // namespace corvalin::ado
