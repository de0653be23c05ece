// Adding rows to Access 97 tables on copies of Access-made files: long
// values in each of their three forms, text keys that split index pages
// and add levels, the table definition's counters, and text the file's code
// page cannot hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "db/engine/error.h"
#include "db/engine/format/check.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/database.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/row.h"
#include "db/engine/format/table_writer.h"
#include "tests/support/corpus.h"

namespace corvalin::engine {
namespace {

using testing::CopyOfCorpusFile;

std::shared_ptr<Database> OpenForWriting(const std::string& path) {
  OpenOptions options;
  options.writable = true;
  return Database::Open(path, options);
}

size_t ColumnNamed(const TableDef& t, const std::string& name) {
  for (size_t i = 0; i < t.columns.size(); ++i)
    if (t.columns[i].name == name) return i;
  ADD_FAILURE() << "no column " << name;
  return 0;
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Depth(Database& db, const IndexDef& index) {
  int depth = 1;
  for (uint32_t p = index.first_page;; ++depth) {
    PagePtr bytes = db.file().Read(p);
    IndexPage page = DecodeIndexPage(*bytes, db.format(), db.path(), p);
    if (page.leaf) return depth;
    p = page.entries.empty() ? page.tail_page : page.entries.front().child_page;
  }
}

// Text of `n` characters from Windows-1252's letters, accents included.
std::string SomeText(std::mt19937& random, size_t n) {
  static const char* const kPieces[] = {"a", "b", "Z", "k", " ", "\xC3\xA9" /* é */,
                                        "\xC3\x9F" /* ß */, "\xE2\x82\xAC" /* € */, "7"};
  std::string s;
  for (size_t i = 0; i < n; ++i) s += kPieces[random() % std::size(kPieces)];
  return s;
}

TEST(Jet3Write, LongValuesInlineOnOnePageAndChained) {
  CORVALIN_REQUIRE_CORPUS();
  const std::string path = CopyOfCorpusFile("V1997/test2V1997.mdb");
  std::mt19937 random(3);
  const std::string small = "Jo\xC3\xA9",  // in the row
      medium = SomeText(random, 1200),  // one LVAL row
      large = SomeText(random, 9000);   // a chain over five pages
  Bytes ole(22970);
  for (size_t i = 0; i < ole.size(); ++i) ole[i] = uint8_t(i * 7);
  std::vector<Value> row;
  RowId id;
  {
    auto db = OpenForWriting(path);
    auto table = db->ReadTableDef("MSP_PROJECTS");
    std::vector<RowId> before = db->ListRows(*table);
    ASSERT_EQ(before.size(), 1u);
    row = db->ReadRow(*table, before[0]);
    row[ColumnNamed(*table, "PROJ_ID")] = int32_t(2);
    row[ColumnNamed(*table, "PROJ_NAME")] = std::string("Project2");
    row[ColumnNamed(*table, "PROJ_PROP_AUTHOR")] = small;
    row[ColumnNamed(*table, "PROJ_PROP_CATEGORY")] = medium;
    row[ColumnNamed(*table, "PROJ_PROP_COMPANY")] = large;
    row[ColumnNamed(*table, "RESERVED_BINARY_DATA")] = ole;
    TableWriter writer(db, table);
    id = writer.Insert(row);
  }
  auto db = Database::Open(path, {});
  auto table = db->ReadTableDef("MSP_PROJECTS");
  EXPECT_EQ(table->row_count, 2u);
  std::vector<RowId> after = db->ListRows(*table);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[1], id);
  EXPECT_EQ(db->ReadRow(*table, id), row);
  // The three forms, as the headers in the row say.
  ResolvedRow stored = ReadRowAt(db->file(), db->format(), id.page, id.row);
  std::vector<RowField> fields = SplitRow(db->format(), *table, stored.bytes, path);
  EXPECT_EQ(fields[ColumnNamed(*table, "PROJ_PROP_AUTHOR")].bytes[3], 0x80);
  EXPECT_EQ(fields[ColumnNamed(*table, "PROJ_PROP_CATEGORY")].bytes[3], 0x40);
  EXPECT_EQ(fields[ColumnNamed(*table, "PROJ_PROP_COMPANY")].bytes[3], 0x00);
  EXPECT_EQ(fields[ColumnNamed(*table, "RESERVED_BINARY_DATA")].bytes[3], 0x00);
  // Memo text is stored in the code page: é is one byte.
  EXPECT_EQ(fields[ColumnNamed(*table, "PROJ_PROP_AUTHOR")].bytes.size(), 12u + 3);
  EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>());
}

TEST(Jet3Write, TextKeysSplitPagesAndAddALevelInKeyOrder) {
  CORVALIN_REQUIRE_CORPUS();
  const std::string path = CopyOfCorpusFile("V1997/testIndexCodesV1997.mdb");
  // Table11: an AutoNumber key, and its text indexed ascending and
  // descending.
  constexpr size_t kRows = 4000;
  std::mt19937 random(11);
  size_t old_rows = 0;
  {
    auto db = OpenForWriting(path);
    auto table = db->ReadTableDef("Table11");
    old_rows = table->row_count;
    ASSERT_EQ(table->next_autonumber, 52u);
    TableWriter writer(db, table);
    for (size_t i = 0; i < kRows; ++i)
      writer.Insert({Null{}, SomeText(random, 5 + random() % 30)});
  }
  auto db = Database::Open(path, {});
  auto table = db->ReadTableDef("Table11");
  EXPECT_EQ(table->row_count, old_rows + kRows);
  EXPECT_EQ(table->next_autonumber, 52u + kRows);
  EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>());

