// Stored forms as in value_codec.cpp (the table there gives every type).
#include "db/engine/format/value_encoder.h"

#include <cstdio>
#include <cstring>

#include "db/engine/error.h"

namespace corvalin::engine {
namespace {

// Compressed text: FF FE, then one byte a character; Access compresses
// only where that saves room.
constexpr uint8_t kCompressedMark[2] = {0xFF, 0xFE};
constexpr size_t kMaxCompressedChars = 1024;

template <typename T>
void Store(std::vector<uint8_t>& out, T v) {
  out.resize(sizeof v);
  std::memcpy(out.data(), &v, sizeof v);  // the host is little-endian
}

Error WrongType(const ColumnDef& column, const ValueContext& where) {
  return Error(kErrTypeMismatch, "the value for column " + column.name + " of table " +
                                     where.table + " is not of its type " +
                                     DataTypeName(column.type));
}

template <typename T>
const T& As(const Value& v, const ColumnDef& column, const ValueContext& where) {
  if (const T* p = std::get_if<T>(&v)) return *p;
  throw WrongType(column, where);
}

// Windows-1252 bytes 0x80..0x9F (0: undefined there).
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

int Cp1252Byte(char16_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return u;
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == u) return 0x80 + i;
  return -1;
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint8_t c = static_cast<uint8_t>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) {
      ++i;
    } else {
      cp = n == 1 ? c : c & (0x7F >> n);
      bool ok = true;
      for (size_t k = 1; k < n; ++k) {
        uint8_t d = static_cast<uint8_t>(s[i + k]);
        if ((d >> 6) != 2) ok = false;
        cp = (cp << 6) | (d & 0x3F);
      }
      i += ok ? n : 1;
      if (!ok) cp = 0xFFFD;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::vector<uint8_t> EncodeText(const JetFormat& format, const ColumnDef& column,
                                const std::string& utf8, size_t max_chars,
                                const ValueContext& where) {
  std::u16string units = Utf8ToUtf16(utf8);
  if (max_chars > 0 && units.size() > max_chars)
    throw Error(kErrTooLong, "the text for column " + column.name + " of table " +
                                 where.table + " has " + std::to_string(units.size()) +
                                 " characters; the column holds " +
                                 std::to_string(max_chars));
  std::vector<uint8_t> out;
  if (!format.unicode_text) {
    out.reserve(units.size());
    for (char16_t u : units) {
      int b = Cp1252Byte(u);
      if (b < 0)
        throw Error(kErrTypeMismatch, "the text for column " + column.name + " of table " +
                                          where.table + " has a character (U+" +
                                          [&] {
                                            char hex[8];
                                            std::snprintf(hex, sizeof hex, "%04X", unsigned(u));
                                            return std::string(hex);
                                          }() +
                                          ") that the file's code page lacks");
      out.push_back(static_cast<uint8_t>(b));
    }
    return out;
  }
  bool compress = column.compressed_unicode && units.size() > 2 &&
                  units.size() <= kMaxCompressedChars;
  for (char16_t u : units)
    if (u == 0 || u > 0xFF) compress = false;
  if (compress) {
    out.reserve(units.size() + 2);
    out.assign(std::begin(kCompressedMark), std::end(kCompressedMark));
    for (char16_t u : units) out.push_back(static_cast<uint8_t>(u));
    return out;
  }
  out.resize(units.size() * 2);
  for (size_t i = 0; i < units.size(); ++i) {
    out[2 * i] = static_cast<uint8_t>(units[i]);
    out[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
  }
  return out;
}

std::vector<uint8_t> EncodeFixedValue(const ColumnDef& column, const Value& value,
                                      const ValueContext& where) {
  std::vector<uint8_t> out;
  switch (column.type) {
    case DataType::kByte: Store(out, As<uint8_t>(value, column, where)); break;
    case DataType::kInteger: Store(out, As<int16_t>(value, column, where)); break;
    case DataType::kLong: Store(out, As<int32_t>(value, column, where)); break;
    case DataType::kComplex: Store(out, As<ComplexKey>(value, column, where).id); break;
    case DataType::kCurrency: Store(out, As<Currency>(value, column, where).scaled); break;
    case DataType::kSingle: Store(out, As<float>(value, column, where)); break;
    case DataType::kDouble: Store(out, As<double>(value, column, where)); break;
    case DataType::kDateTime: Store(out, As<DateTime>(value, column, where).days); break;
    case DataType::kBigInt: Store(out, As<int64_t>(value, column, where)); break;
    case DataType::kReplicationId: {
      const Guid& g = As<Guid>(value, column, where);
      out.assign(g.bytes.begin(), g.bytes.end());
      break;
    }
    case DataType::kDecimal: {
      const Decimal& d = As<Decimal>(value, column, where);
      out.assign(17, 0);
      out[0] = d.negative ? 0x80 : 0x00;
      for (int w = 0; w < 4; ++w) {
        uint32_t word = d.magnitude[3 - w];
        std::memcpy(out.data() + 1 + 4 * w, &word, 4);
      }
      break;
    }
    case DataType::kExtDateTime: {
      const std::string& text = As<ExtDateTime>(value, column, where).text;
      out.assign(text.begin(), text.end());
      break;
    }
    default:
      throw WrongType(column, where);
  }
  if (out.size() > column.length)
    throw Error(kErrTooLong, "the value for column " + column.name + " of table " +
                                 where.table + " does not fit its " +
                                 std::to_string(column.length) + " bytes");
  out.resize(column.length, 0);
  return out;
}

}  // namespace corvalin::engine
