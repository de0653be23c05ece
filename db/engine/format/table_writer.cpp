// The table definition counters a save keeps (offsets in jet_format):
// the row count, the last AutoNumber given, and per real index the number
// of distinct keys (4 bytes into its entry), all on the first TDEF page.
#include "db/engine/format/table_writer.h"

#include <algorithm>
#include <random>
#include <set>

#include "db/engine/error.h"
#include "db/engine/format/coding.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/index_key.h"
#include "db/engine/format/index_writer.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/row.h"
#include "db/engine/format/usage_map.h"
#include "db/engine/format/value_encoder.h"

namespace corvalin::engine {
namespace {

constexpr size_t kDistinctKeysOffset = 4;  // within a real index entry

bool IsLongValue(const ColumnDef& c) {
  return c.type == DataType::kMemo || c.type == DataType::kOle;
}

// A random (version 4) GUID for a Replication ID AutoNumber.
Guid NewGuid() {
  static std::mt19937_64 random{std::random_device{}()};
  Guid g;
  for (size_t b = 0; b < 16; b += 8) {
    uint64_t r = random();
    for (int k = 0; k < 8; ++k) g.bytes[b + k] = uint8_t(r >> (8 * k));
  }
  g.bytes[7] = uint8_t((g.bytes[7] & 0x0F) | 0x40);  // version 4
  g.bytes[8] = uint8_t((g.bytes[8] & 0x3F) | 0x80);
  return g;
}

}  // namespace

TableWriter::TableWriter(std::shared_ptr<Database> database,
                         std::shared_ptr<const TableDef> table)
    : database_(std::move(database)),
      format_(database_->format()),
      pages_(database_->file()) {
  auto copy = std::make_shared<TableDef>(*table);
  database_->ApplyRequiredColumns(*copy);
  table_ = copy;
  const std::string& file = database_->path();
  if (!database_->file().writable())
    throw Error(kErrReadOnly, "file " + file + " is open for reading only");
  for (const ColumnDef& c : table_->columns) {
    if (c.calculated)
      throw Error(kErrNotSupported, "table " + table_->name + " has the calculated column " +
                                        c.name + ", whose values Access computes; records "
                                        "cannot be added to it");
    if (c.type == DataType::kComplex)
      throw Error(kErrNotSupported, "table " + table_->name + " has the attachment or "
                                        "multi-valued column " + c.name +
                                        "; records cannot be added to it");
  }
  fixed_overhead_ = FixedRowOverhead(format_, *table_);
  long_values_.resize(table_->columns.size());
  for (const ColumnDef& c : table_->columns) contexts_.push_back({file, table_->name, c.name});
  for (size_t i = 0; i < table_->columns.size(); ++i) {
    for (const LongValueMaps& m : table_->long_value_maps) {
      if (m.column_id == table_->columns[i].column_id)
        long_values_[i] = {m.owned_map, m.free_map, 0};
    }
  }
  for (size_t i = 0; i < table_->columns.size(); ++i)
    if (table_->columns[i].fixed && table_->columns[i].type == DataType::kText)
      fixed_text_.push_back(i);
  std::set<int32_t> seen;
  for (size_t i = 0; i < table_->indexes.size(); ++i) {
    if (seen.insert(table_->indexes[i].real_index_number).second) real_indexes_.push_back(i);
  }
}

// Fixed-length text (a column made as CHAR(n)) fills its width: shorter
// text is padded with spaces, as Access pads it, before the keys are made,
// so that each key is the key of what is stored. Longer text is left to be
// refused as too long.
void TableWriter::PadFixedText(std::vector<Value>& values) const {
  for (size_t i : fixed_text_) {
    auto* s = std::get_if<std::string>(&values[i]);
    if (!s) continue;
    const ColumnDef& c = table_->columns[i];
    const size_t width = format_.unicode_text ? c.length / 2 : c.length;
    const size_t units = Utf8ToUtf16(*s).size();
    if (units < width) s->append(width - units, ' ');
  }
}

// Rule 1: the values' own checks, before any page changes.
void TableWriter::Check(const std::vector<Value>& values) const {
  const TableDef& t = *table_;
  if (values.size() != t.columns.size())
    throw Error(kErrInvalidArgument, "a record of table " + t.name + " needs " +
                                         std::to_string(t.columns.size()) + " values");
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    if (IsNull(values[i]) && c.required && !c.autonumber)
      throw Error(kErrRequired, "column " + c.name + " of table " + t.name +
                                    " cannot contain a Null value");
  }
  // A character an Access 97 file's code page lacks refuses the record
  // naming its column, before an index key of the text is attempted.
  if (!format_.unicode_text) {
    for (size_t i = 0; i < t.columns.size(); ++i) {
      const ColumnDef& c = t.columns[i];
      const auto* s = std::get_if<std::string>(&values[i]);
      if (s && (c.type == DataType::kText || c.type == DataType::kMemo))
        EncodeText(format_, c, *s, 0, contexts_[i]);
    }
  }
  for (const IndexDef& x : t.indexes) {
    if (!x.primary && !(x.flags & 0x08)) continue;
    for (const IndexColumn& k : x.columns) {
      size_t pos = 0;
      const ColumnDef& c = IndexedColumn(t, x, k, &pos);
      if (IsNull(values[pos]))
        throw Error(kErrRequired, "column " + c.name + " of table " + t.name +
                                      " is in index " + x.name +
                                      ", which cannot contain a Null value");
    }
  }
}

