// Adding rows to a table: the checks Access makes on a save, the row on a
// data page with room, its long values, every index, the usage maps and the
// table definition's counters, written as one save.
//
// The write rules. Every save keeps them; the functions that keep one name
// it ("rule 3"), and the structure check (check.cpp) names the rule a file
// breaks.
//
//  1. Checks before changes. No page changes before the record has passed
//     every check: the number of values, required values, the characters
//     an Access 97 code page lacks, Nulls in indexes that refuse them, the
//     AutoNumbers left, duplicates in unique indexes, the row's size. All
//     of a save's changes are held in its PageWriteSet, which writes none
//     of them before Commit; a refused record discards them, and the file
//     is as it was.
//  2. Order of writing. New pages are written before any page that points
//     to them, and the table definition after every other page of the save
//     (PageWriteSet writes its new pages first, then the changed pages in
//     the order they were first changed; the definition is changed last).
//  3. Every page marked. Every page a save allocates is marked in use in
//     the file's global usage map (map pages too), and belongs to exactly
//     one owner: a data page to its table, named in the page and in the
//     table's owned-pages map (and listed in the free-space map while it
//     takes rows); an index page to its index, named in the page and in
//     the index's map when the index has one; a long value page to its
//     column's owned-pages map when the column has one.
//  4. The definition's counters. The row count, the last AutoNumber given
//     and every real index's count of distinct keys are written in the
//     same save as the row: the row count is the number of live rows.
//  5. Every row in every index. A saved row has one entry in each index
//     that holds it, with its row's key, in key order; an intermediate
//     entry carries the last key under its child; a unique index holds no
//     key twice, Nulls aside.
//  6. Free space as it is. A data page records exactly the free space it
//     has, as a row goes only where its page says there is room.
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
  // it was (rule 1). When Insert returns, the row is saved: it survives the
  // end of the process, and reaches the file itself at the next sync point.
  RowId Insert(std::vector<Value> values) { return InsertRow(values); }
  // The same with the caller's own values, which it keeps for its next row
  // (a Null AutoNumber among them comes back filled in).
  RowId InsertRow(std::vector<Value>& values);

 private:
  // The definition's counters as the save found them.
  struct Counters {
    uint32_t row_count = 0;
    uint32_t last_number = 0;  // the last AutoNumber given
  };
  // The steps of a save, in order.
  void GiveNumbers(std::vector<Value>& values, Counters& counters);
  void PadFixedText(std::vector<Value>& values) const;
  void Check(const std::vector<Value>& values) const;
  // The unique index the record would put a duplicate into, or null.
  const IndexDef* MakeKeys(const std::vector<Value>& values);
  RowId PlaceRow(const std::vector<Value>& values);
  void MarkNewPagesUsed();
  void WriteCounters(const Counters& counters);

  bool RefusesDuplicate(const IndexDef& index, const std::vector<Value>& values) const;
  void Encode(size_t column, const Value& value, size_t room, NewField& field);
  uint32_t PageFor(size_t row_size);

  std::shared_ptr<Database> database_;
  std::shared_ptr<const TableDef> table_;
  const JetFormat& format_;
  PageWriteSet pages_;
  std::vector<LongValuePages> long_values_;  // per column
  uint32_t current_page_ = 0;                // data page tried first
  std::vector<size_t> real_indexes_;         // one logical index per b-tree
  std::vector<size_t> fixed_text_;           // fixed-length text columns
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
