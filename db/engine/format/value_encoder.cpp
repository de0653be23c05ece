// Stored forms as in value_codec.cpp (the table there gives every type).
#include "db/engine/format/value_encoder.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "db/engine/error.h"
#include "db/engine/format/coding.h"

namespace corvalin::engine {
namespace {

// Compressed text: FF FE, then one byte a character; Access compresses
// only where that saves room.
constexpr uint8_t kCompressedMark[2] = {0xFF, 0xFE};
constexpr size_t kMaxCompressedChars = 1024;

// Whether the 16 bytes at p are all ASCII (below 0x80), and with
// no_zero also none of them 0: texts are mostly such runs, tested and
// copied a block at a time.
#if defined(__SSE2__)
inline bool AsciiBlock16(const uint8_t* p, bool no_zero) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i bad = no_zero ? _mm_or_si128(v, _mm_cmpeq_epi8(v, _mm_setzero_si128())) : v;
  return _mm_movemask_epi8(bad) == 0;
}
#endif

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

namespace {

// Decodes UTF-8 into `out`, which has room for s.size() units (no sequence
// gives more units than it has bytes); returns the number of units.
// Invalid sequences become U+FFFD.
size_t DecodeUtf8(const std::string& s, char16_t* out) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(s.data());
  const size_t size = s.size();
  size_t i = 0, n = 0;
  while (i < size) {
#if defined(__SSE2__)
    if (i + 16 <= size && AsciiBlock16(p + i, false)) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      const __m128i zero = _mm_setzero_si128();
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n + 8), _mm_unpackhi_epi8(v, zero));
      i += 16;
      n += 16;
      continue;
    }
#endif
    uint8_t c = p[i];
    if (c < 0x80) {
      out[n++] = c;
      ++i;
      continue;
    }
    uint32_t cp = 0xFFFD;
    size_t len = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > size) {
      ++i;
    } else {
      cp = c & (0x7F >> len);
      bool ok = true;
      for (size_t k = 1; k < len; ++k) {
        uint8_t d = p[i + k];
        if ((d >> 6) != 2) ok = false;
        cp = (cp << 6) | (d & 0x3F);
      }
      i += ok ? len : 1;
      if (!ok) cp = 0xFFFD;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out[n++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[n++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out[n++] = static_cast<char16_t>(cp);
    }
  }
  return n;
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& s) {
  std::u16string out(s.size(), u'\0');
  out.resize(DecodeUtf8(s, out.data()));
  return out;
}

