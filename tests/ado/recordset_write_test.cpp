// Adding records through the ADO-shaped layer: AddNew, assignment by
// position with the variant conversions, Update, and what a refused record
// or assignment leaves behind.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "db/engine/ado/connection.h"
#include "db/engine/ado/field_conversion.h"
#include "db/engine/ado/recordset.h"
#include "db/engine/error.h"
#include "db/engine/format/check.h"
#include "db/engine/format/database.h"
#include "tests/support/fixture.h"

namespace corvalin::ado {
namespace {

using engine::ColumnDef;
using engine::DataType;
using engine::Value;

ColumnDef Column(DataType type, uint16_t length = 0) {
  ColumnDef c;
  c.name = "c";
  c.type = type;
  c.length = length;
  return c;
}

int Error(const std::function<void()>& f) {
  try {
    f();
  } catch (const engine::Error& e) {
    return e.number();
  }
  return 0;
}

TEST(FieldConversion, FollowsVariantRules) {
  // Text holding a number into number columns; banker's rounding.
  EXPECT_EQ(ConvertForColumn(std::string(" 42 "), Column(DataType::kLong), "t"), Value(int32_t(42)));
  EXPECT_EQ(ConvertForColumn(2.5, Column(DataType::kInteger), "t"), Value(int16_t(2)));
  EXPECT_EQ(ConvertForColumn(3.5, Column(DataType::kInteger), "t"), Value(int16_t(4)));
  EXPECT_EQ(ConvertForColumn(std::string("1.25"), Column(DataType::kCurrency), "t"),
            Value(engine::Currency{12500}));
  EXPECT_EQ(ConvertForColumn(true, Column(DataType::kInteger), "t"), Value(int16_t(-1)));
  EXPECT_EQ(ConvertForColumn(int32_t(0), Column(DataType::kBoolean), "t"), Value(false));
  EXPECT_EQ(ConvertForColumn(std::string("True"), Column(DataType::kBoolean), "t"), Value(true));
  // Numbers, booleans and dates into text.
  EXPECT_EQ(ConvertForColumn(1.5, Column(DataType::kText), "t"), Value(std::string("1.5")));
  EXPECT_EQ(ConvertForColumn(false, Column(DataType::kText), "t"), Value(std::string("False")));
  EXPECT_EQ(ConvertForColumn(engine::DateTime{27293.5}, Column(DataType::kText), "t"),
            Value(std::string("1974-09-21 12:00:00")));
  EXPECT_EQ(ConvertForColumn(std::string("1974-09-21T12:00:00"), Column(DataType::kDateTime), "t"),
            Value(engine::DateTime{27293.5}));
  // Null passes unchanged; what cannot convert or does not fit is an error.
  EXPECT_EQ(ConvertForColumn(engine::Null{}, Column(DataType::kLong), "t"), Value(engine::Null{}));
  EXPECT_EQ(Error([] { ConvertForColumn(std::string("abc"), Column(DataType::kLong), "t"); }),
            engine::kErrTypeMismatch);
  EXPECT_EQ(Error([] { ConvertForColumn(int32_t(256), Column(DataType::kByte), "t"); }),
            engine::kErrTooLong);
  EXPECT_EQ(Error([] { ConvertForColumn(engine::Bytes{1}, Column(DataType::kText), "t"); }),
            engine::kErrTypeMismatch);
  ColumnDef dec = Column(DataType::kDecimal);
  dec.precision = 5;
  dec.scale = 2;
  auto d = std::get<engine::Decimal>(ConvertForColumn(std::string("-123.456"), dec, "t"));
  EXPECT_TRUE(d.negative);
  EXPECT_EQ(d.magnitude[0], 12346u);
  EXPECT_EQ(Error([&] { ConvertForColumn(1000.0, dec, "t"); }), engine::kErrTooLong);
}

// Into a value kept from row to row: the value of the column's own type
// replaces whatever was there, and a refused value leaves it as it was.
TEST(FieldConversion, IntoAKeptValue) {
  Value out = std::string("a longer text from the row before");
  ConvertForColumn(std::string("short"), Column(DataType::kText), "t", out);
  EXPECT_EQ(out, Value(std::string("short")));
  ConvertForColumn(int32_t(7), Column(DataType::kText), "t", out);
  EXPECT_EQ(out, Value(std::string("7")));
  out = 1.5;
  EXPECT_EQ(Error([&] { ConvertForColumn(engine::Bytes{1}, Column(DataType::kText), "t", out); }),
            engine::kErrTypeMismatch);
  EXPECT_EQ(out, Value(1.5));
  ConvertForColumn(engine::Null{}, Column(DataType::kText), "t", out);
  EXPECT_EQ(out, Value(engine::Null{}));
  // Every own type comes through as itself, but an infinite Single, which
  // the column refuses.
  const std::pair<Value, DataType> own[] = {
      {true, DataType::kBoolean}, {uint8_t(200), DataType::kByte},
      {int16_t(-3), DataType::kInteger}, {int32_t(-70000), DataType::kLong},
      {int64_t(1) << 40, DataType::kBigInt}, {engine::Currency{-12345}, DataType::kCurrency},
      {2.5f, DataType::kSingle}, {1e300, DataType::kDouble},
      {engine::DateTime{45000.25}, DataType::kDateTime}, {engine::Bytes{1, 2}, DataType::kBinary},
      {std::string("memo"), DataType::kMemo}};
  for (const auto& [value, type] : own) {
    ConvertForColumn(value, Column(type), "t", out);
    EXPECT_EQ(out, value);
    EXPECT_EQ(out, ConvertForColumn(value, Column(type), "t"));
  }
  EXPECT_EQ(Error([&] {
              ConvertForColumn(std::numeric_limits<float>::infinity(), Column(DataType::kSingle),
                               "t", out);
            }),
            engine::kErrTooLong);
}


std::string AceString(const std::string& path) {
  return "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path + ";JET OLEDB:Database Password=";
}

// The table read back in a connection of its own, after a check of the file.
struct ReadBack {
  ReadBack(const std::string& path, const std::string& table) {
    EXPECT_EQ(engine::CheckDatabase(*engine::Database::Open(path, {})), std::vector<std::string>{});
    c.Open(AceString(path));
    rs.Open("SELECT * FROM `" + table + "`", c, kOpenKeyset, kLockReadOnly);
  }
  Connection c;
  Recordset rs;
};

TEST(RecordsetWrite, LongValuesInlineOnOnePageAndInChainsReadBack) {
  const int memo = 1;
  const std::string table = "Notes";
  testing::TableData notes{{table, {testing::Column("id", DataType::kLong),
                                    testing::Column("memo", DataType::kMemo)}, {}},
                           {{int32_t(1), std::string("already here")}}};
  const std::string path = testing::MakeDatabase("notes.accdb", {notes});
  const std::string texts[] = {"short", std::string(3000, 'x'), std::string(20000, 'y') + "\u00e9\u4e2d",
                               std::string(9000, 'z')};
  long before = 0;
  {
    Connection c;
    c.SetMode(kModeReadWrite);
    c.Open(AceString(path));
    Recordset rs;
    rs.Open("SELECT * FROM `" + table + "`", c, kOpenKeyset, kLockOptimistic);
    before = rs.RecordCount();
    for (const std::string& t : texts) {
      rs.AddNew();
      rs.GetFields().Item(memo).SetValue(t);
      rs.Update();
    }
  }
  ReadBack back(path, table);
  Recordset& rs = back.rs;
  ASSERT_EQ(rs.RecordCount(), before + 4);
  for (long i = 0; i < before; ++i) rs.MoveNext();
  for (const std::string& t : texts) {
    EXPECT_EQ(rs.GetFields().Item(memo).Value(), Value(t));
    rs.MoveNext();
  }
}

TEST(RecordsetWrite, ExistingRecordsAreNeverChangedAndRefusalsLeaveNoRecord) {
  std::string path = testing::KeyedTablesFile("keyed.accdb");
  Connection c;
  c.SetMode(kModeReadWrite);
  c.Open(AceString(path));
  Recordset rs;
  rs.Open("SELECT * FROM `Table1`", c, kOpenKeyset, kLockOptimistic);
  long count = rs.RecordCount();
  // Without AddNew an assignment is refused: it would change a stored record.
  EXPECT_NE(Error([&] { rs.GetFields().Item(0).SetValue(int32_t(1000)); }), 0);
  // A duplicate primary key is refused; the next record starts afresh.
  Variant first = rs.GetFields().Item(0).Value();
  rs.AddNew();
  for (int i = 0; i < rs.GetFields().Count(); ++i) {
    Recordset src;
    rs.GetFields().Item(i).SetValue(i == 0 ? first : Variant{});
  }
  EXPECT_EQ(Error([&] { rs.Update(); }), engine::kErrDuplicateKey);
  EXPECT_EQ(Error([&] { rs.Update(); }), engine::kErrNoCurrentRecord);
  rs.AddNew();
  rs.GetFields().Item(0).SetValue(int32_t(424242));
  rs.Update();
  Recordset again;
  again.Open("SELECT * FROM `Table1`", c, kOpenKeyset, kLockReadOnly);
  EXPECT_EQ(again.RecordCount(), count + 1);
}

// The record set keeps its new record's values from one AddNew to the next:
// a column the next record does not set, or whose assignment is refused, is
// saved as Null all the same, never as the value of the record before.
TEST(RecordsetWrite, ValuesOfOneNewRecordNeverReachTheNext) {
  const std::string table = "Notes";
  testing::TableData notes{{table, {testing::Column("id", DataType::kLong),
                                    testing::TextColumn("name"),
                                    testing::Column("memo", DataType::kMemo)}, {}},
                           {}};
  const std::string path = testing::MakeDatabase("kept.accdb", {notes});
  const std::vector<std::vector<Variant>> rows = {
      {int32_t(1), std::string("a name of some length"), std::string(500, 'm')},
      {int32_t(2), engine::Null{}, engine::Null{}},
      {int32_t(3), std::string("short"), std::string("tiny")}};
  {
    Connection c;
    c.SetMode(kModeReadWrite);
    c.Open(AceString(path));
    Recordset rs;
    rs.Open("SELECT * FROM `" + table + "`", c, kOpenKeyset, kLockOptimistic);
    rs.AddNew();
    for (int i = 0; i < 3; ++i) rs.GetFields().Item(i).SetValue(rows[0][i]);
    rs.Update();
    rs.AddNew();  // the name refused, the memo not set
    rs.GetFields().Item(0).SetValue(rows[1][0]);
    EXPECT_EQ(Error([&] { rs.GetFields().Item(1).SetValue(engine::Bytes{1}); }),
              engine::kErrTypeMismatch);
    rs.Update();
    rs.AddNew();
    for (int i = 0; i < 3; ++i) rs.GetFields().Item(i).SetValue(rows[2][i]);
    rs.Update();
  }
  ReadBack back(path, table);
  Recordset& rs = back.rs;
  ASSERT_EQ(rs.RecordCount(), 3);
  for (const auto& row : rows) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rs.GetFields().Item(i).Value(), row[i]);
    rs.MoveNext();
  }
}

