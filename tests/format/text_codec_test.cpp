#include "db/engine/format/text_codec.h"

#include <gtest/gtest.h>

#include <vector>

#include "db/engine/error.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/value_encoder.h"

namespace corvalin::engine {
namespace {

std::string Decode(std::vector<uint8_t> b) { return DecodeUnicodeText(b); }

TEST(TextCodec, Ucs2CompressedSwitchesAndSurrogates) {
  EXPECT_EQ(Decode({'A', 0, 0xE9, 0}), "A\xC3\xA9");
  // compressed: "ab", switch to two-byte U+20AC, switch back to "c"
  EXPECT_EQ(Decode({0xFF, 0xFE, 'a', 'b', 0, 0xAC, 0x20, 0, 'c'}),
            "ab\xE2\x82\xAC" "c");
  // U+1F600 as a surrogate pair; a lone high surrogate becomes U+FFFD
  EXPECT_EQ(Decode({0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Decode({0x3D, 0xD8, 'x', 0}), "\xEF\xBF\xBDx");
  // a dangling half character is dropped, never read past the end
  EXPECT_EQ(Decode({0xFF, 0xFE, 'a', 0, 0x41}), "a");
}

TEST(TextCodec, DecodingIntoAReusedStringGivesTheSameText) {
  std::string out = "a much longer text left from the row before";
  const std::vector<std::vector<uint8_t>> cases = {
      {'A', 0, 0xE9, 0},
      // a surrogate pair split by a switch of the compressed form
      {0xFF, 0xFE, 0, 0x3D, 0xD8, 0, 0, 0x00, 0xDE},
      {0x00, 0xDE, 0x3D, 0xD8},  // lone low, then lone high at the end
      {}};
  for (const auto& b : cases) {
    DecodeUnicodeText(b, out);
    EXPECT_EQ(out, Decode(b));
  }
  EXPECT_EQ(Decode({0x00, 0xDE, 0x3D, 0xD8}), "\xEF\xBF\xBD\xEF\xBF\xBD");
  std::vector<uint8_t> cp{'x', 0x80};
  DecodeCodePageText(cp, 1252, out);
  EXPECT_EQ(out, "x\xE2\x82\xAC");
}

// The decoded text by its definition, one unit at a time.
std::string ReferenceText(const std::vector<uint16_t>& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00));
    } else {
      AppendUtf8(out, u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
    }
  }
  return out;
}

// Long runs of ASCII are decoded many bytes at a time: whatever breaks a
// run (a letter beyond ASCII, a switch of the compressed form, a surrogate,
// a U+0000) must come out the same wherever it falls in a block.
TEST(TextCodec, AsciiRunsBrokenAtEveryPositionDecodeAsUnitByUnit) {
  const std::vector<std::vector<uint16_t>> breaks = {
      {0xE9}, {0x20AC}, {0xD83D, 0xDE00}, {0xD83D}, {0xDE00}, {0x0000}, {0x7F, 0x80}};
  std::string out;
  for (const auto& inner : breaks) {
    for (size_t at = 0; at < 40; ++at) {
      SCOPED_TRACE(std::to_string(inner[0]) + " at " + std::to_string(at));
      std::vector<uint16_t> units;
      for (size_t k = 0; k < at; ++k) units.push_back(uint16_t('a' + k % 26));
      units.insert(units.end(), inner.begin(), inner.end());
      for (size_t k = 0; k < 37; ++k) units.push_back(uint16_t('A' + k % 26));
      std::vector<uint8_t> plain;
      for (uint16_t u : units) {
        plain.push_back(uint8_t(u));
        plain.push_back(uint8_t(u >> 8));
      }
      DecodeUnicodeText(plain, out);
      EXPECT_EQ(out, ReferenceText(units));
      // The compressed form: one byte a unit, switching to two bytes (and
      // back) around units beyond 0xFF. A unit whose low byte is 0 has no
      // compressed form (its 0 would be a switch).
      bool compressible = true;
      for (uint16_t u : inner) compressible = compressible && (u & 0xFF) != 0;
      if (!compressible) continue;
      std::vector<uint8_t> compressed{0xFF, 0xFE};
      bool one_byte = true;
      for (uint16_t u : units) {
        const bool fits = u <= 0xFF;
        if (fits != one_byte) {
          compressed.push_back(0);
          one_byte = fits;
        }
        compressed.push_back(uint8_t(u));
        if (!fits) compressed.push_back(uint8_t(u >> 8));
      }
      DecodeUnicodeText(compressed, out);
      EXPECT_EQ(out, ReferenceText(units));
    }
  }
}

// The stored form by its definition: UTF-16 units, compressed (FF FE and
// one byte a unit) when there are 3 to 1024 units, all in 1..0xFF.
std::vector<uint8_t> ReferenceForm(const std::string& utf8, bool compressing) {
  std::u16string units = Utf8ToUtf16(utf8);
  bool compress = compressing && units.size() > 2 && units.size() <= 1024;
  for (char16_t u : units) compress = compress && u != 0 && u <= 0xFF;
  std::vector<uint8_t> out;
  if (compress) out = {0xFF, 0xFE};
  for (char16_t u : units) {
    out.push_back(uint8_t(u));
    if (!compress) out.push_back(uint8_t(u >> 8));
  }
  return out;
}

TEST(TextCodec, EncodingGivesTheStoredFormOfEveryKindOfText) {
  const JetFormat& ace = JetFormat::For(JetVersion::kAce12);
  ValueContext where{"f.accdb", "T", "C"};
  std::string latin;  // 1,024 characters, the compressed form's limit
  for (int i = 0; i < 128; ++i) latin += "Gr\xC3\xB6\xC3\x9F" "e\xC3\xB1" "o\xC3\xA9";
  const std::vector<std::string> texts = {
      "ab", "abc", "plain ASCII text of more than eight bytes", "caf\xC3\xA9 ma\xC3\xB1" "ana",
      "\xC3\xA9\xC3\xB1\xC3\xB6\xC3\x9F", "price 5 \xE2\x82\xAC", "smile \xF0\x9F\x98\x80",
      std::string("nul\0inside text", 16), "bad \xC3", "bad \xC3" "ASCII after it",
      "\xC2\x80\xC2\x9F control", latin, latin + "x", std::string(1025, 'a'),
      std::string(2049, 'a')};
  std::vector<uint8_t> out(5000, 0xAA);  // reused, longer than any result
  for (bool compressing : {true, false}) {
    ColumnDef column;
    column.type = DataType::kMemo;
    column.compressed_unicode = compressing;
    for (const std::string& text : texts) {
      SCOPED_TRACE(text.substr(0, 40));
      EncodeText(ace, column, text, 0, where, out);
      EXPECT_EQ(out, ReferenceForm(text, compressing));
      if (text.find("bad") == std::string::npos) {
        EXPECT_EQ(Decode(out), text);
      }
    }
  }
  ColumnDef name;
  name.type = DataType::kText;
  name.compressed_unicode = true;
  EXPECT_EQ(EncodeText(ace, name, "\xC3\xA9t\xC3\xA9", 3, where), ReferenceForm("\xC3\xA9t\xC3\xA9", true));
  EXPECT_THROW(EncodeText(ace, name, "\xC3\xA9t\xC3\xA9s", 3, where), Error);
  EXPECT_THROW(EncodeText(ace, name, "abcd", 3, where), Error);
}

// Runs of ASCII are encoded a block at a time: a character that breaks
// one must come out the same wherever it falls, in texts short and long
// enough for either stored form.
TEST(TextCodec, EncodingAsciiRunsBrokenAtEveryPosition) {
  const JetFormat& ace = JetFormat::For(JetVersion::kAce12);
  ValueContext where{"f.accdb", "T", "C"};
  const std::string breaks[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                std::string(1, '\0'), "\x7F"};
  std::vector<uint8_t> out;
  for (size_t length : {40, 1100, 2100}) {
    std::string base;
    for (size_t k = 0; k < length; ++k) base.push_back(char('a' + k % 26));
    for (const std::string& inner : breaks) {
      for (size_t at : {size_t(0), size_t(1), size_t(7), size_t(15), size_t(16), size_t(17),
                        size_t(31), length - 17, length - 1, length}) {
        const std::string text = base.substr(0, at) + inner + base.substr(at);
        for (bool compressing : {true, false}) {
          SCOPED_TRACE(std::to_string(length) + " at " + std::to_string(at) +
                       (compressing ? " compressing" : ""));
          ColumnDef column;
          column.type = DataType::kMemo;
          column.compressed_unicode = compressing;
          EncodeText(ace, column, text, 0, where, out);
          EXPECT_EQ(out, ReferenceForm(text, compressing));
          EXPECT_EQ(Decode(out), text);
        }
      }
    }
  }
}

TEST(TextCodec, Windows1252) {
  std::vector<uint8_t> b{'A', 0x80, 0xE9, 0x9C};
  EXPECT_EQ(DecodeCodePageText(b, 1252), "A\xE2\x82\xAC\xC3\xA9\xC5\x93");
}

// Writing Jet3 text undoes reading it: every byte of Windows-1252, the five
// it leaves undefined included, comes back as itself.
TEST(TextCodec, Windows1252WritesBackEveryByteItReads) {
  const JetFormat& jet3 = JetFormat::For(JetVersion::kJet3);
  ColumnDef column;
  column.name = "Note";
  column.code_page = 1252;
  ValueContext where{"f.mdb", "T", "Note"};
  std::vector<uint8_t> all;
  for (int b = 1; b < 256; ++b) all.push_back(uint8_t(b));
  EXPECT_EQ(EncodeText(jet3, column, DecodeCodePageText(all, 1252), 0, where), all);
}

// In another code page only ASCII is written; a character beyond it would
// be stored as another letter, so it refuses the value naming the column.
TEST(TextCodec, OtherCodePagesTakeAsciiAndRefuseTheRest) {
  const JetFormat& jet3 = JetFormat::For(JetVersion::kJet3);
  ColumnDef column;
  column.name = "Name";
  column.code_page = 1251;
  ValueContext where{"f.mdb", "T", "Name"};
  EXPECT_EQ(EncodeText(jet3, column, "Ab 1", 0, where), std::vector<uint8_t>({'A', 'b', ' ', '1'}));
  try {
    EncodeText(jet3, column, "caf\xC3\xA9", 0, where);
    ADD_FAILURE() << "refused nothing";
  } catch (const Error& e) {
    EXPECT_EQ(e.description(),
              "the text for column Name of table T (file f.mdb) has the character U+00E9, "
              "which the column's code page (1251) cannot hold");
  }
  column.code_page = 1252;
  try {
    EncodeText(jet3, column, "\xF0\x9F\x98\x80", 0, where);  // beyond the BMP
    ADD_FAILURE() << "refused nothing";
  } catch (const Error& e) {
    EXPECT_NE(e.description().find("U+1F600"), std::string::npos) << e.description();
  }
}

}  // namespace
}  // namespace corvalin::engine
