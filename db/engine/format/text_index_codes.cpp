// Text index keys.
//
// Every character has a class and up to two codes in the sort order's table
// (the generated text_index_codes_*.inc; the stream's form is described in
// tools/gen_text_index_codes.py). The value is cut to 255 UTF-16 units and its
// trailing spaces dropped before it is keyed.
//
// General Legacy and General (one grammar, different tables):
//
//   inline codes  01  [accents] [01 01 [kana FF 02 80 FF 80] [FF]] [01 unprintables]  00
//
// - inline codes: each character's inline code in order (ignored,
//   unprintable and modifier characters have none);
// - accents: one byte string per character that has inline code, 02 for
//   those without an accent code, trailing 00..02 bytes dropped; a modifier
//   character adds its code to the accent byte before it (or starts the
//   accents when there is none);
// - the 01 01 section appears when there are Kana flags or unprintables;
//   kana: each Kana character's flag (02 or 03), three to a byte as 2-bit
//   fields under the prefix 0x80, trailing 03 flags dropped; FF follows when
//   unprintables come next;
// - unprintables: per unprintable character, the big-endian 16-bit number
//   0x8000 | (7 + 4 * position), 06, and its code, where position counts the
//   accent bytes before it (characters not yet given one counting one each,
//   a leading modifier byte not counting);
// - a descending key is written with one more 00 after the accents, the
//   whole flipped, then the closing 00.
//
// General (Access 97): the inline codes, then either 00 or, when a character
// has an accent code, a nibble stream: 0, then for each accented character
// one 2 nibble per significant character before it since the last accent and
// its accent nibble, then 0 (padded to a byte). A descending key is flipped
// whole.
//
// Surrogates are not in the tables: a high surrogate's inline code is
// (unit - 10238), a low one's (unit - k) with k from its position in its
// 1024-unit block, both as two big-endian bytes with the accent code 3F.
#include "db/engine/format/text_index_codes.h"

#include <cstring>
#include <string>

namespace corvalin::engine {
namespace {

#include "db/engine/format/text_index_codes_general.inc"
#include "db/engine/format/text_index_codes_general_97.inc"
#include "db/engine/format/text_index_codes_general_legacy.inc"

// Character classes as the generated stream numbers them.
enum CharClass : uint8_t {
  kSimple = 0,
  kAccented = 1,
  kUnprintable = 2,
  kModifier = 3,
  kKana = 4,
  kSignificant = 5,
  kIgnored = 6,
  kUnknown = 0xFF,  // not in the table
};

struct CharCode {
  uint8_t cls = kUnknown;
  uint8_t kana = 0;  // 0, 1 or 2
  uint8_t first_length = 0;
  uint8_t second_length = 0;
  uint8_t first[8] = {};
  uint8_t second[4] = {};
  // A character whose inline code is the codes of several Latin letters
  // (U+00DF: s s): how many, and how many of them are significant letters
  // in General (Access 97).
  uint8_t letters = 0;
  uint8_t significant_letters = 0;
};

constexpr uint8_t kEndText = 0x01;
constexpr uint8_t kEndKey = 0x00;
constexpr uint8_t kNoAccent = 0x02;
constexpr uint8_t kKanaPrefix = 0x80;
constexpr uint8_t kKanaFlags[] = {0, 0x02, 0x03};
constexpr uint8_t kKanaSuffix[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
constexpr uint8_t kKanaBeforeUnprintables = 0xFF;
constexpr uint16_t kUnprintableFlag = 0x8000;
constexpr uint16_t kUnprintableStart = 7;
constexpr uint16_t kUnprintableStep = 4;
constexpr uint8_t kUnprintableMark = 0x06;
constexpr uint8_t kSurrogateAccent = 0x3F;
constexpr char16_t kFirstSurrogate = 0xD800, kFirstLowSurrogate = 0xDC00,
                   kLastSurrogate = 0xDFFF;

class StreamReader {
 public:
  explicit StreamReader(const char* hex) : hex_(hex), size_(std::strlen(hex)) {}
  bool done() const { return at_ + 1 >= size_; }
  uint8_t Byte() {
    auto nibble = [](char c) { return uint8_t(c <= '9' ? c - '0' : c - 'A' + 10); };
    uint8_t b = uint8_t(nibble(hex_[at_]) << 4 | nibble(hex_[at_ + 1]));
    at_ += 2;
    return b;
  }
  uint64_t Varint() {
    uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
      uint8_t b = Byte();
      v |= uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80)) return v;
    }
  }