// Record sets opened on one table with nothing written in between share
// one listing of its rows; a record added through any connection to the
// file makes the next one list the table afresh, and those open before
// keep the rows they had.
TEST(RecordsetWrite, RecordSetsShareTheirRowsOnlyUntilTheFileIsWritten) {
  const std::string table = "People";
  testing::TableData people{
      {table, {testing::Column("id", DataType::kLong), testing::TextColumn("name")},
       {testing::Index("PrimaryKey", {"id"}, true, true)}},
      {{int32_t(1), std::string("Ann")}, {int32_t(2), std::string("Bo")}}};
  const std::string path = testing::MakeDatabase("shared.accdb", {people});
  const std::string statement = "SELECT * FROM `" + table + "`";
  Connection c, d;
  c.SetMode(kModeReadWrite);
  d.SetMode(kModeReadWrite);
  c.Open(AceString(path));
  d.Open(AceString(path));
  auto count = c.Execute(statement);
  Recordset rows;
  rows.Open(statement, c, kOpenKeyset, kLockOptimistic);
  EXPECT_EQ(count->RecordCount(), 2);
  EXPECT_EQ(rows.RecordCount(), 2);

  // Through the other connection to the file: both of this one's see it.
  Recordset other;
  other.Open(statement, d, kOpenKeyset, kLockOptimistic);
  other.AddNew();
  other.GetFields().Item(0).SetValue(int32_t(3));
  other.Update();
  auto after = c.Execute(statement);
  EXPECT_EQ(after->RecordCount(), 3);
  EXPECT_EQ(count->RecordCount(), 2);
  EXPECT_EQ(rows.RecordCount(), 2);

  rows.AddNew();
  rows.GetFields().Item(0).SetValue(int32_t(1));
  EXPECT_EQ(Error([&] { rows.Update(); }), engine::kErrDuplicateKey);
  rows.AddNew();
  rows.GetFields().Item(0).SetValue(int32_t(4));
  rows.Update();
  Recordset last;
  last.Open(statement, c, kOpenKeyset, kLockReadOnly);
  ASSERT_EQ(last.RecordCount(), 4);
  for (int32_t id = 1; id <= 4; ++id, last.MoveNext())
    EXPECT_EQ(last.GetFields().Item(0).Value(), Variant(id));
  EXPECT_EQ(after->RecordCount(), 3);
}