  std::vector<RowId> rows = db->ListRows(*table);
  std::set<int32_t> ids;
  for (RowId r : rows) ids.insert(std::get<int32_t>(db->ReadRow(*table, r)[0]));
  EXPECT_EQ(ids.size(), rows.size());
  EXPECT_EQ(*ids.rbegin(), int32_t(52 + kRows));

  for (const IndexDef& index : table->indexes) {
    SCOPED_TRACE(index.name);
    EXPECT_GE(Depth(*db, index), index.name == "PrimaryKey" ? 2 : 3);
    std::vector<IndexEntry> entries = ReadIndexEntries(db->file(), db->format(), index);
    ASSERT_EQ(entries.size(), rows.size());
    if (index.name == "PrimaryKey") continue;
    // In index order the texts of letters alone run alphabetically, case
    // aside (General sort order), forwards or backwards.
    auto fold = [](std::string s) {
      for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z') ch = char(ch - 'A' + 'a');
      return s;
    };
    std::vector<std::string> in_order;
    for (const IndexEntry& e : entries) {
      const std::string text =
          std::get<std::string>(db->ReadRow(*table, {e.row.page, e.row.row})[1]);
      if (text.find_first_not_of("abkZ") == std::string::npos) in_order.push_back(fold(text));
    }
    ASSERT_GT(in_order.size(), 5u);
    if (index.name == "dataDesc") std::reverse(in_order.begin(), in_order.end());
    EXPECT_TRUE(std::is_sorted(in_order.begin(), in_order.end()));
  }
}