 private:
  const char* hex_;
  size_t size_;
  size_t at_ = 0;
};

// The generated run stream, expanded to one entry per UTF-16 unit.
std::vector<CharCode> Expand(const char* hex, size_t units) {
  std::vector<CharCode> table(units);
  StreamReader in(hex);
  size_t unit = 0;
  while (!in.done()) {
    uint8_t head = in.Byte(), lengths = in.Byte();
    uint64_t count = in.Varint();
    int64_t step = 0;
    if (count > 1) {
      uint64_t z = in.Varint();
      step = (z & 1) ? -int64_t(z >> 1) - 1 : int64_t(z >> 1);
    }
    CharCode code;
    code.cls = head & 0x0F;
    code.kana = head >> 4;
    code.first_length = lengths & 0x0F;
    code.second_length = lengths >> 4;
    uint64_t first = 0;
    for (int i = 0; i < code.first_length; ++i) first = first << 8 | in.Byte();
    for (int i = 0; i < code.second_length; ++i) code.second[i] = in.Byte();
    for (uint64_t k = 0; k < count && unit < units; ++k, ++unit) {
      uint64_t v = first + uint64_t(step) * k;
      for (int i = code.first_length; i-- > 0;) {
        code.first[i] = uint8_t(v);
        v >>= 8;
      }
      table[unit] = code;
    }
    if (unit == kFirstSurrogate) unit = kLastSurrogate + 1;
  }
  return table;
}

// Marks the characters whose inline code is made of the codes of two or
// more of the letters a to z (each letter's code has the same length).
void MarkExpansions(std::vector<CharCode>& table) {
  const CharCode& a = table[u'a'];
  const size_t size = a.first_length;
  if (size == 0) return;
  auto letter = [&](const uint8_t* code, bool* significant) {
    for (char16_t c = u'a'; c <= u'z'; ++c) {
      const CharCode& l = table[c];
      if (l.first_length == size && std::memcmp(l.first, code, size) == 0) {
        *significant = l.cls == kSignificant;
        return true;
      }
    }
    return false;
  };
  for (size_t unit = 0x80; unit < table.size(); ++unit) {
    CharCode& c = table[unit];
    if (c.cls == kUnknown || c.cls == kUnprintable || c.cls == kModifier ||
        c.cls == kIgnored || c.first_length < 2 * size || c.first_length % size != 0)
      continue;
    uint8_t letters = 0, significant = 0;
    bool all = true;
    for (size_t at = 0; all && at < c.first_length; at += size) {
      bool sig = false;
      all = letter(c.first + at, &sig);
      ++letters;
      significant += sig ? 1 : 0;
    }
    if (!all) continue;
    c.letters = letters;
    c.significant_letters = significant;
  }
}

std::vector<CharCode> BuildTable(TextSortOrder order) {
  std::vector<CharCode> table;
  switch (order) {
    case TextSortOrder::kGeneral97:
      table = Expand(kGeneral97Codes, 0x100);
      // Access 97 keys U+0000 as the control characters after it (seen
      // in a key it wrote); the published list ignores it.
      table[0] = table[1];
      break;
    case TextSortOrder::kGeneralLegacy:
      table = Expand(kGeneralLegacyCodes, 0x10000);
      break;
    case TextSortOrder::kGeneral: table = Expand(kGeneralCodes, 0x10000); break;
  }
  // Whether later versions key U+0000 at all, and how, is not known.
  if (order != TextSortOrder::kGeneral97) table[0] = CharCode{};
  MarkExpansions(table);
  return table;
}

// Each table is built on first use (a static's own guard: a key costs one
// load to find it built).
const std::vector<CharCode>& Table(TextSortOrder order) {
  switch (order) {
    case TextSortOrder::kGeneral97: {
      static const std::vector<CharCode> table = BuildTable(TextSortOrder::kGeneral97);
      return table;
    }
    case TextSortOrder::kGeneralLegacy: {
      static const std::vector<CharCode> table = BuildTable(TextSortOrder::kGeneralLegacy);
      return table;
    }
    case TextSortOrder::kGeneral:
      break;
  }
  static const std::vector<CharCode> table = BuildTable(TextSortOrder::kGeneral);
  return table;
}