TEST(RecordsetWrite, ReadOnlyConnectionsAndRecordSetsRefuseAddNew) {
  std::string path = testing::KeyedTablesFile("keyed.accdb");
  Connection c;
  c.Open(AceString(path));
  Recordset rs;
  rs.Open("SELECT * FROM `Table1`", c, kOpenKeyset, kLockReadOnly);
  EXPECT_EQ(Error([&] { rs.AddNew(); }), engine::kErrReadOnly);
}


// Keys in random order split pages in their middle and grow the tree from
// inside; the check walks every index and re-keys every row.
TEST(RecordsetWrite, RandomKeysKeepEveryIndexInOrder) {
  // Two indexed text columns and an indexed Long, as a table of contacts.
  testing::TableData t{{"Table1",
                        {testing::TextColumn("A"), testing::TextColumn("B"),
                         testing::Column("C", DataType::kLong), testing::TextColumn("D"),
                         testing::Column("E", DataType::kLong)},
                        {testing::Index("A", {"A"}), testing::Index("AB", {"A", "B"}),
                         testing::Index("E", {"E"})}},
                       {}};
  std::string path = testing::MakeDatabase("random.accdb", {t});
  Connection c;
  c.SetMode(kModeReadWrite);
  c.Open(AceString(path));
  Recordset rs;
  rs.Open("SELECT * FROM `Table1`", c, kOpenKeyset, kLockOptimistic);
  uint64_t state = 12345;
  for (int i = 0; i < 6000; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    rs.AddNew();
    rs.GetFields().Item(0).SetValue("k" + std::to_string(state >> 20) + "-" + std::to_string(i));
    rs.GetFields().Item(1).SetValue(std::string(1 + (state >> 40) % 40, char('a' + i % 26)));
    rs.GetFields().Item(4).SetValue(int32_t(state >> 33));
    rs.Update();
  }
  rs.Close();
  c.Close();
  EXPECT_EQ(engine::CheckDatabase(*engine::Database::Open(path, {})), std::vector<std::string>{});
}

}  // namespace
}  // namespace corvalin::ado
