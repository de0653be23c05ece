#include "tests/support/fixture.h"

#include <filesystem>

#include "db/engine/format/table_writer.h"
#include "tests/support/corpus.h"

namespace corvalin::testing {
namespace {

using engine::DataType;
using engine::Value;

// 2021-08-31 12:00, so that every fixture file has the same bytes.
constexpr double kFixtureDate = 44439.5;

}  // namespace

engine::NewIndex Index(const std::string& name, std::vector<std::string> columns,
                       bool primary, bool unique) {
  engine::NewIndex index;
  index.name = name;
  index.columns = std::move(columns);
  index.primary = primary;
  index.unique = unique || primary;
  return index;
}

engine::NewColumn TextColumn(const std::string& name, uint16_t size) {
  engine::NewColumn column;
  column.name = name;
  column.type = DataType::kText;
  column.size = size;
  return column;
}

engine::NewColumn Column(const std::string& name, DataType type) {
  engine::NewColumn column;
  column.name = name;
  column.type = type;
  return column;
}

std::string MakeDatabase(const std::string& file_name, engine::JetVersion version,
                         const std::vector<TableData>& tables, const std::string& password) {
  const std::string path = (std::filesystem::path(TempDir()) / file_name).string();
  engine::NewDatabaseOptions options;
  options.version = version;
  options.password = password;
  options.creation_date = kFixtureDate;
  engine::CreateDatabase(path, options);
  engine::OpenOptions open;
  open.password = password;
  open.writable = true;
  auto database = engine::Database::Open(path, open);
  for (const auto& table : tables) engine::CreateTable(*database, table.definition);
  for (const auto& table : tables) {
    if (table.rows.empty()) continue;
    engine::TableWriter writer(database, database->ReadTableDef(table.definition.name));
    for (const auto& row : table.rows) writer.Insert(row);
  }
  return path;
}

std::string MakeDatabase(const std::string& file_name, const std::vector<TableData>& tables,
                         const std::string& password) {
  const bool ace = file_name.size() > 6 && file_name.substr(file_name.size() - 6) == ".accdb";
  return MakeDatabase(file_name, ace ? engine::JetVersion::kAce12 : engine::JetVersion::kJet4,
                      tables, password);
}

std::string OneTableFile(const std::string& file_name) {
  TableData table{{"Table", {TextColumn("a"), TextColumn("b")}, {}},
                  {{std::string("z"), std::string("y")}, {std::string("v"), std::string("u")}}};
  return MakeDatabase(file_name, {table});
}

std::string EmptyTablesFile(const std::string& file_name) {
  std::vector<TableData> tables;
  for (const char* name : {"Table1", "Table2", "Table3"})
    tables.push_back({{name, {TextColumn("col1"), TextColumn("col2"), TextColumn("col3")}, {}}, {}});
  return MakeDatabase(file_name, tables);
}

std::string TypesTableFile(const std::string& file_name) {
  TableData one{{"Table1",
                 {TextColumn("A"), TextColumn("B"), Column("C", DataType::kByte),
                  Column("D", DataType::kInteger), Column("E", DataType::kLong),
                  Column("F", DataType::kDouble), Column("G", DataType::kDateTime),
                  Column("H", DataType::kCurrency), Column("I", DataType::kBoolean)},
                 {}},
                {{std::string("a"), std::string("b"), uint8_t(0), int16_t(0), int32_t(0), 0.0,
                  engine::DateTime{29932}, engine::Currency{0}, false},
                 {std::string("abcdefg"), std::string("hijklmnop"), uint8_t(2), int16_t(222),
                  int32_t(333333333), 444.555, engine::DateTime{27293}, engine::Currency{35000},
                  true}}};
  std::vector<TableData> tables{one};
  for (const char* name : {"Table2", "Table3", "Table4"})
    tables.push_back({{name, {TextColumn("x")}, {}}, {}});
  return MakeDatabase(file_name, tables);
}

std::string KeyedTablesFile(const std::string& file_name) {
  TableData one{{"Table1",
                 {Column("id", DataType::kLong), Column("otherfk1", DataType::kLong),
                  Column("otherfk2", DataType::kLong), TextColumn("data"),
                  Column("otherfk3", DataType::kLong)},
                 {Index("PrimaryKey", {"id"}, true), Index("data", {"data"}, false, true),
                  Index("otherfk", {"otherfk1", "otherfk2"})}},
                {}};
  const char* data[] = {"baz0", "baz11", "baz11-2", "baz13"};
  const int32_t fk1[] = {0, 1, 1, 2}, fk2[] = {10, 11, 11, 13};
  for (int32_t i = 0; i < 4; ++i)
    one.rows.push_back({i, fk1[i], fk2[i], std::string(data[i]), int32_t{0}});
  std::vector<TableData> tables{one};
  for (auto [name, prefix, first, count] :
       {std::tuple{"Table2", "foo", 0, 3}, std::tuple{"Table3", "bar", 10, 4}}) {
    TableData t{{name, {Column("id", DataType::kLong), TextColumn("data")},
                 {Index("PrimaryKey", {"id"}, true)}},
                {}};
    for (int32_t i = first; i < first + count; ++i)
      t.rows.push_back({i, std::string(prefix) + std::to_string(i)});
    tables.push_back(t);
  }
  return MakeDatabase(file_name, tables);
}

}  // namespace corvalin::testing
