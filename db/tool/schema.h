// The schema file of `corvalin-db create`: a JSON object {"tables": [...]},
// each table {"name", "columns": [...], "indexes": [...], "rows": [...]}.
//
//   column  {"name", "type"} and, where they apply, "size" (text, binary),
//           "precision" and "scale" (decimal), "required": true
//   types   boolean byte integer long autonumber currency single double
//           datetime text memo ole binary guid decimal, and bigint (ACE16)
//   index   {"name", "columns": [...]} and "primary": true, "unique": true,
//           "descending": [true|false per column]
//   rows    JSON arrays in column order, in the value forms of
//           `corvalin-db export`, so that an export's rows feed back in
#pragma once

#include <string>
#include <vector>

#include "db/tool/json_reader.h"
#include "db/engine/format/new_database.h"

namespace corvalin::tool {

struct SchemaTable {
  engine::NewTable table;
  std::vector<JsonValue> rows;  // each an array, one value per column
};

// Reads and checks a schema for a database of the given version. Throws
// engine::Error naming the schema file, the table and the member at fault.
std::vector<SchemaTable> ReadSchema(const std::string& path, engine::JetVersion version);

}  // namespace corvalin::tool
