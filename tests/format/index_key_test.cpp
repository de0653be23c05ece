// Index keys: hand-checked keys of every type, and every row of every index
// of every plain corpus file re-keyed and compared with the entry Access
// wrote for it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "db/engine/error.h"
#include "db/engine/format/index_key.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/text_index_codes.h"
#include "tests/support/corpus.h"

namespace corvalin::engine {
namespace {

namespace fs = std::filesystem;
using B = std::vector<uint8_t>;

// A character of the BMP (surrogates aside) as UTF-8.
void AppendUtf8(char32_t c, std::string& s) {
  if (c < 0x80) {
    s += char(c);
  } else if (c < 0x800) {
    s += char(0xC0 | (c >> 6));
    s += char(0x80 | (c & 0x3F));
  } else {
    s += char(0xE0 | (c >> 12));
    s += char(0x80 | ((c >> 6) & 0x3F));
    s += char(0x80 | (c & 0x3F));
  }
}

std::string Hex(const B& b) {
  std::string s;
  char buf[4];
  for (uint8_t x : b) {
    std::snprintf(buf, sizeof buf, "%02X ", x);
    s += buf;
  }
  return s;
}

// One-column table and index over a column of the given type.
struct OneColumn {
  TableDef table;
  IndexDef index;
  OneColumn(DataType type, bool ascending = true) {
    table.name = "T";
    ColumnDef c;
    c.name = "C";
    c.type = type;
    c.column_id = 3;
    c.scale = 2;
    c.precision = 18;
    c.sort_order = 1033;
    table.columns.push_back(c);
    index.name = "I";
    index.columns.push_back({3, ascending});
  }
  B Key(const Value& v, JetVersion version = JetVersion::kAce14) {
    return EncodeIndexKey(JetFormat::For(version), table, index, {v});
  }
};

TEST(IndexKey, NumbersSortAsUnsignedBytes) {
  OneColumn l(DataType::kLong);
  EXPECT_EQ(l.Key(int32_t(1)), (B{0x7F, 0x80, 0, 0, 1}));
  EXPECT_EQ(l.Key(int32_t(-1)), (B{0x7F, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(l.Key(Null{}), (B{0x00}));
  OneColumn ld(DataType::kLong, false);
  EXPECT_EQ(ld.Key(int32_t(1)), (B{0x80, 0x7F, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(ld.Key(Null{}), (B{0xFF}));

  OneColumn d(DataType::kDouble);
  EXPECT_EQ(d.Key(1.0), (B{0x7F, 0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(d.Key(-1.0), (B{0x7F, 0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  OneColumn dd(DataType::kDouble, false);
  EXPECT_EQ(dd.Key(-1.0), (B{0x80, 0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));

  OneColumn y(DataType::kBoolean);
  EXPECT_EQ(y.Key(true), (B{0x7F, 0x00}));
  EXPECT_EQ(y.Key(false), (B{0x7F, 0xFF}));
  EXPECT_EQ(y.Key(Null{}), (B{0x7F, 0xFF}));
  OneColumn yd(DataType::kBoolean, false);
  EXPECT_EQ(yd.Key(true), (B{0x80, 0xFF}));

  // Keys of increasing numbers increase.
  B prev;
  for (double x : {-1e300, -2.5, -0.0, 0.0, 1e-300, 3.0, 1e300}) {
    B k = d.Key(x);
    if (!prev.empty()) {
      EXPECT_LE(prev, k) << x;
    }
    prev = k;
  }
}

TEST(IndexKey, DecimalSignByteDiffersBetweenJet4AndAce) {
  OneColumn n(DataType::kDecimal, false);
  Decimal minus_one;
  minus_one.negative = true;
  minus_one.scale = 2;
  minus_one.magnitude[0] = 100;
  B ace = n.Key(minus_one, JetVersion::kAce12);
  B jet4 = n.Key(minus_one, JetVersion::kJet4);
  ASSERT_EQ(ace.size(), 18u);
  EXPECT_EQ(ace[1], 0xFF);
  EXPECT_EQ(jet4[1], 0x00);
  EXPECT_EQ(ace[17], 100);
  // A value at another scale is keyed at the column's.
  Decimal one_at_zero;
  one_at_zero.magnitude[0] = 1;
  one_at_zero.scale = 0;
  EXPECT_EQ(OneColumn(DataType::kDecimal).Key(one_at_zero)[17], 100);
  Decimal three_places;
  three_places.scale = 3;
  three_places.magnitude[0] = 1001;
  EXPECT_THROW(OneColumn(DataType::kDecimal).Key(three_places), Error);
}

TEST(IndexKey, BinaryKeysComeInNineByteSegments) {
  OneColumn b(DataType::kBinary);
  B nine{1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(b.Key(nine), (B{0x7F, 1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 0, 0, 0, 0, 0, 0, 0, 1}));
  OneColumn bd(DataType::kBinary, false);
  B key = bd.Key(nine);
  EXPECT_EQ(key[9], 9);  // the marker of a full segment stays as it is
  EXPECT_EQ(key[18], 0xFE);
}

TEST(IndexKey, WrongValuesAreRefusedNamingTheColumn) {
  OneColumn l(DataType::kInteger);
  try {
    l.Key(int32_t(70000));
    ADD_FAILURE() << "keyed an Integer out of range";
  } catch (const Error& e) {
    EXPECT_NE(e.description().find("column C of table T"), std::string::npos)
        << e.description();
  }
  EXPECT_THROW(l.Key(std::string("x")), Error);
  OneColumn t(DataType::kText);
  t.table.columns[0].sort_order = 2052;  // a sort order without known codes
  EXPECT_THROW(t.Key(std::string("x")), Error);
  OneColumn j3(DataType::kText);
  try {
    j3.Key(std::string("\xE4\xB8\x80"), JetVersion::kJet3);  // U+4E00
    ADD_FAILURE() << "keyed a character Access 97 cannot store";
  } catch (const Error& e) {
    EXPECT_NE(e.description().find("U+4E00"), std::string::npos) << e.description();
  }
}

TEST(IndexKey, TextKeysFollowTheSortOrder) {
  auto key = [](TextSortOrder order, const std::string& s, bool asc = true) {
    B out;
    EXPECT_FALSE(AppendTextKey(order, s, asc, out).has_value());
    return out;
  };
  EXPECT_EQ(key(TextSortOrder::kGeneralLegacy, "Aa"), (B{0x4A, 0x4A, 0x01, 0x00}));
  EXPECT_EQ(key(TextSortOrder::kGeneral, "Aa"), (B{0x0E, 0x02, 0x0E, 0x02, 0x01, 0x00}));
  // Trailing spaces do not count.
  EXPECT_EQ(key(TextSortOrder::kGeneral, "Aa  "), key(TextSortOrder::kGeneral, "Aa"));
  // Descending: flipped, with a flipped 00 before the closing 00.
  EXPECT_EQ(key(TextSortOrder::kGeneralLegacy, "A", false), (B{0xB5, 0xFE, 0xFF, 0x00}));
  // An accent goes to the accent section after the inline codes.
  B accented = key(TextSortOrder::kGeneralLegacy, "\xC3\xA1");  // á
  EXPECT_EQ(accented[0], 0x4A);
  EXPECT_EQ(accented[1], 0x01);
  EXPECT_GT(accented.size(), 3u);
}

TEST(IndexKey, TextKeySectionsForAccentsUnprintablesAndKana) {
  auto key = [](const std::string& s) {
    B out;
    EXPECT_FALSE(AppendTextKey(TextSortOrder::kGeneralLegacy, s, true, out).has_value());
    return out;
  };
  EXPECT_EQ(key("\xC3\xA1"), (B{0x4A, 0x01, 0x0E, 0x00}));         // á
  EXPECT_EQ(key("a\xC3\xA1"), (B{0x4A, 0x4A, 0x01, 0x02, 0x0E, 0x00}));  // aá
  // U+0001 has no inline code: it is recorded after the text with its place.
  EXPECT_EQ(key("\x01" "A"),
            (B{0x4A, 0x01, 0x01, 0x01, 0x01, 0x80, 0x07, 0x06, 0x03, 0x00}));
  // Small Hiragana a (U+3041) carries a Kana flag; a (U+3042) the default
  // one, which is left out.
  EXPECT_EQ(key("\xE3\x81\x81"),
            (B{0x7F, 0x02, 0x01, 0x01, 0x01, 0xA0, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}));
  EXPECT_EQ(key("\xE3\x81\x82"),
            (B{0x7F, 0x02, 0x01, 0x01, 0x01, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}));
}

TEST(IndexKey, EveryBmpCharacterHasACodeInLegacyAndGeneral) {
  for (TextSortOrder order : {TextSortOrder::kGeneralLegacy, TextSortOrder::kGeneral}) {
    size_t unknown = 0;
    for (char32_t c = 1; c <= 0xFFFF; ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      std::string s = "A";
      AppendUtf8(c, s);
      B out;
      // An expansion with an accent of its own is refused for its accent's
      // place, not for want of a code.
      if (auto fault = AppendTextKey(order, s, true, out); fault && fault->after == 0) ++unknown;
    }
    EXPECT_EQ(unknown, 0u) << TextSortOrderName(order);
  }
  // A character beyond the BMP is keyed through its surrogate pair.
  B out;
  EXPECT_FALSE(AppendTextKey(TextSortOrder::kGeneral, "\xF0\x9F\x98\x80", true, out));
  EXPECT_GT(out.size(), 5u);
}

B FromHex(const std::string& hex) {
  B out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// Entries an Access 97 file (General sort order) holds, without their row
// pointers. U+00DF counts as two significant characters before a later
// accent; U+0000 is keyed as the control characters after it.
TEST(IndexKey, TextKeysAsAccess97WroteThem) {
  OneColumn t(DataType::kText);
  auto key = [&](const std::string& s) { return Hex(t.Key(s, JetVersion::kJet3)); };
  EXPECT_EQ(key("Plutzer Lebensmittelgro\xC3\x9Fm\xC3\xA4rkte AG"),
            Hex(FromHex("7f736d78777e6675116d66616670766f6a7777666d68757276766f60756c7766116068"
                        "02222222222260")));
  EXPECT_EQ(key("Heli S\xC3\xBC\xC3\x9Fwaren GmbH & Co. KG"),
            Hex(FromHex("7f69666d6a11767876767b6075667011686f616911171162721f116c68022260")));
  EXPECT_EQ(key("PB Kn\xC3\xA4" "ckebr\xC3\xB6" "d AB"),
            Hex(FromHex("7f7361116c7060626c666175726411606102622600")));
  // Three columns: the text "Lock" and U+0000, a Long 0, a descending Long 1.
  TableDef table;
  table.name = "MSysAccessObjects";
  IndexDef index;
  index.name = "I";
  for (int i = 0; i < 3; ++i) {
    ColumnDef c;
    c.name = "C" + std::to_string(i);
    c.type = i == 0 ? DataType::kText : DataType::kLong;
    c.column_id = uint16_t(i);
    table.columns.push_back(c);
    index.columns.push_back({uint16_t(i), i != 2});
  }
  EXPECT_EQ(Hex(EncodeIndexKey(JetFormat::For(JetVersion::kJet3), table, index,
                               {std::string("Lock\0", 5), int32_t{0}, int32_t{1}})),
            Hex(FromHex("7f6d72626c1000" "7f80000000" "807ffffffe")));
}

// Where Access's rule is not known, the key is refused, never guessed: an
// accent after a character that expands into letters (but U+00DF in Access
// 97), and U+0000 from Jet4 on.
TEST(IndexKey, TextKeysWhoseRuleIsUnknownAreRefused) {
  auto fault = [](TextSortOrder order, const std::string& s) {
    B out;
    return AppendTextKey(order, s, true, out);
  };
  for (TextSortOrder order : {TextSortOrder::kGeneralLegacy, TextSortOrder::kGeneral}) {
    SCOPED_TRACE(TextSortOrderName(order));
    auto f = fault(order, "\xC3\x9F" "a\xC3\xA4");  // ß a ä
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->character, 0xE4u);
    EXPECT_EQ(f->after, 0xDFu);
    f = fault(order, std::string("ab\0", 3));
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->character, 0u);
    // An expansion after the last accent takes no place: keyed.
    EXPECT_FALSE(fault(order, "\xC3\xA4\xC3\x9F").has_value());
  }
  auto f = fault(TextSortOrder::kGeneral97, "\xC3\xA6\xC3\xA4");  // æ ä
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(f->after, 0xE6u);
  B ss, sharp;
  EXPECT_FALSE(AppendTextKey(TextSortOrder::kGeneral97, "ss\xC3\xA4", true, ss));
  EXPECT_FALSE(AppendTextKey(TextSortOrder::kGeneral97, "\xC3\x9F\xC3\xA4", true, sharp));
  EXPECT_EQ(Hex(sharp), Hex(ss));
  OneColumn t(DataType::kText);
  try {
    t.Key(std::string("\xC3\x9F\xC3\xA4"), JetVersion::kAce12);
    ADD_FAILURE() << "keyed an accent after U+00DF";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrNotSupported);
    EXPECT_NE(e.description().find("accent of the character U+00E4 after the character U+00DF"),
              std::string::npos)
        << e.description();
  }
}

// The order the tables imply for two texts of plain characters: their
// inline codes, then their accents place by place (a place without an accent
// weighs 02 and trailing ones do not count).
int ImpliedOrder(TextSortOrder order, const std::vector<const TextCharWeights*>& a,
                 const std::vector<const TextCharWeights*>& b) {
  auto primary = [](const std::vector<const TextCharWeights*>& t) {
    B out;
    for (const TextCharWeights* w : t) out.insert(out.end(), w->inline_code.begin(), w->inline_code.end());
    return out;
  };
  auto secondary = [&](const std::vector<const TextCharWeights*>& t) {
    B out;
    for (const TextCharWeights* w : t) {
      if (!w->takes_place) continue;
      if (w->accent.empty()) out.push_back(0x02);
      else out.insert(out.end(), w->accent.begin(), w->accent.end());
    }
    const uint8_t trimmed = order == TextSortOrder::kGeneral97 ? 0x02 : 0x00;
    while (!out.empty() && out.back() <= 0x02 && out.back() >= trimmed) out.pop_back();
    return out;
  };
  auto compare = [](const B& x, const B& y) { return x == y ? 0 : x < y ? -1 : 1; };
  const int first = compare(primary(a), primary(b));
  return first != 0 ? first : compare(secondary(a), secondary(b));
}

// Texts of 1 to 255 plain characters of every kind the tables know, in pairs
// that mostly share their letters and differ in accents anywhere: the keys
// order as the tables imply, so a rule that goes wrong past some length or
// place shows.
TEST(IndexKey, TextKeysOrderAsTheirCharactersAtEveryLength) {
  std::mt19937 random(15);
  for (TextSortOrder order :
       {TextSortOrder::kGeneral97, TextSortOrder::kGeneralLegacy, TextSortOrder::kGeneral}) {
    SCOPED_TRACE(TextSortOrderName(order));
    // The characters by inline code: a text's twin takes another member of
    // each character's group.
    std::map<B, std::vector<std::pair<char16_t, TextCharWeights>>> groups;
    for (char32_t c = 1; c <= 0xFFFF; ++c) {
      if (c == u' ') continue;  // trailing spaces are not keyed
      if (auto w = PlainCharWeights(order, char16_t(c))) groups[w->inline_code].push_back({char16_t(c), *w});
    }
    std::vector<const std::vector<std::pair<char16_t, TextCharWeights>>*> shared;
    for (const auto& [code, members] : groups)
      if (members.size() > 1) shared.push_back(&members);
    ASSERT_GT(shared.size(), order == TextSortOrder::kGeneral97 ? 10u : 100u);
    auto utf8 = [](char16_t c, std::string& s) { AppendUtf8(c, s); };
    size_t ties = 0;
    for (int round = 0; round < 4000; ++round) {
      const size_t length = 1 + random() % 255;
      std::vector<const std::pair<char16_t, TextCharWeights>*> chars[2];
      for (size_t i = 0; i < length; ++i) {
        const auto& group = *shared[random() % shared.size()];
        for (auto& c : chars) c.push_back(&group[random() % group.size()]);
      }
      // Now and then the twin's letters differ too, from some place on.
      if (round % 8 == 0) {
        const auto& group = *shared[random() % shared.size()];
        chars[1].resize(random() % length);
        chars[1].push_back(&group[0]);
      }
      std::string text[2];
      std::vector<const TextCharWeights*> weights[2];
      for (int k = 0; k < 2; ++k) {
        for (const auto* c : chars[k]) {
          utf8(c->first, text[k]);
          weights[k].push_back(&c->second);
        }
      }
      const int expected = ImpliedOrder(order, weights[0], weights[1]);
      ties += expected == 0 ? 1 : 0;
      B key[2], descending[2];
      for (int k = 0; k < 2; ++k) {
        ASSERT_FALSE(AppendTextKey(order, text[k], true, key[k]));
        ASSERT_FALSE(AppendTextKey(order, text[k], false, descending[k]));
      }
      const int got = key[0] == key[1] ? 0 : key[0] < key[1] ? -1 : 1;
      ASSERT_EQ(got, expected) << "length " << length << "\n" << Hex(key[0]) << "\n" << Hex(key[1]);
      EXPECT_EQ(descending[0] == descending[1] ? 0 : descending[0] < descending[1] ? 1 : -1,
                expected);
    }
    EXPECT_LT(ties, 3000u);
  }
}

// Every row of every index of every plain corpus file: the stored entry for
// the row equals our key of the row.
TEST(IndexKey, EveryCorpusEntryEqualsTheKeyOfItsRow) {
  CORVALIN_REQUIRE_CORPUS();
  size_t files = 0, indexes = 0, entries = 0, equal = 0, unknown_type = 0;
  std::map<std::string, size_t> unkeyable;
  std::map<std::string, size_t> covered;  // "version type [sort order]" -> values
  for (const auto& de : fs::recursive_directory_iterator(testing::CorpusDir())) {
    std::string path = de.path().string();
    if (!de.is_regular_file() || path.find("/encrypted/") != std::string::npos) continue;
    if (de.path().extension() != ".mdb" && de.path().extension() != ".accdb") continue;
    std::shared_ptr<Database> db;
    try {
      db = Database::Open(path, {});
    } catch (const Error&) {
      continue;
    }
    ++files;
    const JetFormat& format = db->format();
    for (const CatalogEntry& c : db->Catalog()) {
      if ((c.type & 0x7FFF) != 1) continue;
      auto table = db->ReadTableDef(c.name);
      std::map<std::pair<uint32_t, uint16_t>, std::vector<Value>> rows;
      for (RowId r : db->ListRows(*table)) rows[{r.page, r.row}] = db->ReadRow(*table, r);
      std::set<int32_t> seen_real;
      for (const IndexDef& index : table->indexes) {
        if (!seen_real.insert(index.real_index_number).second) continue;
        ++indexes;
        size_t reported = 0;
        for (const IndexEntry& e : ReadIndexEntries(db->file(), format, index)) {
          ++entries;
          auto row = rows.find({e.row.page, e.row.row});
          if (row == rows.end()) continue;  // the index walk test reports it
          B ours;
          try {
            ours = EncodeIndexKey(format, *table, index, row->second);
          } catch (const Error& err) {
            // A column type the file format does not document cannot be
            // keyed; the write side refuses such rows.
            if (err.number() == kErrNotSupported &&
                err.description().find("of type unknown") != std::string::npos) {
              ++unknown_type;
              continue;
            }
            ++unkeyable[fs::path(path).filename().string() + ": " + err.description()];
            continue;
          }
          if (ours == e.key) {
            ++equal;
            for (const IndexColumn& ic : index.columns) {
              const ColumnDef& col = IndexedColumn(*table, index, ic, nullptr);
              std::string what = std::string(JetVersionName(db->version())) + " " +
                                 DataTypeName(col.type);
              if (auto order = TextSortOrderOf(format, col))
                if (col.type == DataType::kText || col.type == DataType::kMemo)
                  what += std::string(" ") + TextSortOrderName(*order);
              if (!ic.ascending) what += " descending";
              ++covered[what];
            }
          } else if (reported++ < 3) {
            ADD_FAILURE() << path << " " << c.name << "." << index.name << " row "
                          << e.row.page << ":" << e.row.row << "\n stored " << Hex(e.key)
                          << "\n   ours " << Hex(ours);
          }
        }
      }
    }
  }
  for (const auto& [why, n] : unkeyable)
    ADD_FAILURE() << n << " entries not keyed: " << why;
  std::printf("index keys: %zu of %zu entries equal in %zu indexes of %zu files "
              "(%zu over a column of undocumented type)\n",
              equal, entries, indexes, files, unknown_type);
  for (const auto& [what, n] : covered) std::printf("  %s: %zu\n", what.c_str(), n);
  EXPECT_GT(equal, 0u);
}

}  // namespace
}  // namespace corvalin::engine
