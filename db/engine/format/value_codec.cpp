// Scalar values. All integers little-endian.
//
// | Type            | Code | Bytes | Stored as                                  |
// |-----------------|------|-------|--------------------------------------------|
// | Boolean         | 0x01 | 0     | the null-mask bit                          |
// | Byte            | 0x02 | 1     | unsigned                                   |
// | Integer         | 0x03 | 2     | signed                                     |
// | Long            | 0x04 | 4     | signed                                     |
// | Currency        | 0x05 | 8     | signed, scaled by 10^4                     |
// | Single          | 0x06 | 4     | IEEE float                                 |
// | Double          | 0x07 | 8     | IEEE double                                |
// | Date/Time       | 0x08 | 8     | double, days since 1899-12-30              |
// | Binary          | 0x09 | var   | bytes                                      |
// | Text            | 0x0A | var   | Jet3 code page; Jet4+ UCS-2 / compressed   |
// | OLE, Memo       | 0x0B, 0x0C | var | 12-byte long value header (long_value) |
// | Replication ID  | 0x0F | 16    | GUID bytes as stored                       |
// | Decimal         | 0x10 | 17    | sign byte (0x80 negative), then the 128-bit|
// |                 |      |       | magnitude as 4 LE words, most significant  |
// |                 |      |       | word first                                 |
// | Complex         | 0x12 | 4     | the complex key                            |
// | BigInt          | 0x13 | 8     | signed                                     |
// | Ext. Date/Time  | 0x14 | 42    | ASCII "D:SSSSSSSSSSSSFFFFFFF:P" and a NUL: |
// |                 |      |       | D 19 digits, days since 0001-01-01; S 12   |
// |                 |      |       | digits, seconds of the day; F 7 digits,    |
// |                 |      |       | units of 100 ns; P the precision (7)       |
//
// Calculated columns (ACE14+) store their result, wrapped: 16 bytes of
// unknown meaning, the result's length (4 bytes at +16), the result from
// +20, and 3 more bytes; fixed-size results take 39 bytes in all. The result
// is stored in the result's own type (the column's "ResultType" property,
// applied when the table definition is read), and an empty result is Null.
// A Boolean result is one byte (0xFF true) and not the null-mask bit. A
// Memo result is a long value whose content is wrapped the same way.
//
// A calculated Decimal result has a form of its own:
// | 0 | 2 | length of scale, sign and magnitude; 0: up to the end         |
// | 2 | 1 | scale                                                          |
// | 3 | 1 | sign: non-zero negative                                        |
// | 4 | n | magnitude, n a multiple of 4 (at most 16): when n is not a     |
// |   |   | multiple of 8, first one 4-byte word; then 8-byte words; each  |
// |   |   | word little-endian, the most significant word first            |
#include "db/engine/format/value_codec.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "db/engine/error.h"
#include "db/engine/format/coding.h"
#include "db/engine/format/long_value.h"
#include "db/engine/format/text_codec.h"

