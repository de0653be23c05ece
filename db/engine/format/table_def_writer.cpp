// Writing a new table definition (Jet4 and later).
//
// A new table's usage maps are rows of a data page of their own (owner 0):
// row 0 the owned-pages map, row 1 the free-space map, then one map per
// index (its root page already in it), then two per long value column
// (owned, free). Each is an inline map of usage_map.cpp's size for new
// tables; the writers turn them into reference maps when the file outgrows
// them. A table with more maps than one page holds continues on another.
#include "db/engine/format/table_def_writer.h"

#include <algorithm>

#include "db/engine/error.h"
#include "db/engine/format/coding.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/table_def_layout.h"
#include "db/engine/format/usage_map.h"
#include "db/engine/format/value_encoder.h"

namespace corvalin::engine {
namespace {

using namespace tdef;

void AppendName(std::vector<uint8_t>& b, const std::string& name) {
  std::u16string text = Utf8ToUtf16(name);
  Append16(b, uint16_t(text.size() * 2));
  for (char16_t u : text) Append16(b, uint16_t(u));
}

bool IsLongValue(DataType type) {
  return type == DataType::kMemo || type == DataType::kOle;
}

// The stored size of a fixed-length type; 0 for variable-length ones.
uint16_t FixedSize(DataType type) {
  switch (type) {
    case DataType::kBoolean: return 1;  // its value lives in the null mask
    case DataType::kByte: return 1;
    case DataType::kInteger: return 2;
    case DataType::kLong: case DataType::kSingle: return 4;
    case DataType::kCurrency: case DataType::kDouble: case DataType::kDateTime:
    case DataType::kBigInt:
      return 8;
    case DataType::kReplicationId: return 16;
    case DataType::kDecimal: return 17;
    default: return 0;
  }
}

// Adds usage map rows to data pages allocated as they fill.
class MapRows {
 public:
  MapRows(PageWriteSet& pages, const JetFormat& format)
      : pages_(pages), format_(format) {}
  uint32_t Add(const std::vector<uint8_t>& row) {
    if (page_ == 0 || !RowFitsOnDataPage(pages_.View(page_), format_, row.size())) {
      page_ = pages_.Allocate();
      InitDataPage(pages_.Modify(page_), format_, 0);
    }
    uint16_t n = AddDataPageRow(pages_.Modify(page_), format_, row);
    return EncodeRowPointer(page_, n);
  }

 private:
  PageWriteSet& pages_;
  const JetFormat& format_;
  uint32_t page_ = 0;
};

}  // namespace

void LayOutColumns(const JetFormat& format, std::vector<ColumnDef>& columns) {
  uint16_t fixed_offset = 0, var_index = 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    ColumnDef& c = columns[i];
    c.column_id = uint16_t(i);
    c.column_index = uint16_t(i);
    uint16_t size = FixedSize(c.type);
    c.fixed = size != 0;
    c.flags = kColumnUpdatable;
    if (c.fixed) {
      c.flags |= kColumnFixed;
      c.length = size;
      c.var_index = 0;
      c.fixed_offset = c.type == DataType::kBoolean ? 0 : fixed_offset;
      if (c.type != DataType::kBoolean) fixed_offset = uint16_t(fixed_offset + size);
    } else {
      c.fixed_offset = 0;
      c.var_index = var_index++;
      if (IsLongValue(c.type)) c.length = 0;
      else if (c.type == DataType::kText && format.unicode_text) c.length = uint16_t(c.length * 2);
    }
    if (c.autonumber) c.flags |= kColumnAutoNumber;
    if (c.guid_autonumber) c.flags |= kColumnGuidAutoNumber;
    if (c.hyperlink) c.flags |= kColumnHyperlink;
  }
}

