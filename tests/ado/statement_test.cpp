#include "db/engine/ado/statement.h"

#include <gtest/gtest.h>

#include "db/engine/error.h"

namespace corvalin::ado {
namespace {

TEST(StatementTest, ReadsTheThreeNameForms) {
  EXPECT_EQ(ParseTableStatement("SELECT * FROM `Order Details`"), "Order Details");
  EXPECT_EQ(ParseTableStatement("select * from [Order Details];"), "Order Details");
  EXPECT_EQ(ParseTableStatement("  Select\t*\nFrom   Orders ; "), "Orders");
  EXPECT_EQ(ParseTableStatement("SELECT*FROM`a [b]`"), "a [b]");
  // The name is taken as the list shows it: not trimmed.
  EXPECT_EQ(ParseTableStatement("SELECT * FROM ` padded `"), " padded ");
}

TEST(StatementTest, AnythingElseIsASyntaxErrorQuotingTheStatement) {
  for (const char* text :
       {"", "SELECT a FROM t", "SELECT * FROM", "SELECT * FROM `t", "SELECT * FROM [t",
        "SELECT * FROM t WHERE x=1", "DELETE * FROM t", "SELECTED * FROM t",
        "SELECT * FROMt", "SELECT * FROM ``"}) {
    try {
      ParseTableStatement(text);
      FAIL() << "accepted: " << text;
    } catch (const engine::Error& error) {
      EXPECT_EQ(error.number(), engine::kErrSyntax);
      EXPECT_NE(error.description().find("\"" + std::string(text) + "\""), std::string::npos)
          << error.description();
    }
  }
}

}  // namespace
}  // namespace corvalin::ado