// Expansions whose letters are known to count as characters of their own
// where the key records a place: U+00DF in General (Access 97), seen in a
// key Access wrote (each s a significant character before a later accent).
bool ExpansionCountsItsLetters(TextSortOrder order, char16_t unit) {
  return order == TextSortOrder::kGeneral97 && unit == 0xDF;
}

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD, as the file's own
// text decoding does with a lone surrogate.
std::u16string ToUtf16(std::string_view s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    uint8_t b = uint8_t(s[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    char32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    bool ok = extra >= 0 && i + extra < s.size();
    for (int k = 1; ok && k <= extra; ++k) {
      uint8_t c = uint8_t(s[i + k]);
      if ((c & 0xC0) != 0x80) ok = false;
      cp = cp << 6 | (c & 0x3F);
    }
    if (!ok || cp > 0x10FFFF || (cp >= kFirstSurrogate && cp <= kLastSurrogate)) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(kFirstSurrogate + (cp >> 10)));
      out.push_back(char16_t(kFirstLowSurrogate + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
  }
  return out;
}

// The units a key is made of, in text (whose buffer is kept from key to
// key).
void KeyedText(std::string_view utf8, std::u16string& text) {
  text.clear();
  bool ascii = true;
  for (char c : utf8) ascii = ascii && uint8_t(c) < 0x80;
  if (ascii)
    text.assign(utf8.begin(), utf8.end());
  else
    text = ToUtf16(utf8);
  if (text.size() > kMaxTextKeyChars) text.resize(kMaxTextKeyChars);
  while (!text.empty() && text.back() == u' ') text.pop_back();
}

// The code of a surrogate unit, which the tables leave out.
CharCode SurrogateCode(char16_t unit) {
  int code;
  if (unit < kFirstLowSurrogate) {
    code = unit - 10238;
  } else {
    int offset = (unit - kFirstLowSurrogate) % 1024;
    int k = offset < 8 ? 9992 : offset < 262 ? 9990 : offset < 516 ? 9988
                                : offset < 770 ? 9986 : 9984;
    code = unit - k;
  }
  CharCode c;
  c.cls = kAccented;
  c.first_length = 2;
  c.first[0] = uint8_t(code >> 8);
  c.first[1] = uint8_t(code);
  c.second_length = 1;
  c.second[0] = kSurrogateAccent;
  return c;
}

void FlipFrom(std::vector<uint8_t>& out, size_t from) {
  for (size_t i = from; i < out.size(); ++i) out[i] = uint8_t(~out[i]);
}

std::optional<TextKeyFault> AppendGeneral(const std::vector<CharCode>& table,
                                          const std::u16string& text, bool ascending,
                                          std::vector<uint8_t>& out) {
  const size_t start = out.size();
  // Kept from key to key, so that a key allocates nothing.
  thread_local std::vector<uint8_t> accents, unprintables, kana;
  accents.clear();
  unprintables.clear();
  kana.clear();
  out.reserve(out.size() + 2 * text.size() + 8);
  size_t accented_chars = 0;     // characters the accent bytes stand for
  size_t accent_prefix = 0;      // a leading modifier byte, not a character
  size_t position = 0;           // characters with an inline code so far
  char16_t expansion = 0;        // the last character that expands into letters
  CharCode surrogate;
  for (char16_t unit : text) {
    const bool is_surrogate = unit >= kFirstSurrogate && unit <= kLastSurrogate;
    if (is_surrogate) surrogate = SurrogateCode(unit);
    const CharCode& code = is_surrogate ? surrogate : table[unit];
    if (code.cls == kSimple && code.letters <= 1 && code.first_length > 0) {
      // Most characters: their inline code and nothing else.
      for (uint8_t i = 0; i < code.first_length; ++i) out.push_back(code.first[i]);
      ++position;
      continue;
    }
    if (code.cls == kUnknown || code.cls == kSignificant) return TextKeyFault{unit};
    if (code.letters > 1) expansion = unit;
    // Whether Access counts an expansion as one place or as its letters
    // where a place is recorded (accents, unprintables) is not known.
    const bool records_place =
        ((code.cls == kAccented || code.cls == kKana) && code.second_length > 0) ||
        code.cls == kModifier || code.cls == kUnprintable;
    if (records_place && expansion != 0) return TextKeyFault{unit, expansion};
    const size_t here = position;
    bool has_inline = code.cls != kUnprintable && code.cls != kModifier &&
                      code.cls != kIgnored && code.first_length > 0;
    if (has_inline) {
      out.insert(out.end(), code.first, code.first + code.first_length);
      ++position;
    }
    if (code.cls == kSimple || code.cls == kIgnored) continue;
    uint8_t modifier = code.cls == kModifier ? code.first[0] : 0;
    bool has_accent = code.cls != kUnprintable && code.cls != kModifier &&
                      code.second_length > 0;
    if (has_accent || modifier != 0) {
      if (accented_chars < here) {
        accents.insert(accents.end(), here - accented_chars, kNoAccent);
        accented_chars = here;
      }
      if (has_accent) {
        accents.insert(accents.end(), code.second, code.second + code.second_length);
        ++accented_chars;
      } else if (!accents.empty()) {
        accents.back() = uint8_t(accents.back() + modifier);
      } else {
        accents.push_back(modifier);
        accent_prefix = 1;
      }
    }
    if (code.cls == kUnprintable) {
      size_t at = accents.empty()
                      ? here
                      : accents.size() + (here - accented_chars) - accent_prefix;
      uint16_t mark = uint16_t(kUnprintableFlag | (kUnprintableStart + kUnprintableStep * at));
      unprintables.push_back(uint8_t(mark >> 8));
      unprintables.push_back(uint8_t(mark));
      unprintables.push_back(kUnprintableMark);
      unprintables.insert(unprintables.end(), code.first, code.first + code.first_length);
    }
    if (code.kana) kana.push_back(kKanaFlags[code.kana]);
  }
  out.push_back(kEndText);
  while (!accents.empty() && accents.back() <= kNoAccent) accents.pop_back();
  bool any_kana = !kana.empty(), any_unprintable = !unprintables.empty();
  out.insert(out.end(), accents.begin(), accents.end());
  if (any_kana || any_unprintable) {
    out.push_back(kEndText);
    out.push_back(kEndText);
    if (any_kana) {
      while (!kana.empty() && kana.back() == kKanaFlags[2]) kana.pop_back();
      uint8_t byte = kKanaPrefix;
      int in_byte = 0;
      for (uint8_t flag : kana) {
        byte |= uint8_t(flag << ((2 - in_byte) * 2));
        if (++in_byte == 3) {
          out.push_back(byte);
          byte = kKanaPrefix;
          in_byte = 0;
        }
      }
      if (in_byte > 0) out.push_back(byte);
      out.insert(out.end(), std::begin(kKanaSuffix), std::end(kKanaSuffix));
      if (any_unprintable) out.push_back(kKanaBeforeUnprintables);
    }
    if (any_unprintable) {
      out.push_back(kEndText);
      out.insert(out.end(), unprintables.begin(), unprintables.end());
    }
  }
  if (!ascending) {
    out.push_back(kEndKey);
    FlipFrom(out, start);
  }
  out.push_back(kEndKey);
  return std::nullopt;
}

std::optional<TextKeyFault> AppendGeneral97(const std::u16string& text, bool ascending,
                                            std::vector<uint8_t>& out) {
  const std::vector<CharCode>& table = Table(TextSortOrder::kGeneral97);
  const size_t start = out.size();
  std::vector<uint8_t> nibbles;
  size_t significant = 0;
  char16_t uncounted = 0;  // an expansion whose count before an accent is not known
  for (char16_t unit : text) {
    int byte = unit <= 0xFF ? unit : -1;
    if (unit > 0xFF)
      for (const auto& m : kGeneral97Mappings)
        if (m[0] == unit) byte = m[1];
    // Access 97 stores text in a one-byte code page: a character outside it
    // cannot be in a key.
    if (byte < 0 || table[byte].cls == kUnknown) return TextKeyFault{unit};
    const CharCode& code = table[byte];
    if (code.cls != kIgnored)
      out.insert(out.end(), code.first, code.first + code.first_length);
    if (code.letters > 1 && code.significant_letters > 0) {
      // U+00DF counts as the two significant characters s s.
      if (ExpansionCountsItsLetters(TextSortOrder::kGeneral97, char16_t(byte)))
        significant += code.significant_letters;
      else
        uncounted = unit;
    }
    if (code.cls == kSimple || code.cls == kIgnored) continue;
    if (code.cls == kSignificant) {
      ++significant;
      continue;
    }
    if (code.second_length == 0) continue;
    if (uncounted != 0) return TextKeyFault{unit, uncounted};
    if (nibbles.empty()) nibbles.push_back(0);
    nibbles.insert(nibbles.end(), significant, kNoAccent);
    significant = 0;
    nibbles.push_back(code.second[0] & 0x0F);
  }
  if (nibbles.empty()) {
    out.push_back(kEndKey);
  } else {
    nibbles.push_back(0);
    for (size_t i = 0; i < nibbles.size(); i += 2)
      out.push_back(uint8_t(nibbles[i] << 4 | (i + 1 < nibbles.size() ? nibbles[i + 1] : 0)));
  }
  if (!ascending) FlipFrom(out, start);
  return std::nullopt;
}

}  // namespace

const char* TextSortOrderName(TextSortOrder order) {
  switch (order) {
    case TextSortOrder::kGeneral97: return "General (Access 97)";
    case TextSortOrder::kGeneralLegacy: return "General Legacy";
    case TextSortOrder::kGeneral: return "General";
  }
  return "?";
}

std::optional<TextSortOrder> TextSortOrderOf(const JetFormat& format,
                                             const ColumnDef& column) {
  // The General sort order is locale 1033; its version tells the tables
  // apart. A column written without one takes the format's own.
  constexpr uint16_t kGeneralLocale = 1033;
  const bool jet3 = format.general97_text_keys;
  const bool legacy_default = format.legacy_text_sort_default;
  if (column.sort_order == 0 || jet3) {
    if (column.sort_order != 0 && column.sort_order != kGeneralLocale)
      return std::nullopt;
    return jet3 ? TextSortOrder::kGeneral97
                : legacy_default ? TextSortOrder::kGeneralLegacy : TextSortOrder::kGeneral;
  }
  if (column.sort_order != kGeneralLocale) return std::nullopt;
  if (column.sort_version == 0) return TextSortOrder::kGeneralLegacy;
  if (column.sort_version == 1) return TextSortOrder::kGeneral;
  return std::nullopt;
}

std::optional<TextCharWeights> PlainCharWeights(TextSortOrder order, char16_t unit) {
  const std::vector<CharCode>& table = Table(order);
  if (unit >= table.size() || (unit >= kFirstSurrogate && unit <= kLastSurrogate))
    return std::nullopt;
  const CharCode& code = table[unit];
  const bool plain = code.cls == kSimple || code.cls == kAccented ||
                     (code.cls == kSignificant && order == TextSortOrder::kGeneral97);
  if (!plain || code.letters > 1 || code.first_length == 0) return std::nullopt;
  TextCharWeights w;
  w.inline_code.assign(code.first, code.first + code.first_length);
  // Access 97 gives places to the letters that have accented forms only.
  w.takes_place = order != TextSortOrder::kGeneral97 || code.cls != kSimple;
  if (code.cls == kAccented && order == TextSortOrder::kGeneral97 && code.second_length > 0)
    w.accent.push_back(code.second[0] & 0x0F);
  else if (code.cls == kAccented)
    w.accent.assign(code.second, code.second + code.second_length);
  return w;
}

std::optional<TextKeyFault> AppendTextKey(TextSortOrder order, std::string_view utf8,
                                          bool ascending, std::vector<uint8_t>& out) {
  thread_local std::u16string text;
  KeyedText(utf8, text);
  if (order == TextSortOrder::kGeneral97) return AppendGeneral97(text, ascending, out);
  return AppendGeneral(Table(order), text, ascending, out);
}

}  // namespace corvalin::engine
