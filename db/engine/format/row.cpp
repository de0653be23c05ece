// A row of a data page.
//
// | Part                 | Jet3                       | Jet4/ACE                  |
// |----------------------|----------------------------|---------------------------|
// | column count         | 1 byte at 0                | 2 bytes at 0              |
// | fixed data           | from 1, by fixed offset    | from 2, by fixed offset   |
// | variable data        | after the fixed data       | after the fixed data      |
// | offset table         | 1 byte each, read backward | 2 bytes each, backward    |
// |                      | before the jump table      | before the count          |
// | jump table           | (len-1)/256 bytes: entry j |  -                        |
// |                      | = the first variable column|                           |
// |                      | whose offset is ≥ 256(j+1) |                           |
// | variable column count| 1 byte before null mask    | 2 bytes before null mask  |
// | null mask            | (count+7)/8 bytes at the end, bit set = value present |
//
// The offset table has count+1 entries (the last is the end of the data);
// offsets are from the row start. A Jet3 jump entry for a boundary no
// offset reaches (the offsets and the mask alone pushed the row past it)
// holds 0xFF. A column whose number is at or beyond the
// row's column count was added after the row was written: it is Null.
#include "db/engine/format/row.h"

#include <algorithm>

#include "db/engine/format/coding.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/table_def_reader.h"
#include "db/engine/format/value_codec.h"

namespace corvalin::engine {
namespace {

Error BadRow(const std::string& file, const TableDef& table,
             const std::string& what) {
  return DamagedPage({.file = file, .table = table.name, .part = "row"}, what);
}

bool HasVariableColumns(const TableDef& table) {
  if (table.var_columns > 0) return true;
  for (const ColumnDef& c : table.columns)
    if (!c.fixed) return true;
  return false;
}

}  // namespace

namespace {

// SplitRow into fields, with var_offsets as scratch: both keep their storage
// from row to row.
void SplitRowInto(const JetFormat& format, const TableDef& table,
                  std::span<const uint8_t> row, const std::string& file,
                  std::vector<RowField>& fields, std::vector<size_t>& var_offsets) {
  const bool jet3 = format.row_var_offset_size == 1;
  const size_t count_size = format.row_column_count_size;
  const size_t len = row.size();
  if (len < count_size) throw BadRow(file, table, "row shorter than its header");
  size_t columns = count_size == 1 ? row[0] : Read16(row, 0);
  size_t mask_size = (columns + 7) / 8;
  if (mask_size + count_size > len)
    throw BadRow(file, table, "null mask larger than the row");
  auto mask = row.subspan(len - mask_size, mask_size);

  var_offsets.clear();
  size_t fixed_end = len - mask_size;
  if (HasVariableColumns(table)) {
    size_t var_count = 0;
    if (jet3) {
      if (mask_size + 1 + count_size > len)
        throw BadRow(file, table, "variable column count outside the row");
      var_count = row[len - mask_size - 1];
      size_t jumps = (len - 1) / 256;
      // The last jump entry may be a dummy when the offsets themselves
      // pushed the row past a 256-byte boundary
      if (len < mask_size + jumps + 1 + var_count + 1)
        throw BadRow(file, table, "variable offset table outside the row");
      size_t first = len - mask_size - jumps - 2;  // offset of column 0
      // (it still takes its byte, so the offsets do not move).
      if ((first - var_count) / 256 < jumps) --jumps;
      if (first < var_count + count_size - 1)
        throw BadRow(file, table, "variable offset table outside the row");
      size_t used = 0;
      for (size_t i = 0; i <= var_count; ++i) {
        while (used < jumps && row[len - mask_size - 2 - used] == i) ++used;
        var_offsets.push_back(row[first - i] + used * 256);
      }
      fixed_end = first - var_count;
    } else {
      if (mask_size + 2 + count_size > len)
        throw BadRow(file, table, "variable column count outside the row");
      size_t at = len - mask_size - 2;
      var_count = Read16(row, at);
      if (at < count_size + 2 * (var_count + 1))
        throw BadRow(file, table, "variable offset table outside the row");
      for (size_t i = 0; i <= var_count; ++i) {
        size_t p = at - 2 * (i + 1);
        var_offsets.push_back(Read16(row, p));
      }
      fixed_end = at - 2 * (var_count + 1);
    }
    if (var_count > 0) fixed_end = std::min(fixed_end, var_offsets[0]);
  }

  fields.assign(table.columns.size(), RowField{});
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnDef& c = table.columns[i];
    RowField& f = fields[i];
    if (c.column_id >= columns) continue;  // added after the row was written
    f.present = (mask[c.column_id / 8] >> (c.column_id % 8)) & 1;
    // A Boolean's value is its mask bit, unless it is calculated (then it
    // is stored like any other calculated value).
    if (!f.present || (c.type == DataType::kBoolean && !c.calculated)) continue;
    if (c.fixed) {
      size_t start = count_size + c.fixed_offset;
      if (start + c.length > fixed_end) continue;  // row older than the column
      f.stored = true;
      f.bytes = row.subspan(start, c.length);
    } else {
      if (size_t(c.var_index) + 1 >= var_offsets.size()) continue;
      size_t start = var_offsets[c.var_index];
      size_t end = var_offsets[c.var_index + 1];
      if (start > end || end > len - mask_size)
        throw BadRow(file, table, "column " + c.name + " runs outside the row");
      f.stored = true;
      f.bytes = row.subspan(start, end - start);
    }
  }
}

}  // namespace

