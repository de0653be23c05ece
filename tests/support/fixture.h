// Databases the tests make for themselves with the engine, so that every
// suite runs on a machine without the Access-made corpus.
#pragma once

#include <string>
#include <vector>

#include "db/engine/format/database.h"
#include "db/engine/format/new_database.h"
#include "db/engine/value.h"

namespace corvalin::testing {

struct TableData {
  engine::NewTable definition;
  std::vector<std::vector<engine::Value>> rows;  // in column order
};

// A text column of 50 characters, a Long column, ... for short definitions.
engine::NewColumn TextColumn(const std::string& name, uint16_t size = 50);
engine::NewColumn Column(const std::string& name, engine::DataType type);
engine::NewIndex Index(const std::string& name, std::vector<std::string> columns,
                       bool primary = false, bool unique = false);

// A new database named file_name in a fresh temporary folder, holding the
// tables with their rows; the format follows the name's extension (.mdb:
// Jet4, .accdb: ACE12) unless version is given. Returns the path.
std::string MakeDatabase(const std::string& file_name, const std::vector<TableData>& tables,
                         const std::string& password = {});
std::string MakeDatabase(const std::string& file_name, engine::JetVersion version,
                         const std::vector<TableData>& tables, const std::string& password = {});

// The shapes the suites share:
// "Table" (a, b: Text(50)) with the rows ("z", "y") and ("v", "u").
std::string OneTableFile(const std::string& file_name);
// "Table1", "Table2", "Table3" (col1..col3: Text(50)), all empty.
std::string EmptyTablesFile(const std::string& file_name);
// "Table1" (A..I: Text(50), Text(50), Byte, Integer, Long, Double,
// Date/Time, Currency, Yes/No) with the rows ("a", "b", 0, 0, 0, 0,
// 1981-12-12, 0, No) and ("abcdefg", "hijklmnop", 2, 222, 333333333,
// 444.555, 1974-09-21, 3.5, Yes); "Table2".."Table4" (x: Text(50)), empty.
std::string TypesTableFile(const std::string& file_name);
// "Table1" (id, otherfk1, otherfk2: Long, data: Text(50), otherfk3: Long)
// with a primary key on id, a unique index on data and one over otherfk1
// and otherfk2, four rows; "Table2" and "Table3" (id: Long primary key,
// data: Text(50)) with three and four rows.
std::string KeyedTablesFile(const std::string& file_name);

}  // namespace corvalin::testing