void TableWriter::Encode(size_t i, const Value& value, size_t room, NewField& f) {
  const ColumnDef& c = table_->columns[i];
  const ValueContext& where = contexts_[i];
  f.present = false;
  f.bytes.clear();
  if (c.type == DataType::kBoolean) {
    if (IsNull(value)) return;  // a Yes/No column stores No for Null
    const bool* b = std::get_if<bool>(&value);
    if (!b) throw Error(kErrTypeMismatch, "the value for column " + c.name + " of table " +
                                              table_->name + " is not Yes/No");
    f.present = *b;
    return;
  }
  if (IsNull(value)) return;
  f.present = true;
  if (c.fixed && c.type == DataType::kText) {
    const auto* s = std::get_if<std::string>(&value);
    if (!s) throw Error(kErrTypeMismatch, "the value for column " + c.name + " of table " +
                                              table_->name + " is not text");
    // Stored whole, never compressed, its width filled (PadFixedText).
    ColumnDef whole = c;
    whole.compressed_unicode = false;
    EncodeText(format_, whole, *s, format_.unicode_text ? c.length / 2 : c.length, where,
               f.bytes);
    if (f.bytes.size() != c.length)
      throw Error(kErrTooLong, "the text for column " + c.name + " of table " + table_->name +
                                   " does not fill its fixed width of " +
                                   std::to_string(c.length) + " bytes");
  } else if (c.fixed) {
    EncodeFixedValue(c, value, where, f.bytes);
  } else if (c.type == DataType::kText) {
    const auto* s = std::get_if<std::string>(&value);
    if (!s) throw Error(kErrTypeMismatch, "the value for column " + c.name + " of table " +
                                              table_->name + " is not text");
    size_t max_chars = format_.unicode_text ? c.length / 2 : c.length;
    EncodeText(format_, c, *s, max_chars, where, f.bytes);
  } else if (c.type == DataType::kBinary) {
    const auto* b = std::get_if<Bytes>(&value);
    if (!b) throw Error(kErrTypeMismatch, "the value for column " + c.name + " of table " +
                                              table_->name + " is not binary");
    if (c.length > 0 && b->size() > c.length)
      throw Error(kErrTooLong, "the value for column " + c.name + " of table " +
                                   table_->name + " has " + std::to_string(b->size()) +
                                   " bytes; the column holds " + std::to_string(c.length));
    f.bytes = *b;
  } else if (IsLongValue(c)) {
    std::vector<uint8_t>& content = content_;
    if (c.type == DataType::kMemo) {
      const auto* s = std::get_if<std::string>(&value);
      if (!s) throw Error(kErrTypeMismatch, "the value for column " + c.name + " of table " +
                                                table_->name + " is not text");
      EncodeText(format_, c, *s, 0, where, content);
    } else {
      const auto* b = std::get_if<Bytes>(&value);
      if (!b) throw Error(kErrTypeMismatch, "the value for column " + c.name + " of table " +
                                                table_->name + " is not binary");
      content = *b;
    }
    f.bytes = WriteLongValue(pages_, format_, long_values_[i], content, room, where);
  } else {
    throw Error(kErrNotSupported, "column " + c.name + " of table " + table_->name +
                                      " has a type records cannot be added for");
  }
}

