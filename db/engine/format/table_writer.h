// Adding rows to a table: the checks Access makes on a save, the row on a
// data page with room, its long values, every index, the usage maps and the
// table definition's counters, written as one save.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "db/engine/format/database.h"
#include "db/engine/format/index_writer.h"
#include "db/engine/format/long_value.h"
#include "db/engine/format/page_write_set.h"
#include "db/engine/format/row.h"
#include "db/engine/format/table_def.h"
#include "db/engine/value.h"

namespace corvalin::engine {

class TableWriter {
 public:
  // The database must be open for writing. Throws Error when the table is
  // one we cannot add rows to (calculated or complex columns), naming the
  // table and the reason.
  TableWriter(std::shared_ptr<Database> database, std::shared_ptr<const TableDef> table);

  const TableDef& table() const { return *table_; }

  // Adds one row: values[i] for table().columns[i], each Null or of the
  // column's own type. A Null AutoNumber gets the table's next number; a
  // given one is taken as it is and the next number moves past it. Refused
  // rows (a Null where a value is required, a text longer than its column,
  // a duplicate in a unique index, ...) throw Error and leave the file as
  // it was. When Insert returns, the row is saved: it survives the end of
  // the process, and reaches the file itself at the next sync point.
  RowId Insert(std::vector<Value> values);

 private:
  void Check(const std::vector<Value>& values) const;
  void Encode(size_t column, const Value& value, size_t room, NewField& field);
  uint32_t PageFor(size_t row_size);

  std::shared_ptr<Database> database_;
  std::shared_ptr<const TableDef> table_;
  const JetFormat& format_;
  PageWriteSet pages_;
  std::vector<LongValuePages> long_values_;  // per column
  uint32_t current_page_ = 0;                // data page tried first
  std::vector<size_t> real_indexes_;         // one logical index per b-tree
  IndexPageCache index_pages_;
  // Reused from save to save.
  std::vector<LongValuePages> saved_long_values_;
  std::vector<NewField> fields_;
  struct Key {
    const IndexDef* index = nullptr;
    std::vector<uint8_t> bytes;
    bool distinct = false;
    IndexSpot spot;
  };
  std::vector<Key> keys_;  // one per b-tree that holds the row
  std::vector<uint8_t> content_;       // a long value's bytes
  RowBuffers row_buffers_;
  std::vector<uint8_t> row_;
  size_t fixed_overhead_ = 0;          // FixedRowOverhead of the table
  std::vector<ValueContext> contexts_;  // per column, for errors
};

}  // namespace corvalin::engine
