// The table definition (TDEF) page chain.
//
// Page header: type 0x02 at 0, next TDEF page (4 bytes) at 4, 0 on the last.
// The definition is the first page followed by bytes 8.. of each next page.
//
// | Field                  | Jet3 | Jet4/ACE | Size        |
// |------------------------|------|----------|-------------|
// | definition length      | 8    | 8        | 4           |
// | row count              | 12   | 16       | 4           |
// | next autonumber        | 16   | 20       | 4           |
// | table type             | 20   | 40       | 1           |
// | max columns            | 21   | 41       | 2           |
// | variable columns       | 23   | 43       | 2           |
// | columns                | 25   | 45       | 2           |
// | logical indexes        | 27   | 47       | 4           |
// | real indexes           | 31   | 51       | 4           |
// | owned pages map        | 35   | 55       | 4 row ptr   |
// | free space pages map   | 39   | 59       | 4 row ptr   |
// | real index entries     | 43   | 63       | 8 / 12 each |
// Then, in order: column entries (18 / 25 bytes), column names (1-byte
// length + code page text / 2-byte length + UCS-2), real index column
// blocks (39 / 52 bytes), logical index entries (20 / 28 bytes), logical
// index names, then (Jet4+) the usage maps of long value columns: column
// number 2, owned pages map 4, free space map 4, ended by 0xFFFF.
//
// Column entry           | Jet3 | Jet4/ACE
// type                   | 0    | 0
// column number          | 1    | 5   (2 bytes; the null-mask bit)
// variable table index   | 3    | 7   (2 bytes)
// column index           | 5    | 9   (2 bytes)
// text: code page        | 11   | -   (2 bytes)  sort order: 9 / 11
// decimal precision/scale| 11/12| 11/12
// flags                  | 13   | 15  (0x01 fixed, 0x02 nullable, 0x04 auto,
//                        |      |      0x40 GUID auto, 0x80 hyperlink)
// extended flags         | -    | 16  (0x01 compressed text, 0xC0 calculated)
// fixed data offset      | 14   | 21  (2 bytes)
// length                 | 16   | 23  (2 bytes)
//
// Real index column block: [Jet4: 4 unknown] 10 × (column number 2, order
// flags 1: 0x01 ascending; 0xFFFF unused), usage map 4, first page 4,
// [Jet4: 4 unknown] flags 1 [Jet4: 5 unknown].
// Logical index entry: [Jet4: 4 unknown] index number 4, real index 4,
// foreign key data 11 (rel type 1, rel index 4, rel table 4, cascade 2),
// index type 1 (1 primary key, 2 foreign key) [Jet4: 4 unknown].
//
// Columns are handed out in the table's field order, the order Access gives
// for SELECT * and the one the append copies by: the column index field,
// which in every Access-made definition runs in step with the order of the
// entries. It is not the column number (the null-mask bit): a column
// inserted in the middle gets the next free number and deleting one leaves
// a gap, while Access renumbers the column index (a file with col1, col3
// inserted before col2: numbers 0 2 1, indexes 0 1 2, entries col1 col3
// col2). Tables that Jet makes itself (MSys*) hold 0 in every column index
// and their entries in name order, which is how Access shows their fields;
// the stable sort keeps the entry order there.
#include <algorithm>
#include <set>

#include "db/engine/format/coding.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/table_def_layout.h"
#include "db/engine/format/table_def_reader.h"
#include "db/engine/format/text_codec.h"