// The data page that takes a row of `row_size` bytes: the one the last row
// went to, or the last the free-space map lists, while it has room (rule
// 6: by its recorded free space); else a new one, owned by the table and
// listed as having room (rule 3), the full one leaving the free-space map.
uint32_t TableWriter::PageFor(size_t row_size) {
  const TableDef& t = *table_;
  auto usable = [&](uint32_t n) {
    const PageData& p = pages_.View(n);
    return p[0] == kDataPageType && DataPageOwner(p, format_) == t.page &&
           RowFitsOnDataPage(p, format_, row_size);
  };
  if (current_page_ == 0) {
    // Start from the last page with free space, as the table's map says.
    std::vector<uint32_t> free = ReadUsageMap(pages_.file(), format_, t.free_pages_map);
    if (!free.empty()) current_page_ = free.back();
  }
  if (current_page_ != 0 && current_page_ < pages_.file().page_count() + pages_.allocated().size() &&
      usable(current_page_))
    return current_page_;
  if (current_page_ != 0 && current_page_ < pages_.file().page_count() &&
      pages_.View(current_page_)[0] == kDataPageType &&
      DataPageOwner(pages_.View(current_page_), format_) == t.page)
    SetUsageMapBit(pages_, format_, t.free_pages_map, current_page_, false,
                   UsageMapKind::kOwnership);
  uint32_t page = pages_.Allocate();
  InitZeroedDataPage(pages_.Modify(page), format_, t.page);
  SetUsageMapBit(pages_, format_, t.owned_pages_map, page, true, UsageMapKind::kOwnership);
  SetUsageMapBit(pages_, format_, t.free_pages_map, page, true, UsageMapKind::kOwnership);
  current_page_ = page;
  return page;
}

// Numbers: AutoNumbers first, so that the checks and the keys see the
// final values.
void TableWriter::GiveNumbers(std::vector<Value>& values, Counters& counters) {
  const TableDef& t = *table_;
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    if (c.autonumber && c.type == DataType::kLong) {
      if (IsNull(values[i])) {
        if (counters.last_number >= 0x7FFFFFFF)
          throw Error(kErrTooLong, "table " + t.name + " has used up its AutoNumbers");
        values[i] = static_cast<int32_t>(counters.last_number + 1);
      }
      if (const auto* v = std::get_if<int32_t>(&values[i]);
          v && *v > 0 && uint32_t(*v) > counters.last_number)
        counters.last_number = uint32_t(*v);
    } else if (c.guid_autonumber && IsNull(values[i])) {
      values[i] = NewGuid();
    }
  }
}

// Keys (rule 1): every index's key and where it goes, and the unique
// indexes' refusals, before any page changes.
const IndexDef* TableWriter::MakeKeys(const std::vector<Value>& values) {
  const TableDef& t = *table_;
  keys_.resize(real_indexes_.size());
  size_t key_count = 0;
  for (size_t i : real_indexes_) {
    const IndexDef& x = t.indexes[i];
    if (!IndexHoldsRow(t, x, values)) continue;
    Key& k = keys_[key_count];
    k.index = &x;
    EncodeIndexKey(format_, t, x, values, k.bytes);
    k.distinct = false;
    k.spot = FindIndexSpot(pages_, index_pages_, format_, x, k.bytes);
    k.distinct = !k.spot.has_key;
    if (!k.distinct && RefusesDuplicate(x, values)) return &x;
    ++key_count;
  }
  keys_.resize(key_count);
  return nullptr;
}

bool TableWriter::RefusesDuplicate(const IndexDef& x, const std::vector<Value>& values) const {
  const TableDef& t = *table_;
  bool unique = false;
  for (const IndexDef& y : t.indexes)
    if (y.real_index_number == x.real_index_number && y.unique) unique = true;
  return unique && !KeyHasNull(t, x, values);
}

