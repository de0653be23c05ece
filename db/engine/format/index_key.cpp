// Index keys.
//
// A key is the column keys of the index's columns one after another. Each
// column key starts with a flag byte:
//
// | flag | meaning                         |
// |------|---------------------------------|
// | 0x7F | a value follows, ascending      |
// | 0x00 | Null, ascending (nothing follows) |
// | 0x80 | a value follows, descending     |
// | 0xFF | Null, descending                |
//
// so that Null sorts first in an ascending column and last in a descending
// one. Keys compare as unsigned bytes, so each type's bytes are arranged for
// that: numbers are big-endian, and a descending column stores the bitwise
// NOT of its ascending bytes (with the exceptions noted below).
//
// | Type                        | Ascending value bytes                      |
// |-----------------------------|--------------------------------------------|
// | Boolean                     | 0x00 Yes, 0xFF No; never Null (a Null is No) |
// | Byte                        | the byte                                   |
// | Integer, Long, Currency, BigInt, complex key | big-endian, sign bit flipped |
// | Single, Double, Date/Time   | big-endian IEEE; positive: sign bit flipped; negative: every bit flipped |
// | Decimal                     | 0xFF (0x00 for a negative number in Jet3/Jet4), then the 16-byte magnitude big-endian; a negative number flips every magnitude bit |
// | Replication ID              | the GUID in its text order (first three fields big-endian) as a binary key |
// | Binary                      | 8-byte segments, each followed by 0x09 when more follow; the last zero-padded and followed by its length |
// | Extended Date/Time          | the 42 stored bytes in five 8-byte blocks each followed by 0x09, then the last 2 bytes and 00 00 00 00 00 00 02 |
// | Text, Memo                  | by sort order, see text_index_codes.cpp    |
//
// Descending exceptions: Boolean swaps its two bytes (flipping them); a
// binary key keeps the 0x09 of full segments unflipped but flips the last
// length byte; an extended date keeps its 0x09 separators; Decimal in
// Jet3/Jet4 sets its sign byte after flipping (0xFF positive, 0x00
// negative), from ACE12 on the 0xFF is set before flipping.
#include "db/engine/format/index_key.h"

#include <bit>
#include <cstring>
#include <string>

#include "db/engine/error.h"
#include "db/engine/format/coding.h"
#include "db/engine/format/text_index_codes.h"

