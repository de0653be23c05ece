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
// | Ext. Date/Time  | 0x14 | 42    | ASCII text                                 |
//
// Calculated columns (ACE14+) wrap the value: 16 unknown bytes, its length
// (4 bytes at +16), the value from +20; the wrapper is 23 bytes longer than
// the value (fixed-size calculated values take 39 bytes).
#include "db/engine/format/value_codec.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <cstring>

#include "db/engine/error.h"
#include "db/engine/format/text_codec.h"

namespace corvalin::engine {
namespace {

constexpr size_t kCalcLengthOffset = 16;
constexpr size_t kCalcDataOffset = 20;

template <typename T>
T Load(std::span<const uint8_t> d) {
  T v;
  std::memcpy(&v, d.data(), sizeof v);  // the host is little-endian
  return v;
}

Error TooShort(const ValueContext& where, const ColumnDef& column) {
  return Error(kErrDamagedFile, "damaged value in column " + column.name +
                                    " of table " + where.table + " (file " +
                                    where.file + "): too few bytes for " +
                                    DataTypeName(column.type));
}

std::span<const uint8_t> Unwrap(std::span<const uint8_t> data,
                                const ColumnDef& column,
                                const ValueContext& where) {
  if (data.size() < kCalcDataOffset) return data;  // written unwrapped
  uint32_t len = Load<uint32_t>(data.subspan(kCalcLengthOffset));
  if (len > data.size() - kCalcDataOffset) throw TooShort(where, column);
  return data.subspan(kCalcDataOffset, len);
}

// A calculated Decimal: total length 2, scale 1, sign 1, then up to 16
// magnitude bytes as 4-byte little-endian words, most significant first.
Value DecodeCalculatedDecimal(std::span<const uint8_t> data,
                              const ColumnDef& column,
                              const ValueContext& where) {
  if (data.size() < 4) throw TooShort(where, column);
  uint16_t total = Load<uint16_t>(data);
  size_t n = total > 0 ? total : data.size() - 2;
  if (n < 2) throw TooShort(where, column);
  n = std::min<size_t>((n - 2 + 3) / 4 * 4, 16);
  if (data.size() < 4 + n) throw TooShort(where, column);
  Decimal d;
  d.precision = 28;
  d.scale = data[2];
  d.negative = data[3] != 0;
  size_t words = n / 4;
  for (size_t w = 0; w < words; ++w)
    d.magnitude[words - 1 - w] = Load<uint32_t>(data.subspan(4 + 4 * w));
  return d;
}

size_t FixedSize(DataType type) {
  switch (type) {
    case DataType::kByte: return 1;
    case DataType::kInteger: return 2;
    case DataType::kLong: return 4;
    case DataType::kSingle: return 4;
    case DataType::kCurrency: case DataType::kDouble:
    case DataType::kDateTime: return 8;
    default: return 0;
  }
}

// A calculated number whose stored result has another size than the
// column's type: a Yes/No result (1 byte, 0xFF true) in an Integer column,
// or a decimal-form result in a Double column. Sign-extends short integers
// and converts decimal forms; nullopt when the bytes fit the type as is.
std::optional<Value> CalculatedNumber(std::span<const uint8_t> data,
                                      const ColumnDef& column,
                                      const ValueContext& where) {
  size_t size = FixedSize(column.type);
  if (size == 0 || data.size() == size) return std::nullopt;
  bool integer = column.type == DataType::kByte ||
                 column.type == DataType::kInteger ||
                 column.type == DataType::kLong;
  if (integer && data.size() < size) {
    int64_t v = static_cast<int8_t>(data[data.size() - 1]);
    for (size_t i = data.size(); i-- > 0;) v = (v << 8) | data[i];
    if (column.type == DataType::kByte) return Value(static_cast<uint8_t>(v));
    if (column.type == DataType::kInteger) return Value(static_cast<int16_t>(v));
    return Value(static_cast<int32_t>(v));
  }
  Value dec = DecodeCalculatedDecimal(data, column, where);
  const Decimal& d = std::get<Decimal>(dec);
  long double x = 0;
  for (int w = 3; w >= 0; --w) x = x * 4294967296.0L + d.magnitude[w];
  for (int i = 0; i < d.scale; ++i) x /= 10;
  if (d.negative) x = -x;
  switch (column.type) {
    case DataType::kByte: return Value(static_cast<uint8_t>(std::llround(x)));
    case DataType::kInteger: return Value(static_cast<int16_t>(std::llround(x)));
    case DataType::kLong: return Value(static_cast<int32_t>(std::llround(x)));
    case DataType::kSingle: return Value(static_cast<float>(x));
    case DataType::kCurrency: return Value(Currency{std::llround(x * 10000)});
    case DataType::kDateTime: return Value(DateTime{static_cast<double>(x)});
    default: return Value(static_cast<double>(x));
  }
}

}  // namespace

Decimal DecodeDecimal(std::span<const uint8_t> data, uint8_t precision,
                      uint8_t scale) {
  Decimal d;
  d.negative = (data[0] & 0x80) != 0;
  d.precision = precision;
  d.scale = scale;
  for (int w = 0; w < 4; ++w)
    d.magnitude[3 - w] = Load<uint32_t>(data.subspan(1 + 4 * w));
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
    // A Decimal column may hold a Single (4 bytes) or Double (8 bytes)
    // result; it is handed out as that number.
    if (column.type == DataType::kDecimal && data.size() == 4)
      return Load<float>(data);
    if (column.type == DataType::kDecimal && data.size() == 8)
      return Load<double>(data);
    if (column.type == DataType::kDecimal)
      return DecodeCalculatedDecimal(data, column, where);
    if (auto v = CalculatedNumber(data, column, where)) return *v;
  }
  auto need = [&](size_t n) {
    if (data.size() < n) throw TooShort(where, column);
  };
  switch (column.type) {
    case DataType::kBoolean:
      need(1);
      return data[0] != 0;
    case DataType::kByte: need(1); return data[0];
    case DataType::kInteger: need(2); return Load<int16_t>(data);
    case DataType::kLong: need(4); return Load<int32_t>(data);
    case DataType::kComplex: need(4); return ComplexKey{Load<int32_t>(data)};
    case DataType::kCurrency: need(8); return Currency{Load<int64_t>(data)};
    case DataType::kSingle: need(4); return Load<float>(data);
    case DataType::kDouble: need(8); return Load<double>(data);
    case DataType::kDateTime: need(8); return DateTime{Load<double>(data)};
    case DataType::kBigInt: need(8); return Load<int64_t>(data);
    case DataType::kReplicationId: {
      need(16);
      Guid g;
      std::memcpy(g.bytes.data(), data.data(), 16);
      return g;
    }
    case DataType::kDecimal:
      need(17);
      return DecodeDecimal(data, column.precision, column.scale);
    case DataType::kExtDateTime: {
      std::string text;
      for (uint8_t b : data) {
        if (b == 0) break;
        text.push_back(static_cast<char>(b));
      }
      return ExtDateTime{text};
    }
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

}  // namespace corvalin::engine
