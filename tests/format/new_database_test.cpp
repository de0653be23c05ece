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

TEST(NewDatabase, SameOptionsAndTablesGiveTheSameBytes) {
  std::string files[3];
  for (int i = 0; i < 3; ++i) {
    NewDatabaseOptions o;
    o.version = JetVersion::kAce12;
    o.creation_date = i == 2 ? kDate + 1 : kDate;
    files[i] = NewPath("same" + std::to_string(i) + ".accdb");
    CreateDatabase(files[i], o);
    auto db = OpenWritable(files[i]);
    CreateTable(*db, EveryKindTable(false));
  }
  EXPECT_EQ(Contents(files[0]), Contents(files[1]));
  EXPECT_NE(Contents(files[0]), Contents(files[2]));
}

TEST(NewDatabase, Jet4PasswordIsAskedFor) {
  std::string path = MakeDatabase(JetVersion::kJet4, "secret.mdb", "Sesame 42");
  try {
    Database::Open(path, {});
    ADD_FAILURE() << "opened without the password";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrNotValidPassword);
  }
  OpenOptions wrong;
  wrong.password = "sesame 42";
  EXPECT_THROW(Database::Open(path, wrong), Error);
  {
    auto db = OpenWritable(path, "Sesame 42");
    CreateTable(*db, EveryKindTable(false));
    TableWriter writer(db, db->ReadTableDef("Every Kind"));
    writer.Insert(EveryKindRow(writer.table(), 1));
  }
  ExpectCheckPasses(path, "Sesame 42");
}

TEST(NewDatabase, RefusesWhatAccessWouldNot) {
  auto refused = [](auto make, int number) {
    try {
      make();
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), number) << e.description();
    }
  };
  std::string path = MakeDatabase(JetVersion::kJet4, "refusals.mdb");
  NewDatabaseOptions again;
  refused([&] { CreateDatabase(path, again); }, kErrDatabaseExists);
  NewDatabaseOptions ace;
  ace.version = JetVersion::kAce16;
  ace.password = "x";
  refused([&] { CreateDatabase(NewPath("ace-password.accdb"), ace); }, kErrNotSupported);
  NewDatabaseOptions jet3;
  jet3.version = JetVersion::kJet3;
  refused([&] { CreateDatabase(NewPath("jet3.mdb"), jet3); }, kErrNotSupported);

  auto db = OpenWritable(path);
  NewTable plain;
  plain.name = "Plain";
  plain.columns = {Column("A", DataType::kLong)};
  CreateTable(*db, plain);
  const std::string before = Contents(path);
  auto bad = [&](auto change, int number = kErrInvalidArgument) {
    NewTable t = plain;
    t.name = "Other";
    change(t);
    refused([&] { CreateTable(*db, t); }, number);
  };
  bad([](NewTable& t) { t.name = "PLAIN"; }, kErrTableExists);
  bad([](NewTable& t) { t.name = "a.b"; });
  bad([](NewTable& t) { t.columns.clear(); });
  bad([](NewTable& t) { t.columns.push_back(Column("a", DataType::kText)); });
  bad([](NewTable& t) { t.columns.push_back(Column("T", DataType::kText, 256)); });
  bad([](NewTable& t) { t.columns.push_back(Column("B", DataType::kBigInt)); },
      kErrNotSupported);
  bad([](NewTable& t) {
    NewColumn d = Column("D", DataType::kDecimal);
    d.precision = 5;
    d.scale = 6;
    t.columns.push_back(d);
  });
  bad([](NewTable& t) {
    NewColumn n = Column("N", DataType::kText);
    n.autonumber = true;
    t.columns.push_back(n);
  });
  bad([](NewTable& t) { t.indexes.push_back(Index("I", {"Missing"})); });
  bad([](NewTable& t) {
    t.columns.push_back(Column("M", DataType::kMemo));
    t.indexes.push_back(Index("I", {"M"}));
  });
  bad([](NewTable& t) { t.indexes = {Index("I", {"A"}), Index("i", {"A"})}; });
  bad([](NewTable& t) {
    NewIndex a = Index("P1", {"A"}), b = Index("P2", {"A"});
    a.primary = b.primary = true;
    t.indexes = {a, b};
  });
  EXPECT_EQ(Contents(path), before) << "a refused definition changed the file";
}

// Each independent reader sees the new table as we do: mdb-reader its rows
// (compared with corvalin-db export), mdbtools its columns, indexes,
// properties and rows.
TEST_P(NewDatabaseTest, OtherReadersSeeTheSameTable) {
  const bool jet4 = GetParam() == JetVersion::kJet4;
  const std::string password = jet4 ? "pw" : "";
  std::string path = MakeDatabase(GetParam(), jet4 ? "readers.mdb" : "readers.accdb", password);
  {
    auto db = OpenWritable(path, password);
    CreateTable(*db, EveryKindTable(GetParam() == JetVersion::kAce16));
    TableWriter writer(db, db->ReadTableDef("Every Kind"));
    for (int n = 1; n <= 4; ++n) writer.Insert(EveryKindRow(writer.table(), n));
  }
  const std::string file = ShellQuote(path);
  const std::string tool = ShellQuote(CORVALIN_BIN_DIR "/corvalin-db");
  const std::string pw = password.empty() ? "" : " --password " + ShellQuote(password);
  auto check = RunCommand(tool + " check " + file + pw);
  EXPECT_EQ(check.status, 0) << check.out << check.err;

  if (RunCommand("mdb-tables --version").status == 0) {
    EXPECT_EQ(RunCommand("mdb-tables -1 " + file).out, "Every Kind\n");
    std::string schema = RunCommand("mdb-schema --indexes -T 'Every Kind' " + file + " postgres").out;
    for (const char* line :
         {"\"every kind_pkey\" PRIMARY KEY (\"id\")",
          "UNIQUE INDEX \"every kind_nameunique_idx\" ON \"every kind\" (\"name\")",
          "(\"when\" DESC, \"total\")", "\"every kind_byamount_idx\"", "NUMERIC (10, 3)",
          "VARCHAR (40) NOT NULL"})
      EXPECT_NE(schema.find(line), std::string::npos) << line << " not in\n" << schema;
    EXPECT_NE(RunCommand("mdb-prop " + file + " 'Every Kind'").out.find("Required: yes"),
              std::string::npos);
    std::vector<std::string> rows = SplitLines(RunCommand("mdb-export -Q -d '|' " + file + " 'Every Kind'").out);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[3].substr(0, 39), "3|0|3|-3|3000|3.7035|0.75|4.5|03/18/23 ");
  }
  const std::string view = CORVALIN_SOURCE_DIR "/tests/readers/mdb_reader_view.mjs";
  if (RunCommand("node --version").status == 0 &&
      std::ifstream(CORVALIN_SOURCE_DIR "/tests/readers/node_modules/mdb-reader/package.json")) {
    std::vector<std::string> theirs = SplitLines(
        RunCommand("node " + ShellQuote(view) + " " + file + (password.empty() ? "" : " " + password)).out);
    std::vector<std::string> ours =
        SplitLines(RunCommand(tool + " export " + file + " 'Every Kind'" + pw).out);
    ASSERT_GE(theirs.size(), 3u);
    EXPECT_EQ(theirs[1], "Every Kind");
    EXPECT_EQ(std::vector<std::string>(theirs.begin() + 3, theirs.end()), ours);
  }
}

}  // namespace
}  // namespace corvalin::engine