namespace corvalin::engine {
namespace {

constexpr uint8_t kAscendingValue = 0x7F;
constexpr uint8_t kAscendingNull = 0x00;
constexpr uint8_t kDescendingValue = 0x80;
constexpr uint8_t kDescendingNull = 0xFF;
constexpr uint8_t kBooleanYes = 0x00;
constexpr uint8_t kBooleanNo = 0xFF;

// Binary keys: segments of 8 data bytes and a length byte; a full segment
// with more after it carries kMoreSegments.
constexpr size_t kBinarySegment = 8;
constexpr uint8_t kMoreSegments = 0x09;

// Extended Date/Time: the stored 42 bytes in blocks of 8 with a separator,
// then a fixed trailer.
constexpr size_t kExtDateSize = 42;
constexpr size_t kExtDateBlocks = 5;
constexpr uint8_t kExtDateSeparator = 0x09;
constexpr uint8_t kExtDateTrailer[] = {0, 0, 0, 0, 0, 0, 0x02};

std::string ColumnWhere(const TableDef& table, const ColumnDef& column) {
  return "column " + column.name + " of table " + table.name;
}

Error CannotKey(const TableDef& table, const ColumnDef& column,
                const std::string& why) {
  return Error(kErrTypeMismatch,
               "cannot make the index key of " + ColumnWhere(table, column) +
                   ": " + why);
}

void Flip(std::vector<uint8_t>& out, size_t from) {
  for (size_t i = from; i < out.size(); ++i) out[i] = uint8_t(~out[i]);
}

std::optional<int64_t> AsInteger(const Value& v) {
  if (auto x = std::get_if<uint8_t>(&v)) return *x;
  if (auto x = std::get_if<int16_t>(&v)) return *x;
  if (auto x = std::get_if<int32_t>(&v)) return *x;
  if (auto x = std::get_if<int64_t>(&v)) return *x;
  return std::nullopt;
}

// Integer, Long, Currency, BigInt and complex keys: two's complement with
// the sign bit flipped sorts as unsigned bytes.
void AppendSigned(std::vector<uint8_t>& out, int64_t v, size_t size) {
  size_t at = out.size();
  AppendBE(out, static_cast<uint64_t>(v), size);
  out[at] ^= 0x80;
}

void AppendFloating(std::vector<uint8_t>& out, uint64_t bits, size_t size) {
  size_t at = out.size();
  AppendBE(out, bits, size);
  if (out[at] & 0x80)
    Flip(out, at);
  else
    out[at] ^= 0x80;
}

void AppendBinary(std::vector<uint8_t>& out, const uint8_t* data, size_t size,
                  bool ascending) {
  size_t pos = 0;
  while (size - pos > kBinarySegment) {
    size_t at = out.size();
    out.insert(out.end(), data + pos, data + pos + kBinarySegment);
    if (!ascending) Flip(out, at);
    out.push_back(kMoreSegments);
    pos += kBinarySegment;
  }
  if (pos == size) return;  // empty value: the flag byte alone
  size_t at = out.size();
  size_t rest = size - pos;
  out.insert(out.end(), data + pos, data + size);
  out.insert(out.end(), kBinarySegment - rest, 0);
  out.push_back(uint8_t(rest));
  if (!ascending) Flip(out, at);
}

// The magnitude at `scale` decimal places instead of the value's own; false
// when it does not fit 128 bits or would lose digits.
bool Rescale(Decimal& d, uint8_t scale) {
  unsigned __int128 m = 0;
  for (int w = 3; w >= 0; --w) m = (m << 32) | d.magnitude[w];
  while (d.scale < scale) {
    if (m > ~static_cast<unsigned __int128>(0) / 10) return false;
    m *= 10;
    ++d.scale;
  }
  while (d.scale > scale) {
    if (m % 10 != 0) return false;
    m /= 10;
    --d.scale;
  }
  for (int w = 0; w < 4; ++w) d.magnitude[w] = static_cast<uint32_t>(m >> (32 * w));
  return true;
}

void AppendDecimal(std::vector<uint8_t>& out, const JetFormat& format,
                   const TableDef& table, const ColumnDef& column, Decimal d,
                   bool ascending) {
  if (d.scale != column.scale && !Rescale(d, column.scale))
    throw CannotKey(table, column,
                    "the number does not fit its " + std::to_string(column.scale) +
                        " decimal places");
  bool zero = d.magnitude == std::array<uint32_t, 4>{};
  bool negative = d.negative && !zero;
  size_t at = out.size();
  out.push_back(0xFF);
  for (int w = 3; w >= 0; --w) AppendBE(out, d.magnitude[w], 4);
  // Jet3 and Jet4 files keep the older order, in which a descending column
  // restores the sign byte after flipping.
  bool legacy = format.legacy_decimal_keys;
  if (negative == ascending) Flip(out, at);
  if (legacy) out[at] = negative ? 0x00 : 0xFF;
}

}  // namespace

const ColumnDef& IndexedColumn(const TableDef& table, const IndexDef& index,
                               const IndexColumn& key_column, size_t* position) {
  for (size_t i = 0; i < table.columns.size(); ++i) {
    if (table.columns[i].column_id == key_column.column_id) {
      if (position) *position = i;
      return table.columns[i];
    }
  }
  throw Error(kErrDamagedFile, "index " + index.name + " of table " + table.name +
                                   " names column number " +
                                   std::to_string(key_column.column_id) +
                                   ", which the table does not have");
}

void AppendColumnKey(const JetFormat& format, const TableDef& table,
                     const ColumnDef& column, bool ascending, const Value& value,
                     std::vector<uint8_t>& out) {
  if (column.type == DataType::kBoolean) {
    bool yes = false;
    if (auto b = std::get_if<bool>(&value)) {
      yes = *b;
    } else if (!IsNull(value)) {
      throw CannotKey(table, column, "a Yes/No column takes Yes or No");
    }
    out.push_back(ascending ? kAscendingValue : kDescendingValue);
    out.push_back((yes == ascending) ? kBooleanYes : kBooleanNo);
    return;
  }
  if (IsNull(value)) {
    out.push_back(ascending ? kAscendingNull : kDescendingNull);
    return;
  }
  out.push_back(ascending ? kAscendingValue : kDescendingValue);
  const size_t at = out.size();
  auto wrong_type = [&]() {
    return CannotKey(table, column,
                     std::string("the value is not of the column's type, ") +
                         DataTypeName(column.type));
  };
  auto integer = [&](int64_t low, int64_t high, size_t size) {
    std::optional<int64_t> v = AsInteger(value);
    if (!v) throw wrong_type();
    if (*v < low || *v > high)
      throw CannotKey(table, column,
                      std::to_string(*v) + " is out of the column's range");
    AppendSigned(out, *v, size);
  };
  switch (column.type) {
    case DataType::kByte: {
      std::optional<int64_t> v = AsInteger(value);
      if (!v) throw wrong_type();
      if (*v < 0 || *v > 255)
        throw CannotKey(table, column,
                        std::to_string(*v) + " is out of the column's range");
      out.push_back(uint8_t(*v));
      break;
    }
    case DataType::kInteger: integer(INT16_MIN, INT16_MAX, 2); break;
    case DataType::kLong: integer(INT32_MIN, INT32_MAX, 4); break;
    case DataType::kBigInt: integer(INT64_MIN, INT64_MAX, 8); break;
    case DataType::kComplex:
      if (auto k = std::get_if<ComplexKey>(&value))
        AppendSigned(out, k->id, 4);
      else
        integer(INT32_MIN, INT32_MAX, 4);
      break;
    case DataType::kCurrency:
      if (auto c = std::get_if<Currency>(&value))
        AppendSigned(out, c->scaled, 8);
      else
        throw wrong_type();
      break;
    case DataType::kSingle:
      if (auto f = std::get_if<float>(&value))
        AppendFloating(out, std::bit_cast<uint32_t>(*f), 4);
      else
        throw wrong_type();
      break;
    case DataType::kDouble:
    case DataType::kDateTime:
      if (auto d = std::get_if<double>(&value))
        AppendFloating(out, std::bit_cast<uint64_t>(*d), 8);
      else if (auto t = std::get_if<DateTime>(&value))
        AppendFloating(out, std::bit_cast<uint64_t>(t->days), 8);
      else
        throw wrong_type();
      break;
    case DataType::kDecimal:
      if (auto d = std::get_if<Decimal>(&value))
        AppendDecimal(out, format, table, column, *d, ascending);
      else
        throw wrong_type();
      return;  // Decimal handles its own descending order
    case DataType::kReplicationId: {
      auto g = std::get_if<Guid>(&value);
      if (!g) throw wrong_type();
      // The file stores the GUID's first three fields little-endian; the key
      // takes them in the order the GUID is written.
      const auto& b = g->bytes;
      const uint8_t text_order[16] = {b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6],
                                      b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]};
      AppendBinary(out, text_order, sizeof text_order, ascending);
      return;
    }
    case DataType::kBinary: {
      auto bytes = std::get_if<Bytes>(&value);
      if (!bytes) throw wrong_type();
      AppendBinary(out, bytes->data(), bytes->size(), ascending);
      return;
    }
    case DataType::kExtDateTime: {
      auto t = std::get_if<ExtDateTime>(&value);
      if (!t) throw wrong_type();
      if (t->text.size() > kExtDateSize)
        throw CannotKey(table, column, "the date's stored form is too long");
      uint8_t stored[kExtDateSize] = {};
      std::memcpy(stored, t->text.data(), t->text.size());
      for (size_t i = 0; i < kExtDateSize; ++i)
        if (!ascending) stored[i] = uint8_t(~stored[i]);
      for (size_t blk = 0; blk < kExtDateBlocks; ++blk) {
        out.insert(out.end(), stored + blk * 8, stored + blk * 8 + 8);
        out.push_back(kExtDateSeparator);
      }
      out.insert(out.end(), stored + kExtDateBlocks * 8, stored + kExtDateSize);
      for (uint8_t b : kExtDateTrailer) out.push_back(ascending ? b : uint8_t(~b));
      return;
    }
    case DataType::kText:
    case DataType::kMemo: {
      auto text = std::get_if<std::string>(&value);
      if (!text) throw wrong_type();
      std::optional<TextSortOrder> order = TextSortOrderOf(format, column);
      if (!order)
        throw Error(kErrNotSupported,
                    "cannot make the index key of " + ColumnWhere(table, column) +
                        ": its sort order (" + std::to_string(column.sort_order) +
                        " version " + std::to_string(column.sort_version) +
                        ") is not one whose key codes are known");
      if (std::optional<TextKeyFault> bad = AppendTextKey(*order, *text, ascending, out)) {
        auto name = [](char32_t c) {
          char code[16];
          std::snprintf(code, sizeof code, "U+%04X", unsigned(c));
          return std::string(code);
        };
        throw Error(kErrNotSupported,
                    "cannot make the index key of " + ColumnWhere(table, column) + ": " +
                        (bad->after ? "the place of the accent of the character " +
                                          name(bad->character) + " after the character " +
                                          name(bad->after) + " is not known"
                                    : "the character " + name(bad->character) +
                                          " has no known key code") +
                        " in the sort order " + TextSortOrderName(*order));
      }
      return;  // text handles its own descending order
    }
    default:
      throw Error(kErrNotSupported,
                  "cannot make the index key of " + ColumnWhere(table, column) +
                      ": columns of type " + DataTypeName(column.type) +
                      " are not indexed");
  }
  if (!ascending) Flip(out, at);
}

