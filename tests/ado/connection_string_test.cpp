#include "db/engine/ado/connection_string.h"

#include <gtest/gtest.h>

#include "db/engine/error.h"

namespace corvalin::ado {
namespace {

TEST(ConnectionStringTest, ReadsTheTwoFormsTheProgramBuilds) {
  auto jet = ParseConnectionString(
      "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\data\\a.mdb;JET OLEDB:Database Password=");
  EXPECT_EQ(ProviderOf(jet), Provider::kJet4);
  EXPECT_EQ(jet.Get("Data Source"), "C:\\data\\a.mdb");
  EXPECT_EQ(jet.Get("Jet OLEDB:Database Password"), "");

  auto ace = ParseConnectionString(
      "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/tmp/b.ACCDB;JET OLEDB:Database Password=x");
  EXPECT_EQ(ProviderOf(ace), Provider::kAce12);
  EXPECT_EQ(ace.Get("data source"), "/tmp/b.ACCDB");
  EXPECT_EQ(ace.Get("jet oledb:database password"), "x");
}

TEST(ConnectionStringTest, KeywordsIgnoreCaseAndSurroundingBlanks) {
  auto parsed = ParseConnectionString("  pRoViDeR = microsoft.ace.oledb.12.0 ;  DATA SOURCE =x.accdb");
  EXPECT_EQ(ProviderOf(parsed), Provider::kAce12);
  EXPECT_EQ(parsed.Get("Data Source"), "x.accdb");
}

TEST(ConnectionStringTest, PasswordsKeepInnerBlanksAndQuotedSemicolons) {
  EXPECT_EQ(ParseConnectionString("Jet OLEDB:Database Password=pa ss").Get(
                "Jet OLEDB:Database Password"),
            "pa ss");
  // OLE DB drops blanks around an unquoted value; quotes keep them.
  EXPECT_EQ(ParseConnectionString("Jet OLEDB:Database Password= pw ;x=1").Get(
                "Jet OLEDB:Database Password"),
            "pw");
  EXPECT_EQ(ParseConnectionString("Jet OLEDB:Database Password=' a;b '").Get(
                "Jet OLEDB:Database Password"),
            " a;b ");
  EXPECT_EQ(ParseConnectionString("p=\"say \"\"hi\"\"\";q=2").Get("p"), "say \"hi\"");
  // An unquoted ';' ends the value: the rest is another (broken) pair.
  EXPECT_THROW(ParseConnectionString("Jet OLEDB:Database Password=a;b"), engine::Error);
  EXPECT_THROW(ParseConnectionString("p='unterminated"), engine::Error);
}

TEST(ConnectionStringTest, UnknownOrMissingProviderIs3706) {
  for (const char* text : {"Provider=SQLOLEDB;Data Source=x", "Data Source=x.mdb", ""}) {
    try {
      ProviderOf(ParseConnectionString(text));
      FAIL() << text;
    } catch (const engine::Error& error) {
      EXPECT_EQ(error.number(), 3706);
      EXPECT_EQ(error.description(),
                "Provider cannot be found. It may not be properly installed.");
    }
  }
}

}  // namespace
}  // namespace corvalin::ado
