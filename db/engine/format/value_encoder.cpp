// Stored forms as in value_codec.cpp (the table there gives every type).
#include "db/engine/format/value_encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "db/engine/error.h"
#include "db/engine/format/coding.h"

namespace corvalin::engine {
namespace {

// Compressed text: FF FE, then one byte a character; Access compresses
// only where that saves room.
constexpr uint8_t kCompressedMark[2] = {0xFF, 0xFE};
constexpr size_t kMaxCompressedChars = 1024;

template <typename T>
void Store(std::vector<uint8_t>& out, T v) {
  out.resize(sizeof v);
  WriteAs(out, 0, v);
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

// Windows-1252 bytes 0x80..0x9F (0: undefined there). The reader turns an
// undefined byte into the control character of the same number, so those
// characters go back to their bytes.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
constexpr uint16_t kWindows1252 = 1252;

int Cp1252Byte(char16_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return u;
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == u || (kCp1252High[i] == 0 && u == 0x80 + i)) return 0x80 + i;
  return -1;
}

std::string CodePoint(char32_t u) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "U+%04X", unsigned(u));
  return hex;
}

// Jet3 text: one byte a character in the column's code page. Only
// Windows-1252 (the code page of Western-language files, and what a column
// without one is read as) is written beyond ASCII; in any other code page a
// non-ASCII character is refused rather than stored as the wrong letter.
std::vector<uint8_t> EncodeCodePageText(const ColumnDef& column, const std::u16string& units,
                                        const ValueContext& where) {
  const bool cp1252 = column.code_page == 0 || column.code_page == kWindows1252;
  std::vector<uint8_t> out;
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    char16_t u = units[i];
    int b = cp1252 ? Cp1252Byte(u) : u < 0x80 ? int(u) : -1;
    if (b < 0) {
      char32_t c = u;
      if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size())
        c = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      throw Error(kErrTypeMismatch,
                  "the text for column " + column.name + " of table " + where.table +
                      " (file " + where.file + ") has the character " + CodePoint(c) +
                      ", which the column's code page (" +
                      (cp1252 ? std::string("Windows-1252")
                              : std::to_string(column.code_page)) +
                      ") cannot hold");
    }
    out.push_back(static_cast<uint8_t>(b));
  }
  return out;
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

namespace {

// Text with characters beyond ASCII: through UTF-16.
std::vector<uint8_t> EncodeUnicodeText(const JetFormat& format, const ColumnDef& column,
                                       const std::string& utf8, size_t max_chars,
                                       const ValueContext& where) {
  std::u16string units = Utf8ToUtf16(utf8);
  if (max_chars > 0 && units.size() > max_chars)
    throw Error(kErrTooLong, "the text for column " + column.name + " of table " +
                                 where.table + " has " + std::to_string(units.size()) +
                                 " characters; the column holds " +
                                 std::to_string(max_chars));
  if (!format.unicode_text) return EncodeCodePageText(column, units, where);
  std::vector<uint8_t> out;
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
  for (size_t i = 0; i < units.size(); ++i) Write16(out, 2 * i, units[i]);
  return out;
}

}  // namespace

void EncodeText(const JetFormat& format, const ColumnDef& column, const std::string& utf8,
                size_t max_chars, const ValueContext& where, std::vector<uint8_t>& out) {
  // Plain ASCII text (the usual kind) is its own UTF-16 code units.
  const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char ch) {
    return static_cast<uint8_t>(ch) - 1u < 0x7Fu;  // 0x01 .. 0x7F
  });
  if (!ascii || !format.unicode_text || (max_chars > 0 && utf8.size() > max_chars)) {
    out = EncodeUnicodeText(format, column, utf8, max_chars, where);
    return;
  }
  out.clear();
  if (column.compressed_unicode && utf8.size() > 2 && utf8.size() <= kMaxCompressedChars) {
    out.insert(out.end(), std::begin(kCompressedMark), std::end(kCompressedMark));
    out.insert(out.end(), utf8.begin(), utf8.end());
  } else {
    out.resize(utf8.size() * 2);
    for (size_t i = 0; i < utf8.size(); ++i) out[2 * i] = static_cast<uint8_t>(utf8[i]);
  }
}

std::vector<uint8_t> EncodeText(const JetFormat& format, const ColumnDef& column,
                                const std::string& utf8, size_t max_chars,
                                const ValueContext& where) {
  std::vector<uint8_t> out;
  EncodeText(format, column, utf8, max_chars, where, out);
  return out;
}

void EncodeFixedValue(const ColumnDef& column, const Value& value, const ValueContext& where,
                      std::vector<uint8_t>& out) {
  out.clear();
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
      for (int w = 0; w < 4; ++w) Write32(out, 1 + 4 * w, d.magnitude[3 - w]);
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
}

std::vector<uint8_t> EncodeFixedValue(const ColumnDef& column, const Value& value,
                                      const ValueContext& where) {
  std::vector<uint8_t> out;
  EncodeFixedValue(column, value, where, out);
  return out;
}

}  // namespace corvalin::engine
