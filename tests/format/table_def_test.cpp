#include <gtest/gtest.h>

#include "db/engine/format/table_def_reader.h"
#include "tests/format/format_test_pages.h"
#include "tests/support/corpus.h"

namespace corvalin::engine {
namespace {

// A column inserted between two others in design view comes back at its
// place in the field order, though its number is the highest.
TEST(TableDef, InsertedColumnKeepsItsPlace) {
  CORVALIN_REQUIRE_CORPUS();
  auto pages = testing::MemoryPages::FromFile(testing::CorpusDir() +
                                              "/V2016/withinsertedcol.accdb");
  TableDef t = ReadTableDefinition(*pages, testing::TestJet4(), 94, "Table1");
  ASSERT_EQ(t.columns.size(), 3u);
  EXPECT_EQ(t.columns[0].name, "col1");
  EXPECT_EQ(t.columns[1].name, "col3");
  EXPECT_EQ(t.columns[1].column_id, 2);
  EXPECT_EQ(t.columns[2].name, "col2");
  EXPECT_EQ(t.columns[1].type, DataType::kBoolean);
}

TEST(TableDef, DamagedChainIsAnError) {
  testing::MemoryPages pages(std::vector<uint8_t>(4096 * 3), 4096);
  pages.Page(1)[0] = 0x02;
  pages.Page(1)[4] = 1;  // continues to itself
  EXPECT_THROW(ReadTableDefinition(pages, testing::TestJet4(), 1, "T"), Error);
  pages.Page(1)[4] = 0;  // a one-page definition cut short
  pages.Page(1)[45] = 200;  // 200 columns that do not fit
  EXPECT_THROW(ReadTableDefinition(pages, testing::TestJet4(), 1, "T"), Error);
}

}  // namespace
}  // namespace corvalin::engine