namespace {

// The usage maps of a new table (owned and free pages, one per index, two
// per long-value column) and the empty root page of each index.
void MakeMapsAndRoots(PageWriteSet& pages, const JetFormat& format, TableDef& table) {
  MapRows maps(pages, format);
  table.owned_pages_map = maps.Add(NewInlineUsageMap(0, {}));
  table.free_pages_map = maps.Add(NewInlineUsageMap(0, {}));
  for (IndexDef& x : table.indexes) {
    x.first_page = pages.Allocate();
    IndexPage root;
    root.leaf = true;
    root.owner = table.page;
    if (!EncodeIndexPage(root, format, pages.Modify(x.first_page)))
      throw Error(kErrDamagedFile, "cannot lay out the root page of index " + x.name);
    x.used_pages = maps.Add(NewInlineUsageMap(x.first_page, {x.first_page}));
  }
  table.long_value_maps.clear();
  for (const ColumnDef& c : table.columns) {
    if (!IsLongValue(c.type)) continue;
    uint32_t owned = maps.Add(NewInlineUsageMap(0, {}));
    uint32_t free = maps.Add(NewInlineUsageMap(0, {}));
    table.long_value_maps.push_back({c.column_id, owned, free});
  }
}

// The column entries, in the column layout of the format.
void AppendColumnEntries(std::vector<uint8_t>& b, const JetFormat& format,
                         const std::vector<ColumnDef>& columns) {
  const ColumnLayout& lay = *format.tdef_column_layout;
  for (const ColumnDef& c : columns) {
    const size_t e = b.size();
    b.resize(e + format.tdef_column_entry_size, 0);
    b[e] = uint8_t(c.type);
    Write32(b, e + kColumnMagicOffset, kTableMagic);
    Write16(b, e + lay.number, c.column_id);
    Write16(b, e + lay.var_index, c.var_index);
    Write16(b, e + lay.column_index, c.column_index);
    if (c.type == DataType::kText || c.type == DataType::kMemo) {
      Write16(b, e + lay.sort_order, c.sort_order);
      b[e + lay.sort_version] = c.sort_version;
    } else if (c.type == DataType::kDecimal) {
      b[e + lay.precision] = c.precision;
      b[e + lay.scale] = c.scale;
    }
    b[e + lay.flags] = c.flags;
    b[e + lay.ext_flags] = c.compressed_unicode ? kExtCompressedUnicode : 0;
    Write16(b, e + lay.fixed_offset, c.fixed_offset);
    Write16(b, e + lay.length, c.length);
  }
}

// The real index entries (columns, usage map, root page, flags) and then
// the logical ones, one real index per logical index.
void AppendIndexEntries(std::vector<uint8_t>& b, const std::vector<IndexDef>& indexes) {
  for (const IndexDef& x : indexes) {
    const size_t e = b.size();
    b.resize(e + kJet4RealIndexBlockSize, 0);
    Write32(b, e, kIndexMagic);
    for (int s = 0; s < kIndexColumnSlots; ++s) {
      size_t at = e + 4 + size_t(s) * 3;
      if (size_t(s) < x.columns.size()) {
        Write16(b, at, x.columns[s].column_id);
        b[at + 2] = x.columns[s].ascending ? kColumnAscending : 0;
      } else {
        Write16(b, at, kUnusedColumn);
      }
    }
    Write32(b, e + 4 + kIndexColumnSlots * 3, x.used_pages);
    Write32(b, e + 8 + kIndexColumnSlots * 3, x.first_page);
    b[e + kJet4IndexFlagsOffset] = x.flags;
  }
  for (const IndexDef& x : indexes) {
    Append32(b, kTableMagic);
    Append32(b, uint32_t(x.index_number));
    Append32(b, uint32_t(x.real_index_number));
    b.push_back(0);                  // related table type
    Append32(b, kNoRelatedIndex);    // related index
    Append32(b, 0);                  // related table
    b.push_back(0);                  // cascade updates
    b.push_back(0);                  // cascade deletes
    b.push_back(x.index_type);
    Append32(b, 0);
  }
}

// The definition bytes, as if on one page.
std::vector<uint8_t> DefinitionBytes(const JetFormat& format, TableDef& table) {
  std::vector<uint8_t> b(format.tdef_index_entries_offset, 0);
  b[0] = kPageType;
  b[1] = 0x01;
  Write32(b, kMagicOffset, kTableMagic);
  Write32(b, format.tdef_row_count_offset, 0);
  Write32(b, format.tdef_autonumber_offset, 0);
  b[kAutoNumberEnabledOffset] = 1;
  b[format.tdef_table_type_offset] = table.table_type;
  uint16_t var_columns = 0;
  for (const ColumnDef& c : table.columns) var_columns += c.fixed ? 0 : 1;
  table.max_columns = uint16_t(table.columns.size());
  table.var_columns = var_columns;
  Write16(b, format.tdef_max_columns_offset, table.max_columns);
  Write16(b, format.tdef_var_columns_offset, var_columns);
  Write16(b, format.tdef_column_count_offset, uint16_t(table.columns.size()));
  Write32(b, format.tdef_index_count_offset, uint32_t(table.indexes.size()));
  Write32(b, format.tdef_real_index_count_offset, uint32_t(table.indexes.size()));
  Write32(b, format.tdef_owned_pages_offset, table.owned_pages_map);
  Write32(b, format.tdef_free_pages_offset, table.free_pages_map);
  // Per real index: 4 unknown, distinct keys, 4 unknown; all 0 when empty.
  b.resize(b.size() + table.indexes.size() * format.tdef_real_index_entry_size, 0);

  AppendColumnEntries(b, format, table.columns);
  for (const ColumnDef& c : table.columns) AppendName(b, c.name);

  AppendIndexEntries(b, table.indexes);
  for (const IndexDef& x : table.indexes) AppendName(b, x.name);
  for (const LongValueMaps& m : table.long_value_maps) {
    Append16(b, m.column_id);
    Append32(b, m.owned_map);
    Append32(b, m.free_map);
  }
  Append16(b, kUnusedColumn);
  Write32(b, kLengthOffset, uint32_t(b.size()));
  return b;
}

// Onto the chain: the first page holds page_size bytes, each next one
// page_size - 8 after its own header.
void WriteChain(PageWriteSet& pages, const JetFormat& format, uint32_t first,
                const std::vector<uint8_t>& b) {
  const size_t page_size = format.page_size;
  size_t at = 0;
  uint32_t page = first;
  while (true) {
    PageData& out = pages.Modify(page);
    std::fill(out.begin(), out.end(), 0);
    size_t start = at == 0 ? 0 : kPageHeaderSize;
    if (at != 0) {
      out[0] = kPageType;
      out[1] = 0x01;
    }
    size_t n = std::min(page_size - start, b.size() - at);
    std::copy(b.begin() + at, b.begin() + at + n, out.begin() + start);
    at += n;
    size_t free = page_size - start - n;
    Write16(out, kFreeSpaceOffset, uint16_t(free));
    if (at >= b.size()) break;
    uint32_t next = pages.Allocate();
    PageData& again = pages.Modify(page);
    Write32(again, kNextPageOffset, next);
    page = next;
  }
}

}  // namespace

void WriteTableDefinition(PageWriteSet& pages, const JetFormat& format, TableDef& table) {
  if (!format.unicode_text)
    throw Error(kErrNotSupported, "making tables in Access 97 files is not supported (file " +
                                      pages.file().path() + ")");
  const size_t first_allocated = pages.allocated().size();
  table.page = pages.Allocate();
  MakeMapsAndRoots(pages, format, table);
  WriteChain(pages, format, table.page, DefinitionBytes(format, table));

  const std::vector<uint32_t>& mine = pages.allocated();
  for (size_t i = first_allocated; i < mine.size(); ++i)
    SetUsageMapBit(pages, format, kGlobalUsageMapRow, mine[i], false,
                   UsageMapKind::kGlobalFree);
}

}  // namespace corvalin::engine
