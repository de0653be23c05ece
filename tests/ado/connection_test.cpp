// The ADO-shaped layer: connections, the tables rowset, keyset recordsets.
#include "db/engine/ado/connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <vector>

#include "db/engine/error.h"
#include "tests/support/corpus.h"
#include "tests/support/fixture.h"

namespace corvalin::ado {
namespace {

std::string JetString(const std::string& path, const std::string& password = "") {
  return "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" + path +
         ";JET OLEDB:Database Password=" + password;
}
std::string AceString(const std::string& path, const std::string& password = "") {
  return "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path +
         ";JET OLEDB:Database Password=" + password;
}
std::string Corpus(const std::string& relative) {
  return corvalin::testing::CorpusDir() + "/" + relative;
}
std::string Text(const Variant& v) {
  auto s = std::get_if<std::string>(&v);
  return s ? *s : "<not text>";
}

// TABLE_NAME by TABLE_TYPE, in rowset order.
std::map<std::string, std::vector<std::string>> Schema(const std::string& connection_string) {
  Connection connection;
  connection.Open(connection_string);
  auto rowset = connection.OpenSchema(kSchemaTables);
  std::map<std::string, std::vector<std::string>> types;
  std::string last_type;
  while (!rowset->Eof()) {
    auto& fields = rowset->GetFields();
    const std::string type = Text(fields.Item("TABLE_TYPE").Value());
    EXPECT_GE(type, last_type) << "rows are not ordered by type";
    last_type = type;
    EXPECT_TRUE(IsNull(fields.Item("TABLE_CATALOG").Value()));
    types[type].push_back(Text(fields.Item("table_name").Value()));
    rowset->MoveNext();
  }
  rowset->Close();
  connection.Close();
  return types;
}

int ErrorNumberOf(const std::function<void()>& action, std::string* description = nullptr) {
  try {
    action();
  } catch (const engine::Error& error) {
    if (description) *description = error.description();
    return error.number();
  }
  return 0;
}

TEST(ConnectionTest, TablesRowsetTypesOnLinksAndQueries) {
  CORVALIN_REQUIRE_CORPUS();
  auto linker = Schema(AceString(Corpus("V2007/linkerTestV2007.accdb")));
  EXPECT_EQ(linker["TABLE"], std::vector<std::string>{"Table1"});
  EXPECT_EQ(linker["LINK"], std::vector<std::string>{"Table2"});
  EXPECT_FALSE(linker["SYSTEM TABLE"].empty());

  auto queries = Schema(AceString(Corpus("V2007/queryTestV2007.accdb")));
  // MSysCompactError is an ordinary table (flags 0) that a failed compact left.
  EXPECT_EQ(queries["TABLE"],
            (std::vector<std::string>{"MSysCompactError", "Table1", "Table2", "Table3"}));
  EXPECT_EQ(queries["VIEW"],
            (std::vector<std::string>{"CrosstabQuery", "SelectQuery", "UnionQuery"}));

  auto jet3 = Schema(JetString(Corpus("V1997/queryTestV1997.mdb")));
  EXPECT_FALSE(jet3["TABLE"].empty());
  EXPECT_FALSE(jet3["VIEW"].empty());

  auto linkee = Schema(AceString(Corpus("misc/linkeeTest.accdb")));
  EXPECT_FALSE(linkee["TABLE"].empty());
  EXPECT_TRUE(linkee["LINK"].empty());
}

TEST(ConnectionTest, JetProviderRefusesAceFilesAndAceOpensAll) {
  const std::string ace = testing::OneTableFile("one.accdb");
  const std::string jet4 = testing::OneTableFile("one.mdb");
  std::string description;
  EXPECT_EQ(ErrorNumberOf([&] {
              Connection c;
              c.Open(JetString(ace));
            }, &description),
            engine::kErrUnrecognisedFormat);
  EXPECT_NE(description.find("one.accdb"), std::string::npos) << description;
  std::vector<std::string> files{jet4, ace};
  if (!testing::CorpusDir().empty()) files.push_back(Corpus("V1997/testV1997.mdb"));
  for (const std::string& file : files) {
    Connection c;
    EXPECT_NO_THROW(c.Open(AceString(file))) << file;
  }
  EXPECT_EQ(ErrorNumberOf([&] {
              Connection c;
              c.Open("Provider=Microsoft.Jet.OLEDB.3.51;Data Source=" + jet4);
            }),
            engine::kErrProviderNotFound);
  EXPECT_EQ(ErrorNumberOf([&] {
              Connection c;
              c.Open(JetString(testing::TempDir() + "/no/such/file.mdb"));
            }, &description),
            engine::kErrFileNotFound);
  EXPECT_NE(description.find("file.mdb"), std::string::npos) << description;
}

TEST(RecordsetTest, KeysetFixesItsRowsAndFieldsAreFoundByNameOrPosition) {
  Connection connection;
  connection.Open(AceString(testing::TypesTableFile("types.accdb")));
  Recordset recordset;
  recordset.Open("SELECT * FROM `Table1`", connection, kOpenKeyset, kLockOptimistic);
  const long count = recordset.RecordCount();
  EXPECT_EQ(count, 2);
  auto& fields = recordset.GetFields();
  ASSERT_EQ(fields.Count(), 9);
  EXPECT_EQ(fields.Item(0).Name(), "A");
  EXPECT_EQ(&fields.Item("a"), &fields.Item(0));
  EXPECT_EQ(Text(fields.Item("A").Value()), "a");
  long walked = 0;
  while (!recordset.Eof()) {
    ++walked;
    recordset.MoveNext();
  }
  EXPECT_EQ(walked, count);
  EXPECT_EQ(recordset.RecordCount(), count);
  EXPECT_EQ(ErrorNumberOf([&] { fields.Item(0).Value(); }), engine::kErrNoCurrentRecord);
  EXPECT_EQ(ErrorNumberOf([&] { fields.Item("nope"); }), engine::kErrItemNotFound);
  EXPECT_EQ(ErrorNumberOf([&] { fields.Item(9); }), engine::kErrItemNotFound);
  recordset.Close();

  std::string description;
  EXPECT_EQ(ErrorNumberOf([&] { connection.Execute("SELECT * FROM [No Such Table]"); },
                          &description),
            engine::kErrTableNotFound);
  EXPECT_NE(description.find("No Such Table"), std::string::npos) << description;
  EXPECT_EQ(ErrorNumberOf([&] { connection.Execute("SELECT A FROM Table1"); }),
            engine::kErrSyntax);
  auto executed = connection.Execute("select * from Table1;");
  EXPECT_EQ(executed->RecordCount(), count);
}

}  // namespace
}  // namespace corvalin::ado