namespace {

// Text with characters beyond ASCII: through UTF-16, into out. The code
// units go through a buffer kept by the thread, so that a save allocates
// nothing for them.
void EncodeUnicodeText(const JetFormat& format, const ColumnDef& column,
                       const std::string& utf8, size_t max_chars, const ValueContext& where,
                       std::vector<uint8_t>& out) {
  thread_local std::u16string units;
  units.resize(utf8.size());
  units.resize(DecodeUtf8(utf8, units.data()));
  if (max_chars > 0 && units.size() > max_chars)
    throw Error(kErrTooLong, "the text for column " + column.name + " of table " +
                                 where.table + " has " + std::to_string(units.size()) +
                                 " characters; the column holds " +
                                 std::to_string(max_chars));
  if (!format.unicode_text) {
    out = EncodeCodePageText(column, units, where);
    return;
  }
  bool compress = column.compressed_unicode && units.size() > 2 &&
                  units.size() <= kMaxCompressedChars;
  if (compress) {
    char16_t any = 0;
    bool zero = false;
    for (char16_t u : units) {
      any |= u;
      zero |= u == 0;
    }
    compress = !zero && any <= 0xFF;
  }
  if (compress) {
    out.resize(units.size() + 2);
    out[0] = kCompressedMark[0];
    out[1] = kCompressedMark[1];
    uint8_t* to = out.data() + 2;
    for (size_t i = 0; i < units.size(); ++i) to[i] = static_cast<uint8_t>(units[i]);
    return;
  }
  out.resize(units.size() * 2);
  uint8_t* to = out.data();
  if constexpr (std::endian::native == std::endian::little) {
    if (!units.empty()) std::memcpy(to, units.data(), units.size() * 2);
  } else {
    for (size_t i = 0; i < units.size(); ++i) {
      to[2 * i] = static_cast<uint8_t>(units[i]);
      to[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
    }
  }
}

}  // namespace

namespace {

// The compressed form of text whose characters all lie in U+0001..U+00FF,
// straight from its UTF-8 (ASCII eight bytes at a time): false, out in an
// unspecified state, for any other text and for one of more than
// kMaxCompressedChars characters. `chars` is set to the text's length.
bool EncodeCompressed(const std::string& utf8, std::vector<uint8_t>& out, size_t& chars) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
  const size_t size = utf8.size();
  out.resize(2 + size);
  uint8_t* to = out.data();
  *to++ = kCompressedMark[0];
  *to++ = kCompressedMark[1];
  const uint8_t* const first = to;
  size_t i = 0;
  while (i < size) {
#if defined(__SSE2__)
    if (i + 16 <= size && AsciiBlock16(p + i, true)) {
      std::memcpy(to, p + i, 16);
      to += 16;
      i += 16;
      continue;
    }
#endif
    if (i + 8 <= size) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      // Eight ASCII bytes, none of them zero.
      if ((word & 0x8080808080808080ull) == 0 &&
          ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) == 0) {
        std::memcpy(to, p + i, 8);
        to += 8;
        i += 8;
        continue;
      }
    }
    const uint8_t c = p[i];
    if (c != 0 && c < 0x80) {
      *to++ = c;
      ++i;
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < size && (p[i + 1] >> 6) == 2) {
      *to++ = uint8_t((c & 0x03) << 6 | (p[i + 1] & 0x3F));  // U+0080..U+00FF
      i += 2;
    } else {
      return false;
    }
  }
  chars = size_t(to - first);
  if (chars <= 2 || chars > kMaxCompressedChars) return false;
  out.resize(2 + chars);
  return true;
}

}  // namespace

void EncodeText(const JetFormat& format, const ColumnDef& column, const std::string& utf8,
                size_t max_chars, const ValueContext& where, std::vector<uint8_t>& out) {
  // The usual text of a compressing column goes straight to its stored form.
  size_t chars = 0;
  // (A compressible text has at most two bytes a character.)
  if (format.unicode_text && column.compressed_unicode && utf8.size() > 2 &&
      utf8.size() <= 2 * kMaxCompressedChars && EncodeCompressed(utf8, out, chars) && (max_chars == 0 || chars <= max_chars))
    return;
  // Plain ASCII text is its own UTF-16 code units.
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
  size_t checked = 0;
#if defined(__SSE2__)
  while (checked + 16 <= utf8.size() && AsciiBlock16(bytes + checked, true)) checked += 16;
#endif
  const bool ascii = std::all_of(bytes + checked, bytes + utf8.size(), [](uint8_t ch) {
    return ch - 1u < 0x7Fu;  // 0x01 .. 0x7F
  });
  if (!ascii || !format.unicode_text || (max_chars > 0 && utf8.size() > max_chars)) {
    EncodeUnicodeText(format, column, utf8, max_chars, where, out);
    return;
  }
  out.clear();
  if (column.compressed_unicode && utf8.size() > 2 && utf8.size() <= kMaxCompressedChars) {
    out.insert(out.end(), std::begin(kCompressedMark), std::end(kCompressedMark));
    out.insert(out.end(), utf8.begin(), utf8.end());
  } else {
    out.resize(utf8.size() * 2);
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= utf8.size(); i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data() + 2 * i), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data() + 2 * i + 16),
                       _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i < utf8.size(); ++i) out[2 * i] = bytes[i];
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
