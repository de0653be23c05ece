// Text encodings of the file.
//
// | Version   | Form                                                        |
// |-----------|-------------------------------------------------------------|
// | Jet3      | 1 byte per character, the database code page (cp1252 ...)   |
// | Jet4, ACE | UCS-2 little-endian, 2 bytes per character                  |
// | Jet4, ACE | compressed: FF FE, then runs; each 00 byte switches between |
// |           | 1-byte characters (U+0001..U+00FF) and 2-byte characters.   |
// |           | The string starts in the 1-byte mode.                        |
#include "db/engine/format/text_codec.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "db/engine/format/coding.h"

namespace corvalin::engine {
namespace {

// Windows-1252 0x80..0x9F; 0 marks bytes the code page leaves undefined
// (decoded as the C1 control of the same value, as Windows does).
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Turns UTF-16 code units into UTF-8 one at a time, pairing surrogates
// across the whole string; an unpaired surrogate becomes U+FFFD. It writes
// through a cursor into room the caller has made: at most three bytes a
// unit (a surrogate pair takes four for its two units).
class Utf16ToUtf8 {
 public:
  explicit Utf16ToUtf8(char* out) : out_(out) {}
  char* end() const { return out_; }
  void Unit(uint32_t u) {
    if (high_ != 0) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        Put(0x10000 + ((high_ - 0xD800) << 10) + (u - 0xDC00));
        high_ = 0;
        return;
      }
      Put(0xFFFD);
      high_ = 0;
    }
    if (u < 0x80) {
      *out_++ = static_cast<char>(u);
    } else if (u >= 0xD800 && u <= 0xDBFF) {
      high_ = u;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      Put(0xFFFD);
    } else {
      Put(u);
    }
  }
  // A unit of 0x01..0xFF (the compressed form's one-byte characters).
  void Latin1(uint8_t u) {
    if (high_ != 0 || u < 0x80) return Unit(u);
    *out_++ = static_cast<char>(0xC0 | (u >> 6));
    *out_++ = static_cast<char>(0x80 | (u & 0x3F));
  }
  // Where the next character goes, for the copies of ASCII runs, which
  // only ever follow a unit that is not a high surrogate.
  bool Pending() const { return high_ != 0; }
  char* cursor() const { return out_; }
  void Advance(size_t n) { out_ += n; }
  void End() {
    if (high_ != 0) Put(0xFFFD);
    high_ = 0;
  }

 private:
  void Put(uint32_t cp) {
    if (cp < 0x800) {
      *out_++ = static_cast<char>(0xC0 | (cp >> 6));
      *out_++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *out_++ = static_cast<char>(0xE0 | (cp >> 12));
      *out_++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *out_++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *out_++ = static_cast<char>(0xF0 | (cp >> 18));
      *out_++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *out_++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *out_++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  char* out_;
  uint32_t high_ = 0;
};

// The length of the run of bytes 0x01..0x7F at the start of p[0..n),
// copied to out as it goes: the compressed form's plain ASCII, which is
// nearly all of most texts. Sixteen bytes are tested at once; a copy may
// store past the run, inside the room the caller made (one output byte at
// least for each input byte).
size_t CopyAsciiRun(const uint8_t* p, size_t n, char* out) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    // A bit for each byte that is 0 or 0x80 and above.
    const int stop = _mm_movemask_epi8(_mm_or_si128(v, _mm_cmpeq_epi8(v, zero)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
    if (stop != 0) return i + size_t(__builtin_ctz(unsigned(stop)));
  }
#endif
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    if ((word & 0x8080808080808080ull) != 0 ||
        ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0)
      break;
    std::memcpy(out + i, &word, 8);
  }
  for (; i < n && p[i] != 0 && p[i] < 0x80; ++i) out[i] = static_cast<char>(p[i]);
  return i;
}

// The number of whole UCS-2 units below 0x80 at the start of p[0..n),
// their low bytes copied to out as it goes (room as above: one output byte
// for each unit, at least).
size_t CopyAsciiUnits(const uint8_t* p, size_t n, char* out) {
  size_t units = 0;
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16, units += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    // Two bits for each unit of 0x80 and above.
    const int stop = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), zero)) ^ 0xFFFF;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + units), _mm_packus_epi16(v, v));
    if (stop != 0) return units + size_t(__builtin_ctz(unsigned(stop))) / 2;
  }
#endif
  for (; i + 1 < n && p[i + 1] == 0 && p[i] < 0x80; i += 2) out[units++] = static_cast<char>(p[i]);
  return units;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void DecodeUnicodeText(std::span<const uint8_t> bytes, std::string& out) {
  // Three bytes of UTF-8 for every two stored, or two for every one of the
  // compressed form's one-byte characters, at most.
  out.resize(bytes.size() * 2 + 4);
  Utf16ToUtf8 utf8(out.data());
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    bool one_byte = true;
    size_t i = 2;
    while (i < bytes.size()) {
      if (bytes[i] == 0) {
        one_byte = !one_byte;
        ++i;
      } else if (one_byte) {
        const size_t run =
            utf8.Pending() ? 0 : CopyAsciiRun(&bytes[i], bytes.size() - i, utf8.cursor());
        if (run > 0) {
          utf8.Advance(run);
          i += run;
        } else {
          utf8.Latin1(bytes[i]);
          ++i;
        }
      } else {
        if (i + 1 >= bytes.size()) break;  // a dangling half character
        utf8.Unit(Read16(bytes, i));
        i += 2;
      }
    }
  } else {
    size_t i = 0;
    while (i + 1 < bytes.size()) {
      const size_t run =
          utf8.Pending() ? 0 : CopyAsciiUnits(&bytes[i], bytes.size() - i, utf8.cursor());
      if (run > 0) {
        utf8.Advance(run);
        i += 2 * run;
      } else {
        utf8.Unit(Read16(bytes, i));
        i += 2;
      }
    }
  }
  utf8.End();
  out.resize(size_t(utf8.end() - out.data()));
}

std::string DecodeUnicodeText(std::span<const uint8_t> bytes) {
  std::string out;
  DecodeUnicodeText(bytes, out);
  return out;
}

void DecodeCodePageText(std::span<const uint8_t> bytes, uint16_t /*code_page*/,
                        std::string& out) {
  out.clear();
  out.reserve(bytes.size());
  for (uint8_t b : bytes) {
    if (b < 0x80)
      out.push_back(static_cast<char>(b));
    else if (b <= 0x9F && kCp1252High[b - 0x80] != 0)
      AppendUtf8(out, kCp1252High[b - 0x80]);
    else
      AppendUtf8(out, b);
  }
}

std::string DecodeCodePageText(std::span<const uint8_t> bytes, uint16_t code_page) {
  std::string out;
  DecodeCodePageText(bytes, code_page, out);
  return out;
}

}  // namespace corvalin::engine