std::vector<RowField> SplitRow(const JetFormat& format, const TableDef& table,
                               std::span<const uint8_t> row,
                               const std::string& file) {
  std::vector<RowField> fields;
  std::vector<size_t> var_offsets;
  SplitRowInto(format, table, row, file, fields, var_offsets);
  return fields;
}

void DecodeRow(PageFile& file, const JetFormat& format, const TableDef& table,
               std::span<const uint8_t> row, std::vector<Value>& values) {
  // Scratch of this thread, so that a row costs no allocation once the
  // first rows have sized it.
  thread_local std::vector<RowField> fields;
  thread_local std::vector<size_t> var_offsets;
  SplitRowInto(format, table, row, file.path(), fields, var_offsets);
  values.resize(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    const ColumnDef& c = table.columns[i];
    const RowField& f = fields[i];
    if (c.type == DataType::kBoolean && !c.calculated) {
      values[i] = f.present;
    } else if (!f.present || !f.stored) {
      values[i] = Null{};
    } else {
      DecodeValueInto(file, format, c, f.bytes, table.name, values[i]);
    }
  }
}

std::vector<Value> DecodeRow(PageFile& file, const JetFormat& format,
                             const TableDef& table,
                             std::span<const uint8_t> row) {
  std::vector<Value> values;
  DecodeRow(file, format, table, row, values);
  return values;
}

namespace {

size_t ColumnCount(const TableDef& table) {
  size_t n = table.max_columns;
  for (const ColumnDef& c : table.columns) n = std::max<size_t>(n, c.column_id + 1u);
  return n;
}

size_t VarCount(const TableDef& table) {
  size_t n = table.var_columns;
  for (const ColumnDef& c : table.columns)
    if (!c.fixed) n = std::max<size_t>(n, c.var_index + 1u);
  return n;
}

size_t FixedEnd(const TableDef& table) {
  size_t end = 0;
  for (const ColumnDef& c : table.columns)
    if (c.fixed && c.type != DataType::kBoolean)
      end = std::max<size_t>(end, size_t(c.fixed_offset) + c.length);
  return end;
}

// The Jet3 jump table has an entry for each 256-byte boundary the row
// crosses, counted from the row's whole length (its own bytes included).
size_t Jet3JumpCount(size_t length_without_jumps) {
  size_t jumps = 0;
  for (;;) {
    size_t n = (length_without_jumps + jumps - 1) / 256;
    if (n <= jumps) return jumps;
    jumps = n;
  }
}

// The fixed part of a new row (RowBuffers::head: column count and fixed
// data) and its null mask; the variable columns' bytes in offset-table
// order (a slot no column uses, a deleted column, stays empty).
using RowParts = RowBuffers;

void LayOutParts(const JetFormat& format, const TableDef& table,
                 const std::vector<NewField>& fields, RowParts& parts) {
  if (parts.table != &table) {
    parts.table = &table;
    parts.columns = ColumnCount(table);
    parts.vars = VarCount(table);
    parts.fixed_end = FixedEnd(table);
  }
  const size_t columns = parts.columns;
  parts.head.clear();
  if (format.row_column_count_size == 1) {
    parts.head.push_back(uint8_t(columns));
  } else {
    Append16(parts.head, uint16_t(columns));
  }
  const size_t fixed_start = parts.head.size();
  parts.head.resize(fixed_start + parts.fixed_end, 0);
  parts.mask.assign((columns + 7) / 8, 0);
  parts.by_slot.assign(parts.vars, nullptr);
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnDef& c = table.columns[i];
    const NewField& f = fields[i];
    if (f.present) parts.mask[c.column_id / 8] |= uint8_t(1u << (c.column_id % 8));
    if (c.type == DataType::kBoolean || !f.present) continue;
    if (c.fixed) {
      std::copy(f.bytes.begin(), f.bytes.end(),
                parts.head.begin() + fixed_start + c.fixed_offset);
    } else {
      parts.by_slot[c.var_index] = &f;
    }
  }
}

