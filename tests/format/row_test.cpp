#include "db/engine/format/row.h"

#include <gtest/gtest.h>

#include "db/engine/format/data_page.h"
#include "db/engine/format/long_value.h"
#include "db/engine/format/table_def_reader.h"
#include "tests/format/format_test_pages.h"

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

}  // namespace
}  // namespace corvalin::engine