std::vector<uint8_t> EncodeIndexKey(const JetFormat& format, const TableDef& table,
                                    const IndexDef& index, const std::vector<Value>& row) {
  std::vector<uint8_t> key;
  EncodeIndexKey(format, table, index, row, key);
  return key;
}

void EncodeIndexKey(const JetFormat& format, const TableDef& table, const IndexDef& index,
                    const std::vector<Value>& row, std::vector<uint8_t>& key) {
  if (row.size() != table.columns.size())
    throw Error(kErrInvalidArgument,
                "cannot make the index key of index " + index.name + " of table " +
                    table.name + ": the row has " + std::to_string(row.size()) +
                    " values for " + std::to_string(table.columns.size()) + " columns");
  key.clear();
  for (const IndexColumn& ic : index.columns) {
    size_t position = 0;
    const ColumnDef& column = IndexedColumn(table, index, ic, &position);
    AppendColumnKey(format, table, column, ic.ascending, row[position], key);
  }
}

bool IndexHoldsRow(const TableDef& table, const IndexDef& index,
                   const std::vector<Value>& row) {
  constexpr uint8_t kIgnoreNulls = 0x02;
  if (!(index.flags & kIgnoreNulls)) return true;
  for (const IndexColumn& ic : index.columns) {
    size_t position = 0;
    const ColumnDef& column = IndexedColumn(table, index, ic, &position);
    // A Yes/No column is never Null in an index.
    if (column.type == DataType::kBoolean) return true;
    if (position < row.size() && !IsNull(row[position])) return true;
  }
  return false;
}

bool KeyHasNull(const TableDef& table, const IndexDef& index, const std::vector<Value>& row) {
  for (const IndexColumn& ic : index.columns) {
    size_t position = 0;
    const ColumnDef& column = IndexedColumn(table, index, ic, &position);
    if (column.type != DataType::kBoolean && position < row.size() && IsNull(row[position]))
      return true;
  }
  return false;
}

}  // namespace corvalin::engine
