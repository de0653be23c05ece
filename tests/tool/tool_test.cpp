// corvalin-db as scripts call it: exit status, standard output, standard error.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/command.h"
#include "tests/support/fixture.h"

namespace {

using Result = corvalin::testing::CommandResult;

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

  const std::string file = corvalin::testing::TypesTableFile("types.mdb");
  const auto no_table = Tool("export '" + file + "' 'Nope'");
  EXPECT_EQ(no_table.status, 1);
  EXPECT_NE(no_table.err.find("Nope"), std::string::npos) << no_table.err;

  const auto wrong_password = Tool("tables '" + corvalin::testing::MakeDatabase("secret.mdb", {}, "secret") + "' --password wrong");
  EXPECT_EQ(wrong_password.status, 1);
  EXPECT_NE(wrong_password.err.find("3031"), std::string::npos) << wrong_password.err;
}

TEST(ToolTest, TablesAndExportForms) {
  const std::string file = corvalin::testing::TypesTableFile("types.mdb");
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

// Every value form, the escapes and both kinds of memo (kept in the row and
// on LVAL pages), in the lines the export printed before it was made fast;
// over many rows, so that the printing's buffer is flushed several times.
TEST(ToolTest, ExportLinesStayAsTheyWere) {
  using corvalin::engine::DataType;
  using corvalin::engine::Value;
  using corvalin::testing::Column;
  const std::string long_memo(300, 'm');
  corvalin::testing::TableData table{
      {"Forms",
       {corvalin::testing::TextColumn("t"), Column("m", DataType::kMemo),
        Column("d", DataType::kDateTime), Column("c", DataType::kCurrency),
        Column("f", DataType::kDouble), Column("s", DataType::kSingle),
        Column("b", DataType::kBoolean), Column("n", DataType::kLong)},
       {}},
      {{std::string("q\"b\\s\n\x01\x1f é€"), std::string("short"),
        corvalin::engine::DateTime{36526.5 + 0.123 / 86400}, corvalin::engine::Currency{-5},
        0.1 + 0.2, 1.1f, true, int32_t{-2147483647}},
       {std::string(), long_memo, corvalin::engine::DateTime{-657434.25},
        corvalin::engine::Currency{INT64_MAX}, -4e300, -0.0f, false, int32_t{0}},
       {Value{}, Value{}, Value{}, Value{}, Value{}, Value{}, false, Value{}}}};
  for (int i = 0; i < 3000; ++i)
    table.rows.push_back({std::string("row ") + std::to_string(i), std::string(i % 2 ? "" : "memo"),
                          corvalin::engine::DateTime{40000.0 + i * 1.37},
                          corvalin::engine::Currency{int64_t{i} * 12345}, i / 8.0, float(i) / 3,
                          i % 3 == 0, int32_t{i}});
  const auto exported = Tool("export '" +
                             corvalin::testing::MakeDatabase("forms.accdb", {table}) + "' Forms");
  ASSERT_EQ(exported.status, 0) << exported.err;
  std::istringstream lines(exported.out);
  std::string line;
  std::vector<std::string> got;
  while (std::getline(lines, line)) got.push_back(line);
  ASSERT_EQ(got.size(), 3004u);
  EXPECT_EQ(got[0], "[\"t\",\"m\",\"d\",\"c\",\"f\",\"s\",\"b\",\"n\"]");
  EXPECT_EQ(got[1], "[\"q\\\"b\\\\s\\n\\u0001\\u001f é€\",\"short\",\"2000-01-01T12:00:00.123\","
            "\"-0.0005\",0.30000000000000004,1.1,true,-2147483647]");
  EXPECT_EQ(got[2], "[\"\",\"" + long_memo +
                        "\",\"0100-01-01T06:00:00\",\"922337203685477.5807\",-4e+300,-0,false,0]");
  EXPECT_EQ(got[3], "[null,null,null,null,null,null,false,null]");
  EXPECT_EQ(got[4], "[\"row 0\",\"memo\",\"2009-07-06T00:00:00\",\"0.0000\",0,0,true,0]");
  EXPECT_EQ(got[3003], "[\"row 2999\",\"\",\"2020-10-04T15:07:12\",\"3702.2655\",374.875,999.6667,"
                          "false,2999]");
  EXPECT_EQ(exported.out.size(), 228531u);
}

}  // namespace