namespace corvalin::engine {
namespace {

constexpr size_t kCalcLengthOffset = 16;
constexpr size_t kCalcDataOffset = 20;
constexpr size_t kCalcDecimalHeader = 4;  // length, scale, sign
constexpr size_t kCalcDecimalMaxMagnitude = 16;
// "D:SF:P": 19 digits, a colon, 19 digits, a colon, the precision digit.
constexpr size_t kExtDateDigits = 19;
constexpr size_t kExtDateText = 2 * kExtDateDigits + 3;

Error Malformed(const ValueContext& where, const ColumnDef& column,
                const std::string& what) {
  return DamagedPage(
      {.file = where.file, .table = where.table, .column = column.name, .part = "value"},
      what);
}

Error TooShort(const ValueContext& where, const ColumnDef& column) {
  return Malformed(where, column,
                   std::string("too few bytes for ") + DataTypeName(column.type));
}

std::span<const uint8_t> Unwrap(std::span<const uint8_t> data,
                                const ColumnDef& column,
                                const ValueContext& where) {
  if (data.size() < kCalcDataOffset) return data;  // written unwrapped
  uint32_t len = ReadAs<uint32_t>(data, kCalcLengthOffset);
  if (len > data.size() - kCalcDataOffset) throw TooShort(where, column);
  return data.subspan(kCalcDataOffset, len);
}

Value DecodeCalculatedDecimal(std::span<const uint8_t> data,
                              const ColumnDef& column,
                              const ValueContext& where) {
  if (data.size() < kCalcDecimalHeader) throw TooShort(where, column);
  const uint16_t total = ReadAs<uint16_t>(data, 0);
  size_t n = total > 0 ? total : data.size() - 2;
  if (n < 2) throw TooShort(where, column);
  n = std::min<size_t>((n - 2) / 4 * 4, kCalcDecimalMaxMagnitude);
  if (data.size() < kCalcDecimalHeader + n) throw TooShort(where, column);
  std::vector<uint32_t> words;  // most significant first
  size_t at = kCalcDecimalHeader;
  if (n % 8 != 0) {
    words.push_back(ReadAs<uint32_t>(data, at));
    at += 4;
  }
  for (; at < kCalcDecimalHeader + n; at += 8) {
    words.push_back(ReadAs<uint32_t>(data, at + 4));  // high half
    words.push_back(ReadAs<uint32_t>(data, at));
  }
  Decimal d;
  d.precision = 28;  // a calculated Decimal has the largest precision
  d.scale = data[2];
  d.negative = data[3] != 0;
  for (size_t k = 0; k < words.size(); ++k)
    d.magnitude[k] = words[words.size() - 1 - k];
  return d;
}

// The stored size of a fixed-size result; 0 for the others.
size_t FixedSize(DataType type) {
  switch (type) {
    case DataType::kBoolean: case DataType::kByte: return 1;
    case DataType::kInteger: return 2;
    case DataType::kLong: case DataType::kSingle: return 4;
    case DataType::kCurrency: case DataType::kDouble:
    case DataType::kDateTime: case DataType::kBigInt: return 8;
    case DataType::kReplicationId: return 16;
    default: return 0;
  }
}

// The stored text, checked for its shape, without the trailing NULs.
ExtDateTime DecodeExtDateTime(std::span<const uint8_t> data,
                              const ColumnDef& column,
                              const ValueContext& where) {
  std::string text;
  for (uint8_t b : data) {
    if (b == 0) break;
    text.push_back(static_cast<char>(b));
  }
  bool good = text.size() >= kExtDateText;
  for (size_t i = 0; good && i < kExtDateText; ++i) {
    const bool colon = i == kExtDateDigits || i == 2 * kExtDateDigits + 1;
    good = colon ? text[i] == ':' : text[i] >= '0' && text[i] <= '9';
  }
  if (!good)
    throw Malformed(where, column, "not an extended date/time: \"" + text + "\"");
  return ExtDateTime{text};
}

}  // namespace

Decimal DecodeDecimal(std::span<const uint8_t> data, uint8_t precision,
                      uint8_t scale) {
  Decimal d;
  d.negative = (data[0] & 0x80) != 0;
  d.precision = precision;
  d.scale = scale;
  for (int w = 0; w < 4; ++w)
    d.magnitude[3 - w] = ReadAs<uint32_t>(data, 1 + 4 * w);
  return d;
}

Value DecodeValue(PageFile& file, const JetFormat& format,
                  const ColumnDef& column, std::span<const uint8_t> data,
                  const ValueContext& where) {
  bool long_value = column.type == DataType::kMemo || column.type == DataType::kOle;
  if (column.calculated && !long_value) {
    data = Unwrap(data, column, where);
    // An empty calculated value is how the file writes a Null result.
    if (data.empty())
      return column.type == DataType::kBoolean ? Value(false) : Value(Null{});
    if (column.type == DataType::kDecimal)
      return DecodeCalculatedDecimal(data, column, where);
    const size_t size = FixedSize(column.type);
    if (size != 0 && data.size() != size)
      throw Malformed(where, column,
                      "a calculated " + std::string(DataTypeName(column.type)) +
                          " result of " + std::to_string(data.size()) +
                          " bytes");
  }
  auto need = [&](size_t n) {
    if (data.size() < n) throw TooShort(where, column);
  };
  switch (column.type) {
    case DataType::kBoolean:
      need(1);
      return data[0] != 0;
    case DataType::kByte: need(1); return data[0];
    case DataType::kInteger: need(2); return ReadAs<int16_t>(data, 0);
    case DataType::kLong: need(4); return ReadAs<int32_t>(data, 0);
    case DataType::kComplex: need(4); return ComplexKey{ReadAs<int32_t>(data, 0)};
    case DataType::kCurrency: need(8); return Currency{ReadAs<int64_t>(data, 0)};
    case DataType::kSingle: need(4); return ReadAs<float>(data, 0);
    case DataType::kDouble: need(8); return ReadAs<double>(data, 0);
    case DataType::kDateTime: need(8); return DateTime{ReadAs<double>(data, 0)};
    case DataType::kBigInt: need(8); return ReadAs<int64_t>(data, 0);
    case DataType::kReplicationId: {
      need(16);
      Guid g;
      std::memcpy(g.bytes.data(), data.data(), 16);
      return g;
    }
    case DataType::kDecimal:
      need(17);
      return DecodeDecimal(data, column.precision, column.scale);
    case DataType::kExtDateTime:
      return DecodeExtDateTime(data, column, where);
    case DataType::kText:
      if (format.unicode_text) return DecodeUnicodeText(data);
      return DecodeCodePageText(data, column.code_page);
    case DataType::kMemo:
    case DataType::kOle: {
      Bytes bytes = ReadLongValue(file, format, data, where);
      std::span<const uint8_t> content(bytes);
      if (column.calculated) content = Unwrap(content, column, where);
      if (column.type == DataType::kOle) return Bytes(content.begin(), content.end());
      if (format.unicode_text) return DecodeUnicodeText(content);
      return DecodeCodePageText(content, column.code_page);
    }
    case DataType::kBinary:
    default:
      return Bytes(data.begin(), data.end());
  }
}

namespace {

// The memo of a chain of LVAL rows, gathered into storage kept from value
// to value, and decoded into text.
[[gnu::noinline]] void DecodeMemoChain(PageFile& file, const JetFormat& format,
                                       const ColumnDef& column, std::span<const uint8_t> data,
                                       const std::string& table, std::string& text) {
  thread_local Bytes gathered;
  ReadLongValueInto(file, format, data, ValueContext{file.path(), table, column.name}, gathered);
  if (format.unicode_text) DecodeUnicodeText(gathered, text);
  else DecodeCodePageText(gathered, column.code_page, text);
}

// Every other value, and every error, named where it lies.
[[gnu::noinline]] void DecodeValueNamed(PageFile& file, const JetFormat& format,
                                        const ColumnDef& column, std::span<const uint8_t> data,
                                        const std::string& table, Value& out) {
  out = DecodeValue(file, format, column, data, ValueContext{file.path(), table, column.name});
}

}  // namespace

void DecodeValueInto(PageFile& file, const JetFormat& format,
                     const ColumnDef& column, std::span<const uint8_t> data,
                     const std::string& table, Value& out) {
  // The common plain types go straight into out, reusing a text's storage;
  // the rest (and every error) takes the general path, which names where.
  if (!column.calculated) {
    switch (column.type) {
      case DataType::kByte: if (data.size() < 1) break; out = data[0]; return;
      case DataType::kInteger: if (data.size() < 2) break; out = ReadAs<int16_t>(data, 0); return;
      case DataType::kLong: if (data.size() < 4) break; out = ReadAs<int32_t>(data, 0); return;
      case DataType::kCurrency:
        if (data.size() < 8) break;
        out = Currency{ReadAs<int64_t>(data, 0)};
        return;
      case DataType::kSingle: if (data.size() < 4) break; out = ReadAs<float>(data, 0); return;
      case DataType::kDouble: if (data.size() < 8) break; out = ReadAs<double>(data, 0); return;
      case DataType::kDateTime:
        if (data.size() < 8) break;
        out = DateTime{ReadAs<double>(data, 0)};
        return;
      case DataType::kBigInt: if (data.size() < 8) break; out = ReadAs<int64_t>(data, 0); return;
      case DataType::kText: {
        auto* text = std::get_if<std::string>(&out);
        if (!text) text = &out.emplace<std::string>();
        if (format.unicode_text) DecodeUnicodeText(data, *text);
        else DecodeCodePageText(data, column.code_page, *text);
        return;
      }
      case DataType::kMemo: {
        // A memo in its row or on one LVAL row is decoded where it lies; a
        // chain is gathered first.
        PagePtr page;
        std::span<const uint8_t> content;
        auto* text = std::get_if<std::string>(&out);
        if (!text) text = &out.emplace<std::string>();
        if (!FindLongValueInPlace(file, format, data, page, content)) {
          DecodeMemoChain(file, format, column, data, table, *text);
          return;
        }
        if (format.unicode_text) DecodeUnicodeText(content, *text);
        else DecodeCodePageText(content, column.code_page, *text);
        return;
      }
      default: break;
    }
  }
  DecodeValueNamed(file, format, column, data, table, out);
}

}  // namespace corvalin::engine
