// corvalin-db as scripts call it: exit status, standard output, standard error.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/command.h"
#include "tests/support/corpus.h"
#include "tests/support/fixture.h"

namespace {

using Result = corvalin::testing::CommandResult;
using corvalin::engine::Currency;
using corvalin::engine::DataType;
using corvalin::engine::DateTime;

// Table1 (A..I: Text, Text, Byte, Integer, Long, Double, Date/Time,
// Currency, Yes/No) with two rows, and the empty Table2..Table4.
std::string ExportFile(const std::string& password = {}) {
  using corvalin::testing::Column;
  using corvalin::testing::TextColumn;
  corvalin::testing::TableData one{
      {"Table1",
       {TextColumn("A"), TextColumn("B"), Column("C", DataType::kByte),
        Column("D", DataType::kInteger), Column("E", DataType::kLong),
        Column("F", DataType::kDouble), Column("G", DataType::kDateTime),
        Column("H", DataType::kCurrency), Column("I", DataType::kBoolean)},
       {}},
      {{std::string("a"), std::string("b"), uint8_t(0), int16_t(0), int32_t(0), 0.0,
        DateTime{29932}, Currency{0}, false},
       {std::string("abcdefg"), std::string("hijklmnop"), uint8_t(2), int16_t(222),
        int32_t(333333333), 444.555, DateTime{27293}, Currency{35000}, true}}};
  std::vector<corvalin::testing::TableData> tables{one};
  for (const char* name : {"Table2", "Table3", "Table4"})
    tables.push_back({{name, {TextColumn("x")}, {}}, {}});
  return corvalin::testing::MakeDatabase(password.empty() ? "export.mdb" : "secret.mdb", tables,
                                         password);
}

Result Tool(const std::string& arguments) {
  return corvalin::testing::RunCommand(CORVALIN_BIN_DIR "/corvalin-db " + arguments);
}

TEST(ToolTest, UsageErrorsGoToStandardErrorWithStatusTwo) {
  for (const char* arguments : {"", "tables", "export x.mdb", "list x.mdb", "tables x.mdb --pw",
                                "tables x.mdb --password"}) {
    const auto result = Tool(arguments);
    EXPECT_EQ(result.status, 2) << arguments;
    EXPECT_TRUE(result.out.empty()) << arguments;
    EXPECT_NE(result.err.find("usage: corvalin-db"), std::string::npos) << arguments;
  }
}

TEST(ToolTest, EngineErrorsNameTheFileOrTable) {
  const auto missing = Tool("tables /nonexistent/where.mdb");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("where.mdb"), std::string::npos) << missing.err;

  const std::string file = ExportFile();
  const auto no_table = Tool("export '" + file + "' 'Nope'");
  EXPECT_EQ(no_table.status, 1);
  EXPECT_NE(no_table.err.find("Nope"), std::string::npos) << no_table.err;

  const auto wrong_password = Tool("tables '" + ExportFile("secret") + "' --password wrong");
  EXPECT_EQ(wrong_password.status, 1);
  EXPECT_NE(wrong_password.err.find("3031"), std::string::npos) << wrong_password.err;
}

TEST(ToolTest, TablesAndExportForms) {
  const std::string file = ExportFile();
  const auto tables = Tool("tables '" + file + "'");
  ASSERT_EQ(tables.status, 0) << tables.err;
  EXPECT_EQ(tables.out, "Table1\nTable2\nTable3\nTable4\n");
  const auto exported = Tool("export '" + file + "' Table1");
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.out,
            "[\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\"]\n"
            "[\"a\",\"b\",0,0,0,0,\"1981-12-12T00:00:00\",\"0.0000\",false]\n"
            "[\"abcdefg\",\"hijklmnop\",2,222,333333333,444.555,\"1974-09-21T00:00:00\","
            "\"3.5000\",true]\n");
}

}  // namespace