// The row, encoded (its long values written to their pages: they take the
// room the row has left) and checked for size (rule 1), then placed on a
// data page with room (rules 3 and 6).
RowId TableWriter::PlaceRow(const std::vector<Value>& values) {
  const TableDef& t = *table_;
  size_t room = format_.max_row_size > fixed_overhead_
                    ? format_.max_row_size - fixed_overhead_
                    : 0;
  fields_.resize(t.columns.size());
  for (size_t i = 0; i < t.columns.size(); ++i) {
    if (!IsLongValue(t.columns[i])) {
      Encode(i, values[i], 0, fields_[i]);
      room -= std::min(room, fields_[i].bytes.size());
    }
  }
  for (size_t i = 0; i < t.columns.size(); ++i) {
    if (IsLongValue(t.columns[i])) {
      Encode(i, values[i], room, fields_[i]);
      room -= std::min(room, fields_[i].bytes.size());
    }
  }
  EncodeRow(format_, t, fields_, row_buffers_, row_);
  if (row_.size() > format_.max_row_size)
    throw Error(kErrTooLong, "the record is too large for table " + t.name + " (" +
                                 std::to_string(row_.size()) + " bytes; a row holds " +
                                 std::to_string(format_.max_row_size) + ")");
  uint32_t page = PageFor(row_.size());
  return RowId{page, AddDataPageRow(pages_, page, format_, row_)};
}

// Rule 3: every page this save allocated, map pages included (marking one
// may allocate another, which the loop then reaches), is in use in the
// file's global map.
void TableWriter::MarkNewPagesUsed() {
  for (size_t n = 0; n < pages_.allocated().size(); ++n)
    SetUsageMapBit(pages_, format_, kGlobalUsageMapRow, pages_.allocated()[n], false,
                   UsageMapKind::kGlobalFree);
}

// Counters (rules 2 and 4): the table definition is changed last, so that
// it is written after every other page of the save.
void TableWriter::WriteCounters(const Counters& counters) {
  // Four bytes each: the set learns that nothing else changes.
  auto field = [&](size_t at) -> PageData& {
    return pages_.Modify(table_->page, {uint32_t(at), uint32_t(at + 4)});
  };
  const DamagedAt where{.file = database_->path(), .page = table_->page, .table = table_->name};
  Write32(field(format_.tdef_row_count_offset), format_.tdef_row_count_offset,
          counters.row_count + 1, where, "the row count");
  Write32(field(format_.tdef_autonumber_offset), format_.tdef_autonumber_offset,
          counters.last_number, where, "the last AutoNumber");
  for (const Key& k : keys_) {
    if (!k.distinct) continue;
    size_t at = format_.tdef_index_entries_offset +
                size_t(k.index->real_index_number) * format_.tdef_real_index_entry_size +
                kDistinctKeysOffset;
    PageData& def = field(at);
    if (Fits(def.size(), at, 4)) Write32(def, at, Read32(def, at) + 1);
  }
}

RowId TableWriter::InsertRow(std::vector<Value>& values) {
  database_->BeginWrite();
  const uint32_t saved_page = current_page_;
  saved_long_values_ = long_values_;
  index_pages_.Begin(pages_.file());
  // Until the entries go in, the cache holds only what the file holds: a
  // record refused before then (a duplicate key) keeps it.
  bool indexes_changed = false;
  const IndexDef* duplicate = nullptr;
  try {
    const ByteReader tdef(pages_.View(table_->page),
                          {.file = database_->path(), .page = table_->page,
                           .table = table_->name});
    Counters counters{tdef.U32(format_.tdef_row_count_offset, "the row count"),
                      tdef.U32(format_.tdef_autonumber_offset, "the last AutoNumber")};
    GiveNumbers(values, counters);
    PadFixedText(values);
    Check(values);
    duplicate = MakeKeys(values);
    if (!duplicate) {
      const RowId id = PlaceRow(values);
      indexes_changed = true;
      // Rule 5: an entry in every index that holds the row.
      for (const Key& k : keys_)
        InsertIndexEntry(pages_, index_pages_, format_, *k.index, table_->page, k.bytes, id,
                         &k.spot);
      MarkNewPagesUsed();
      WriteCounters(counters);
      pages_.Commit();  // rule 2
      index_pages_.Committed(pages_.file());
      return id;
    }
  } catch (...) {
    // Rule 1: nothing of a refused record reaches the file.
    pages_.Discard();
    if (indexes_changed) index_pages_.Clear();
    current_page_ = saved_page;
    long_values_ = saved_long_values_;
    throw;
  }
  // A duplicate key refuses the record before the row is placed, when the
  // save has changed nothing yet. Its error is thrown here, past the
  // handler, so that it unwinds once: a run of records appended a second
  // time refuses every one, and the handler's rethrow cost as much again as
  // the throw.
  pages_.Discard();
  throw Error(kErrDuplicateKey, "the record would put a duplicate value in index " +
                                    duplicate->name + " of table " + table_->name + " (file " +
                                    database_->path() + ")");
}

}  // namespace corvalin::engine
