// Text index keys: the bytes Access's engine writes for a text value under
// a sort order. The character codes come from generated tables
// (text_index_codes_*.inc, made by tools/gen_text_index_codes.py); how a key
// is assembled from them is described in text_index_codes.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/table_def.h"

namespace corvalin::engine {

enum class TextSortOrder {
  kGeneral97,      // Jet3 "General"
  kGeneralLegacy,  // Jet4 to ACE12 "General", and older columns of later files
  kGeneral,        // ACE14 and later "General"
};

// "General (Access 97)", "General Legacy", "General".
const char* TextSortOrderName(TextSortOrder order);

// The sort order of a text or memo column's keys; nullopt when it is one we
// have no codes for.
std::optional<TextSortOrder> TextSortOrderOf(const JetFormat& format,
                                             const ColumnDef& column);

// The characters a text key covers: at most 255 UTF-16 units, trailing spaces
// dropped.
constexpr size_t kMaxTextKeyChars = 255;

// Why a text has no key we can vouch for: a character whose code the sort
// order does not know, or (`after` set) a character whose accent's place in
// the key follows a character that expands into several letters (such as
// U+00E6), for which Access's counting is not known.
struct TextKeyFault {
  char32_t character = 0;
  char32_t after = 0;
};

// Appends the key bytes of `utf8` (after the flag byte) to `out`. Returns the
// fault that stops the key; `out` then holds a partial key the caller must
// discard.
std::optional<TextKeyFault> AppendTextKey(TextSortOrder order, std::string_view utf8,
                                          bool ascending, std::vector<uint8_t>& out);

// What one character of the plain kinds (a letter, digit, sign, with or
// without an accent) contributes to a key: its inline code and its accent
// code (General (Access 97): one nibble; none for characters without one).
// nullopt for the other kinds (unknown, ignored, unprintable, modifier,
// Kana, expansions), whose contribution depends on their neighbours. For
// checking the order keys give.
struct TextCharWeights {
  std::vector<uint8_t> inline_code;
  std::vector<uint8_t> accent;
  bool takes_place = false;  // has a place among the accents, with or without one
};
std::optional<TextCharWeights> PlainCharWeights(TextSortOrder order, char16_t unit);

}  // namespace corvalin::engine