namespace corvalin::engine {
namespace {

using tdef::kIndexColumnSlots;
using tdef::kUnusedColumn;
using tdef::ColumnLayout;
constexpr uint8_t kTdefPageType = tdef::kPageType;

std::vector<uint8_t> LoadChain(PageFile& file, uint32_t first_page,
                               const std::string& name) {
  std::vector<uint8_t> out;
  std::set<uint32_t> visited;
  uint32_t page = first_page;
  while (page != 0) {
    if (page >= file.page_count() || !visited.insert(page).second)
      throw DamagedPage(file.path(), page,
                        "the definition of table " + name +
                            " continues to a bad page");
    PagePtr data = file.Read(page);
    if (data->size() < 8 || (*data)[0] != kTdefPageType)
      throw DamagedPage(file.path(), page,
                        "not a table definition page (table " + name + ")");
    const auto& d = *data;
    out.insert(out.end(), d.begin() + (out.empty() ? 0 : 8), d.end());
    page = Read32(d, tdef::kNextPageOffset);
  }
  return out;
}

// One column's entry at offset e of the definition (its name comes later).
ColumnDef ReadColumnEntry(const ByteReader& r, const ColumnLayout& lay, size_t e) {
  ColumnDef c;
  c.type = static_cast<DataType>(r.U8(e));
  c.column_id = r.U16(e + lay.number);
  c.var_index = r.U16(e + lay.var_index);
  c.column_index = r.U16(e + lay.column_index);
  c.flags = r.U8(e + lay.flags);
  c.fixed_offset = r.U16(e + lay.fixed_offset);
  c.length = r.U16(e + lay.length);
  c.fixed = (c.flags & 0x01) != 0;
  c.autonumber = (c.flags & 0x04) != 0;
  c.guid_autonumber = (c.flags & 0x40) != 0;
  c.hyperlink = (c.flags & 0x80) != 0 && c.type == DataType::kMemo;
  if (c.type == DataType::kDecimal) {
    c.precision = r.U8(e + lay.precision);
    c.scale = r.U8(e + lay.scale);
  }
  if (c.type == DataType::kText || c.type == DataType::kMemo) {
    c.sort_order = r.U16(e + lay.sort_order);
    if (lay.code_page != SIZE_MAX) c.code_page = r.U16(e + lay.code_page);
    if (lay.sort_version != SIZE_MAX) c.sort_version = r.U8(e + lay.sort_version);
  }
  if (lay.ext_flags != SIZE_MAX) {
    uint8_t ext = r.U8(e + lay.ext_flags);
    c.compressed_unicode = (ext & 0x01) != 0;
    c.calculated = (ext & 0xC0) != 0;
  }
  return c;
}

// The real indexes (the b-trees) and then the logical ones (the names and
// kinds that point at them), from offset at; at ends past both.
std::vector<IndexDef> ReadIndexEntries(const ByteReader& r, const JetFormat& format,
                                       uint32_t real_count, uint32_t logical_count, size_t& at) {
  const ColumnLayout& lay = *format.tdef_column_layout;
  struct RealIndex {
    std::vector<IndexColumn> columns;
    uint32_t used_pages = 0, first_page = 0;
    uint8_t flags = 0;
  };
  std::vector<RealIndex> reals(real_count);
  for (RealIndex& ri : reals) {
    at += lay.index_skip;
    for (int s = 0; s < kIndexColumnSlots; ++s) {
      uint16_t col = r.U16(at);
      uint8_t order = r.U8(at + 2);
      at += 3;
      if (col != kUnusedColumn) ri.columns.push_back({col, (order & 0x01) != 0});
    }
    ri.used_pages = r.U32(at);
    ri.first_page = r.U32(at + 4);
    at += 8 + lay.index_skip;
    ri.flags = r.U8(at);
    at += 1 + format.tdef_real_index_tail;
  }
  std::vector<IndexDef> indexes;
  for (uint32_t i = 0; i < logical_count; ++i) {
    at += lay.index_skip;
    IndexDef x;
    x.index_number = static_cast<int32_t>(r.U32(at));
    x.real_index_number = static_cast<int32_t>(r.U32(at + 4));
    x.index_type = r.U8(at + 19);
    at += 20 + lay.index_skip;
    if (x.real_index_number < 0 || uint32_t(x.real_index_number) >= real_count)
      throw DamagedPage(r.where(), "index " + std::to_string(i) + " names no real index");
    const RealIndex& ri = reals[x.real_index_number];
    x.columns = ri.columns;
    x.first_page = ri.first_page;
    x.used_pages = ri.used_pages;
    x.flags = ri.flags;
    x.primary = x.index_type == 1;
    x.foreign = x.index_type == 2;
    x.unique = x.primary || (ri.flags & 0x01) != 0;
    indexes.push_back(std::move(x));
  }
  return indexes;
}

}  // namespace

TableDef ReadTableDefinition(PageFile& file, const JetFormat& format,
                             uint32_t first_page, const std::string& name) {
  std::vector<uint8_t> bytes = LoadChain(file, first_page, name);
  const ByteReader r(bytes, {.file = file.path(),
                            .page = first_page,
                            .table = name,
                            .part = "definition"});

  TableDef t;
  t.name = name;
  t.page = first_page;
  t.row_count = r.U32(format.tdef_row_count_offset);
  t.next_autonumber = r.U32(format.tdef_autonumber_offset);
  t.table_type = r.U8(format.tdef_table_type_offset);
  t.max_columns = r.U16(format.tdef_max_columns_offset);
  t.var_columns = r.U16(format.tdef_var_columns_offset);
  uint16_t column_count = r.U16(format.tdef_column_count_offset);
  uint32_t logical_count = r.U32(format.tdef_index_count_offset);
  uint32_t real_count = r.U32(format.tdef_real_index_count_offset);
  t.owned_pages_map = r.U32(format.tdef_owned_pages_offset);
  t.free_pages_map = r.U32(format.tdef_free_pages_offset);
  // Access allows 255 columns and 32 indexes; larger counts are damage and
  // would make us allocate without bound.
  if (column_count > 4096 || logical_count > 1024 || real_count > 1024)
    throw DamagedPage(r.where(), "it counts more columns or indexes than a table can have");

  size_t at = format.tdef_index_entries_offset +
              size_t(real_count) * format.tdef_real_index_entry_size;
  auto read_name = [&]() {
    size_t len = format.tdef_name_length_size == 1 ? r.U8(at) : r.U16(at);
    at += format.tdef_name_length_size;
    auto text = r.Bytes(at, len, "a name");
    at += len;
    return format.unicode_text ? DecodeUnicodeText(text) : DecodeCodePageText(text, 1252);
  };

  for (uint16_t i = 0; i < column_count; ++i)
    t.columns.push_back(ReadColumnEntry(r, *format.tdef_column_layout,
                                        at + size_t(i) * format.tdef_column_entry_size));
  at += size_t(column_count) * format.tdef_column_entry_size;
  for (ColumnDef& c : t.columns) c.name = read_name();
  std::stable_sort(t.columns.begin(), t.columns.end(),
                   [](const ColumnDef& a, const ColumnDef& b) {
                     return a.column_index < b.column_index;
                   });

  t.indexes = ReadIndexEntries(r, format, real_count, logical_count, at);
  for (IndexDef& x : t.indexes) x.name = read_name();
  // Jet4+: the usage maps of long value columns, until a column number of
  // 0xFFFF (or the end of the definition).
  while (format.tdef_long_value_maps && at + 2 <= r.size()) {
    uint16_t col = r.U16(at);
    if (col == kUnusedColumn || at + 10 > r.size()) break;
    t.long_value_maps.push_back({col, r.U32(at + 2), r.U32(at + 6)});
    at += 10;
  }
  return t;
}

}  // namespace corvalin::engine
