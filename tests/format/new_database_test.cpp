// New databases and tables: what our reader, the structure check and the
// independent readers (mdbtools, mdb-reader) see in them.
#include "db/engine/format/new_database.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "db/engine/error.h"
#include "db/engine/format/check.h"
#include "db/engine/format/table_writer.h"
#include "tests/support/command.h"
#include "tests/support/corpus.h"

namespace corvalin::engine {
namespace {

using testing::RunCommand;
using testing::ShellQuote;
using testing::SplitLines;
using testing::TempDir;

constexpr double kDate = 46000.5;  // 2025-12-09 12:00

std::string NewPath(const std::string& name) { return TempDir() + "/" + name; }

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::shared_ptr<Database> OpenWritable(const std::string& path,
                                       const std::string& password = "") {
  OpenOptions o;
  o.writable = true;
  o.password = password;
  return Database::Open(path, o);
}

std::string MakeDatabase(JetVersion version, const std::string& name,
                         const std::string& password = "") {
  std::string path = NewPath(name);
  NewDatabaseOptions options;
  options.version = version;
  options.password = password;
  options.creation_date = kDate;
  CreateDatabase(path, options);
  return path;
}

NewColumn Column(const std::string& name, DataType type, uint16_t size = 0) {
  NewColumn c;
  c.name = name;
  c.type = type;
  c.size = size;
  return c;
}

NewIndex Index(const std::string& name, std::vector<std::string> columns) {
  NewIndex x;
  x.name = name;
  x.columns = std::move(columns);
  return x;
}

// A table with a column of every type new tables take and an index of
// every kind.
NewTable EveryKindTable(bool big_int) {
  NewTable t;
  t.name = "Every Kind";
  NewColumn id = Column("ID", DataType::kLong);
  id.autonumber = true;
  t.columns.push_back(id);
  t.columns.push_back(Column("Flag", DataType::kBoolean));
  t.columns.push_back(Column("Small", DataType::kByte));
  t.columns.push_back(Column("Count", DataType::kInteger));
  t.columns.push_back(Column("Total", DataType::kLong));
  t.columns.push_back(Column("Price", DataType::kCurrency));
  t.columns.push_back(Column("Ratio", DataType::kSingle));
  t.columns.push_back(Column("Measure", DataType::kDouble));
  t.columns.push_back(Column("When", DataType::kDateTime));
  NewColumn name = Column("Name", DataType::kText, 40);
  name.required = true;
  t.columns.push_back(name);
  t.columns.push_back(Column("Notes", DataType::kMemo));
  t.columns.push_back(Column("Picture", DataType::kOle));
  t.columns.push_back(Column("Raw", DataType::kBinary, 16));
  t.columns.push_back(Column("Guid", DataType::kReplicationId));
  NewColumn dec = Column("Amount", DataType::kDecimal);
  dec.precision = 10;
  dec.scale = 3;
  t.columns.push_back(dec);
  t.columns.push_back(Column("Code", DataType::kText));
  if (big_int) t.columns.push_back(Column("Big", DataType::kBigInt));

  NewIndex pk = Index("PrimaryKey", {"ID"});
  pk.primary = true;
  t.indexes.push_back(pk);
  NewIndex unique = Index("NameUnique", {"Name"});
  unique.unique = true;
  t.indexes.push_back(unique);
  NewIndex multi = Index("WhenTotal", {"When", "Total"});
  multi.descending = {true, false};
  t.indexes.push_back(multi);
  for (const char* c : {"Flag", "Small", "Count", "Price", "Ratio", "Measure", "Raw",
                        "Guid", "Amount"})
    t.indexes.push_back(Index(std::string("By") + c, {c}));
  if (big_int) t.indexes.push_back(Index("ByBig", {"Big"}));
  return t;
}

std::vector<Value> EveryKindRow(const TableDef& t, int n) {
  std::vector<Value> v;
  for (const ColumnDef& c : t.columns) {
    const std::string& name = c.name;
    if (name == "ID") v.push_back(Null{});
    else if (name == "Flag") v.push_back(n % 2 == 0);
    else if (name == "Small") v.push_back(uint8_t(n));
    else if (name == "Count") v.push_back(int16_t(-n));
    else if (name == "Total") v.push_back(int32_t(n * 1000));
    else if (name == "Price") v.push_back(Currency{n * 12345});
    else if (name == "Ratio") v.push_back(float(n) / 4);
    else if (name == "Measure") v.push_back(double(n) * 1.5);
    else if (name == "When") v.push_back(DateTime{45000.25 + n});
    else if (name == "Name") v.push_back("name " + std::to_string(n));
    else if (name == "Notes") v.push_back(std::string(n == 2 ? 5000 : 10, 'x'));
    else if (name == "Picture") v.push_back(Bytes(n == 3 ? 9000 : 3, uint8_t(n)));
    else if (name == "Raw") v.push_back(Bytes{1, 2, uint8_t(n)});
    else if (name == "Guid") {
      Guid g;
      g.bytes[0] = uint8_t(n);
      v.push_back(g);
    } else if (name == "Amount") {
      Decimal d;
      d.precision = 10;
      d.scale = 3;
      d.magnitude[0] = uint32_t(n * 1001);
      v.push_back(d);
    } else if (name == "Code") v.push_back(n == 1 ? Value(Null{}) : Value("c" + std::to_string(n)));
    else if (name == "Big") v.push_back(int64_t(n) << 40);
    else v.push_back(Null{});
  }
  return v;
}

void ExpectCheckPasses(const std::string& path, const std::string& password = "") {
  OpenOptions o;
  o.password = password;
  auto db = Database::Open(path, o);
  std::vector<std::string> problems = CheckDatabase(*db);
  std::string all;
  for (const std::string& p : problems) all += p + "\n";
  EXPECT_TRUE(problems.empty()) << path << ":\n" << all;
}

class NewDatabaseTest : public ::testing::TestWithParam<JetVersion> {};

TEST_P(NewDatabaseTest, HoldsTheSystemTablesAndPassesTheCheck) {
  std::string path = MakeDatabase(GetParam(), "empty.db");
  auto db = Database::Open(path, {});
  EXPECT_EQ(db->version(), GetParam());
  EXPECT_EQ(db->sort_order(), 1033);
  std::vector<std::string> tables;
  for (const CatalogEntry& e : db->Catalog())
    if (e.type == 1) tables.push_back(e.name);
  std::vector<std::string> expected = {"MSysObjects", "MSysACEs", "MSysQueries",
                                       "MSysRelationships"};
  if (GetParam() != JetVersion::kJet4) expected.push_back("MSysComplexColumns");
  EXPECT_EQ(tables, expected);
  EXPECT_EQ(db->ReadTableDef("MSysObjects")->page, 2u);
  for (const std::string& t : tables) EXPECT_NO_THROW(db->ReadTableDef(t)) << t;
  ExpectCheckPasses(path);
}

TEST_P(NewDatabaseTest, TablesOfEveryKindTakeRowsAndPassTheCheck) {
  std::string path = MakeDatabase(GetParam(), "kinds.db");
  bool big = GetParam() == JetVersion::kAce16;
  {
    auto db = OpenWritable(path);
    CreateTable(*db, EveryKindTable(big));
    auto def = db->ReadTableDef("every kind");
    ASSERT_EQ(def->columns.size(), big ? 17u : 16u);
    EXPECT_EQ(def->indexes.size(), big ? 13u : 12u);
    TableWriter writer(db, def);
    for (int n = 1; n <= 4; ++n) writer.Insert(EveryKindRow(writer.table(), n));
    EXPECT_THROW(writer.Insert(EveryKindRow(writer.table(), 2)), Error);  // unique Name
  }
  ExpectCheckPasses(path);
  auto db = Database::Open(path, {});
  auto def = db->ReadTableDef("Every Kind");
  std::vector<RowId> rows = db->ListRows(*def);
  ASSERT_EQ(rows.size(), 4u);
  std::vector<Value> third = db->ReadRow(*def, rows[2]);
  std::vector<Value> expected = EveryKindRow(*def, 3);
  expected[0] = int32_t(3);  // the AutoNumber
  EXPECT_EQ(third, expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, NewDatabaseTest,
                         ::testing::Values(JetVersion::kJet4, JetVersion::kAce12,
                                           JetVersion::kAce16),
                         [](const auto& info) { return std::string(JetVersionName(info.param)); });

TEST(NewDatabaseScratch, Keep) {
  for (JetVersion v : {JetVersion::kJet4, JetVersion::kAce12, JetVersion::kAce16}) {
    std::string path = std::string("/tmp/cr/out/new_") + JetVersionName(v) + (v == JetVersion::kJet4 ? ".mdb" : ".accdb");
    NewDatabaseOptions o; o.version = v; o.creation_date = 46000.5;
    CreateDatabase(path, o);
    OpenOptions w; w.writable = true;
    auto db = Database::Open(path, w);
    CreateTable(*db, EveryKindTable(v == JetVersion::kAce16));
    TableWriter writer(db, db->ReadTableDef("Every Kind"));
    for (int n = 1; n <= 4; ++n) writer.Insert(EveryKindRow(writer.table(), n));
  }
}

}  // namespace
}  // namespace corvalin::engine