// Variable data, then (read backwards from the null mask) the offsets from
// the end of data down to the first slot, then their count.
void EncodeJet4Row(RowParts& parts, std::vector<uint8_t>& row) {
  row.assign(parts.head.begin(), parts.head.end());
  const size_t vars = parts.by_slot.size();
  if (vars > 0) {
    std::vector<size_t>& offsets = parts.offsets;
    offsets.assign(vars, 0);
    for (size_t v = 0; v < vars; ++v) {
      offsets[v] = row.size();
      if (parts.by_slot[v])
        row.insert(row.end(), parts.by_slot[v]->bytes.begin(), parts.by_slot[v]->bytes.end());
    }
    size_t eod = row.size();
    Append16(row, uint16_t(eod));
    for (size_t v = vars; v-- > 0;) Append16(row, uint16_t(offsets[v]));
    Append16(row, uint16_t(vars));
  }
  row.insert(row.end(), parts.mask.begin(), parts.mask.end());
}

// As Jet4, with one-byte offsets (their low bytes) and the jump table
// between the first slot's offset and the count. Jump entry j, read
// backwards from the count, names the first slot (the end of data counting
// as slot `vars`) whose offset is at least 256 (j + 1); an entry past the
// end of data, there only because the offsets and the mask pushed the row
// over a boundary, holds 0xFF.
void EncodeJet3Row(RowParts& parts, std::vector<uint8_t>& row) {
  row.assign(parts.head.begin(), parts.head.end());
  const size_t vars = parts.by_slot.size();
  if (vars > 0) {
    std::vector<size_t>& offsets = parts.offsets;
    offsets.assign(vars + 1, 0);
    for (size_t v = 0; v < vars; ++v) {
      offsets[v] = row.size();
      if (parts.by_slot[v])
        row.insert(row.end(), parts.by_slot[v]->bytes.begin(), parts.by_slot[v]->bytes.end());
    }
    offsets[vars] = row.size();
    const size_t jumps =
        Jet3JumpCount(row.size() + (vars + 1) + 1 + parts.mask.size());
    for (size_t v = vars + 1; v-- > 0;) row.push_back(uint8_t(offsets[v]));
    std::vector<uint8_t> table(jumps, 0xFF);
    for (size_t j = 0; j < jumps; ++j) {
      for (size_t v = 0; v <= vars; ++v) {
        if (offsets[v] >= 256 * (j + 1)) {
          table[j] = uint8_t(v);
          break;
        }
      }
    }
    for (size_t j = jumps; j-- > 0;) row.push_back(table[j]);
    row.push_back(uint8_t(vars));
  }
  row.insert(row.end(), parts.mask.begin(), parts.mask.end());
}

}  // namespace

size_t FixedRowOverhead(const JetFormat& format, const TableDef& table) {
  const size_t vars = VarCount(table);
  const size_t mask = (ColumnCount(table) + 7) / 8;
  if (format.row_var_offset_size == 1) {
    // The jump table a row of the largest size needs.
    size_t tables = vars > 0 ? (vars + 1) + 1 + (format.max_row_size - 1) / 256 : 0;
    return 1 + FixedEnd(table) + tables + mask;
  }
  return 2 + FixedEnd(table) + (vars > 0 ? 2 * (vars + 2) : 0) + mask;
}

void EncodeRow(const JetFormat& format, const TableDef& table,
               const std::vector<NewField>& fields, RowBuffers& buffers,
               std::vector<uint8_t>& row) {
  LayOutParts(format, table, fields, buffers);
  if (format.row_var_offset_size == 1)
    EncodeJet3Row(buffers, row);
  else
    EncodeJet4Row(buffers, row);
}

std::vector<uint8_t> EncodeRow(const JetFormat& format, const TableDef& table,
                               const std::vector<NewField>& fields) {
  RowBuffers buffers;
  std::vector<uint8_t> row;
  EncodeRow(format, table, fields, buffers, row);
  return row;
}

}  // namespace corvalin::engine