// Equal long texts in a text index: their keys share more bytes than a
// Jet3 index page can record as its prefix.
TEST(Jet3Write, EqualLongTextKeysShareAsMuchPrefixAsThePageCanSay) {
  CORVALIN_REQUIRE_CORPUS();
  // Table14: a text key, and a 255-character text in an index of its own.
  const std::string path = CopyOfCorpusFile("V1997/testIndexCodesV1997.mdb");
  std::string long_text;
  for (int i = 0; i < 200; ++i) long_text += "\xC3\x86";  // Æ, keyed as two letters
  size_t old_rows = 0;
  {
    auto db = OpenForWriting(path);
    auto table = db->ReadTableDef("Table14");
    old_rows = table->row_count;
    TableWriter writer(db, table);
    for (int i = 0; i < 30; ++i) writer.Insert({"long " + std::to_string(i), long_text});
  }
  auto db = Database::Open(path, {});
  auto table = db->ReadTableDef("Table14");
  EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>());
  for (const IndexDef& index : table->indexes) {
    if (index.name != "DataIndex") continue;
    // The thirty equal keys fill leaves of their own.
    size_t full_prefix_leaves = 0, entries = 0;
    uint32_t p = index.first_page;
    IndexPage page = DecodeIndexPage(*db->file().Read(p), db->format(), path, p);
    while (!page.leaf) {
      p = page.entries.front().child_page;
      page = DecodeIndexPage(*db->file().Read(p), db->format(), path, p);
    }
    for (;;) {
      entries += page.entries.size();
      if (page.prefix_length == 255) {
        ++full_prefix_leaves;
        EXPECT_GT(page.entries.front().key.size(), 256u);
        for (const IndexEntry& e : page.entries) EXPECT_EQ(e.key, page.entries.front().key);
      }
      if (page.next_page == 0) break;
      p = page.next_page;
      page = DecodeIndexPage(*db->file().Read(p), db->format(), path, p);
    }
    EXPECT_EQ(entries, old_rows + 30);
    EXPECT_GT(full_prefix_leaves, 0u);
  }
}

TEST(Jet3Write, TextTheCodePageCannotHoldIsRefusedAndChangesNothing) {
  CORVALIN_REQUIRE_CORPUS();
  struct Case {
    const char* file;
    const char* table;
    size_t column;  // gets the text; the indexed one in Table11
  };
  for (const Case& c : {Case{"V1997/delTestV1997.mdb", "Table", 1},
                        Case{"V1997/testIndexCodesV1997.mdb", "Table11", 1}}) {
    SCOPED_TRACE(c.file);
    const std::string path = CopyOfCorpusFile(c.file);
    const std::string before = FileBytes(path);
    {
      auto db = OpenForWriting(path);
      auto table = db->ReadTableDef(c.table);
      TableWriter writer(db, table);
      std::vector<Value> values(table->columns.size(), Null{});
      values[c.column] = std::string("\xCE\xA9mega");  // Greek capital omega
      try {
        writer.Insert(values);
        ADD_FAILURE() << "the record was added";
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), kErrTypeMismatch);
        EXPECT_NE(e.description().find("column " + table->columns[c.column].name),
                  std::string::npos)
            << e.description();
        EXPECT_NE(e.description().find("U+03A9"), std::string::npos) << e.description();
        EXPECT_NE(e.description().find("Windows-1252"), std::string::npos) << e.description();
      }
    }
    EXPECT_TRUE(FileBytes(path) == before) << "a refused record changed the file";
  }
}

TEST(Jet3Write, Windows1252TextRoundTrips) {
  CORVALIN_REQUIRE_CORPUS();
  const std::string path = CopyOfCorpusFile("V1997/delTestV1997.mdb");
  // The euro sign and curly quotes (0x80..0x9F), Latin-1 letters, and a
  // byte the code page leaves undefined (read as U+0081).
  const std::string text = "\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D \xC3\xA5\xC3\xBF \xC2\x81";
  {
    auto db = OpenForWriting(path);
    TableWriter writer(db, db->ReadTableDef("Table"));
    writer.Insert({std::string(text), Null{}});
  }
  auto db = Database::Open(path, {});
  auto table = db->ReadTableDef("Table");
  std::vector<RowId> rows = db->ListRows(*table);
  ResolvedRow stored = ReadRowAt(db->file(), db->format(), rows.back().page, rows.back().row);
  std::vector<RowField> fields = SplitRow(db->format(), *table, stored.bytes, path);
  EXPECT_EQ(std::vector<uint8_t>(fields[0].bytes.begin(), fields[0].bytes.end()),
            std::vector<uint8_t>({0x80, ' ', 0x93, 'q', 0x94, ' ', 0xE5, 0xFF, ' ', 0x81}));
  EXPECT_EQ(db->ReadRow(*table, rows.back())[0], Value(text));
  EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>());
}

}  // namespace
}  // namespace corvalin::engine
