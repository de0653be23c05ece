#include "db/engine/format/row.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "db/engine/format/data_page.h"
#include "db/engine/format/database.h"
#include "db/engine/format/long_value.h"
#include "db/engine/format/table_def_reader.h"
#include "tests/format/format_test_pages.h"
#include "tests/support/corpus.h"

namespace corvalin::engine {
namespace {

using testing::MemoryPages;

ColumnDef Col(const char* name, DataType type, uint16_t id, bool fixed,
              uint16_t offset_or_var, uint16_t length) {
  ColumnDef c;
  c.name = name; c.type = type; c.column_id = id; c.fixed = fixed;
  if (fixed) c.fixed_offset = offset_or_var; else c.var_index = offset_or_var;
  c.length = length;
  return c;
}

// Jet4 row: 4 columns (Long, Boolean, Text, Memo inline); Text "hi".
TEST(Row, Jet4FixedVariableBooleanAndLongValue) {
  TableDef t;
  t.name = "T";
  t.columns = {Col("Id", DataType::kLong, 0, true, 0, 4),
               Col("Flag", DataType::kBoolean, 1, true, 0, 0),
               Col("Name", DataType::kText, 2, false, 0, 100),
               Col("Note", DataType::kMemo, 3, false, 1, 0),
               Col("Added", DataType::kLong, 9, true, 4, 4)};
  std::vector<uint8_t> row{4, 0, 7, 0, 0, 0};                 // count, Id=7
  row.insert(row.end(), {'h', 0, 'i', 0});                    // Name at 6
  std::vector<uint8_t> lv{3, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 'x', 0, 'y', 0};
  lv[0] = 4;
  row.insert(row.end(), lv.begin(), lv.end());                // Note at 10
  // offsets (backward): eod 26, Note 10, Name 6; var count 2; null mask
  row.insert(row.end(), {26, 0, 10, 0, 6, 0, 2, 0, 0x0D});
  MemoryPages pages({}, 4096);
  JetFormat f = testing::TestJet4();
  auto v = DecodeRow(pages, f, t, row);
  EXPECT_EQ(std::get<int32_t>(v[0]), 7);
  EXPECT_EQ(std::get<bool>(v[1]), false);  // mask bit 1 clear
  EXPECT_EQ(std::get<std::string>(v[2]), "hi");
  EXPECT_EQ(std::get<std::string>(v[3]), "xy");
  EXPECT_TRUE(IsNull(v[4]));  // column added after the row was written

  row[row.size() - 5] = 200;  // Name's offset past the row: an error
  EXPECT_THROW(DecodeRow(pages, f, t, row), Error);
}

// Jet3 row over 256 bytes: the jump table moves the second offset by 256.
TEST(Row, Jet3JumpTable) {
  TableDef t;
  t.name = "T";
  t.columns = {Col("A", DataType::kText, 0, false, 0, 255),
               Col("B", DataType::kText, 1, false, 1, 255)};
  std::vector<uint8_t> row(1 + 250 + 20, 'a');
  row[0] = 2;
  for (size_t i = 251; i < row.size(); ++i) row[i] = 'b';
  // offsets A=1, B=251, eod=271 (=256+15); jump table: column 2 is the
  // first past 256; var count 2; null mask 0x03
  row.insert(row.end(), {15, 251, 1, 2, 2, 0x03});
  MemoryPages pages({}, 2048);
  auto v = DecodeRow(pages, testing::TestJet3(), t, row);
  EXPECT_EQ(std::get<std::string>(v[0]), std::string(250, 'a'));
  EXPECT_EQ(std::get<std::string>(v[1]), std::string(20, 'b'));
}

// Long values on LVAL rows: a chain over two pages, and a loop.
TEST(LongValue, ChainAndLoop) {
  JetFormat f = testing::TestJet4();
  MemoryPages pages(std::vector<uint8_t>(4096 * 3), 4096);
  auto put_row = [&](uint32_t p, std::vector<uint8_t> bytes) {
    uint8_t* pg = pages.Page(p);
    pg[0] = 1;
    pg[12] = 1;
    uint16_t start = static_cast<uint16_t>(4096 - bytes.size());
    pg[14] = start & 0xFF;
    pg[15] = start >> 8;
    std::copy(bytes.begin(), bytes.end(), pg + start);
  };
  put_row(1, {0, 2, 0, 0, 'a', 'b', 'c'});  // next: page 2 row 0
  put_row(2, {0, 0, 0, 0, 'd', 'e'});
  ValueContext where{"f.mdb", "T", "Note"};
  std::vector<uint8_t> header{5, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
  Bytes v = ReadLongValue(pages, f, header, where);
  EXPECT_EQ(std::string(v.begin(), v.end()), "abcde");
  header[0] = 9;  // longer than the chain: an error, not a short value
  EXPECT_THROW(ReadLongValue(pages, f, header, where), Error);
  put_row(2, {0, 1, 0, 0, 'd', 'e'});  // page 2 points back to page 1
  try {
    ReadLongValue(pages, f, header, where);
    FAIL();
  } catch (const Error& e) {
    EXPECT_NE(e.description().find("Note"), std::string::npos);
    EXPECT_NE(e.description().find("loop"), std::string::npos);
  }
}

// New Jet3 rows read back through the decoder, for every row size from a
// few bytes to a full row: the jump table grows one entry at every 256
// bytes, including entries past the end of data (offsets and null mask
// alone pushing the row over a boundary) and rows of many short columns.
TEST(Row, Jet3RowsOfEverySizeReadBack) {
  const JetFormat f = testing::TestJet3();
  std::mt19937 random(7);
  size_t past_end_of_data = 0;
  for (size_t vars : {1u, 3u, 40u, 200u}) {
    TableDef t;
    t.name = "T";
    t.columns.push_back(Col("Id", DataType::kLong, 0, true, 0, 4));
    for (size_t v = 0; v < vars; ++v)
      t.columns.push_back(Col("V", DataType::kBinary, uint16_t(v + 1), false, uint16_t(v), 255));
    for (size_t total = 0; total + 4 + 2 * vars < f.max_row_size; total += 1 + random() % 23) {
      std::vector<NewField> fields(t.columns.size());
      fields[0] = {true, {1, 2, 3, 4}};
      size_t left = total;
      for (size_t v = 0; v < vars; ++v) {
        size_t n = v + 1 == vars ? std::min<size_t>(left, 255) : std::min<size_t>(left, random() % 9);
        left -= n;
        fields[v + 1].present = n > 0 || v % 3 == 0;  // some empty, some Null
        for (size_t k = 0; k < n; ++k) fields[v + 1].bytes.push_back(uint8_t(v + k));
      }
      std::vector<uint8_t> row = EncodeRow(f, t, fields);
      SCOPED_TRACE("vars " + std::to_string(vars) + ", row of " + std::to_string(row.size()));
      ASSERT_EQ(row[0], vars + 1);
      const size_t mask = (vars + 1 + 7) / 8, jumps = (row.size() - 1) / 256;
      past_end_of_data += jumps > 0 && row[row.size() - mask - 1 - jumps] == 0xFF;
      std::vector<RowField> back = SplitRow(f, t, row, "memory.mdb");
      for (size_t i = 0; i < fields.size(); ++i) {
        ASSERT_EQ(back[i].present, fields[i].present) << "column " << i;
        if (!fields[i].present) continue;
        ASSERT_EQ(std::vector<uint8_t>(back[i].bytes.begin(), back[i].bytes.end()),
                  fields[i].bytes)
            << "column " << i;
      }
    }
  }
  EXPECT_GT(past_end_of_data, 0u);
}

// Every row of every Access 97 file in the corpus, split and laid out again,
// gives Access's own bytes (fixed columns that are Null aside: Access leaves
// old bytes there, we write zeros).
TEST(Row, Jet3RowsAreLaidOutAsAccessLaysThemOut) {
  CORVALIN_REQUIRE_CORPUS();
  namespace fs = std::filesystem;
  size_t rows = 0, long_rows = 0;
  for (const auto& de : fs::directory_iterator(fs::path(testing::CorpusDir()) / "V1997")) {
    const std::string path = de.path().string();
    auto db = Database::Open(path, {});
    const JetFormat& f = db->format();
    ASSERT_EQ(f.row_var_offset_size, 1) << path;
    for (const CatalogEntry& c : db->Catalog()) {
      if ((c.type & 0x7FFF) != 1) continue;
      auto t = db->ReadTableDef(c.name);
      for (RowId id : db->ListRows(*t)) {
        ResolvedRow r = ReadRowAt(db->file(), f, id.page, id.row);
        std::vector<RowField> split = SplitRow(f, *t, r.bytes, path);
        std::vector<NewField> fields(split.size());
        std::vector<uint8_t> expected(r.bytes.begin(), r.bytes.end());
        bool older_than_a_column = false;
        for (size_t i = 0; i < split.size(); ++i) {
          const ColumnDef& col = t->columns[i];
          fields[i].present = split[i].present;
          fields[i].bytes.assign(split[i].bytes.begin(), split[i].bytes.end());
          if (col.type == DataType::kBoolean) continue;
          older_than_a_column |= split[i].present && !split[i].stored;
          if (col.fixed && !split[i].present)
            for (size_t k = 0; k < col.length && 1 + col.fixed_offset + k < expected.size(); ++k)
              expected[1 + col.fixed_offset + k] = 0;
        }
        if (older_than_a_column) continue;
        ++rows;
        long_rows += expected.size() > 256;
        EXPECT_EQ(EncodeRow(f, *t, fields), expected)
            << path << " " << c.name << " row " << id.row << " of page " << id.page;
      }
    }
  }
  EXPECT_GT(rows, 3000u);
  EXPECT_GT(long_rows, 0u);  // one row needs the jump table
}

}  // namespace
}  // namespace corvalin::engine
