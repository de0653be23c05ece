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

}  // namespace
