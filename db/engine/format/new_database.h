// Making Access files from nothing: an empty database with the system tables
// a new file holds, and user tables in it with their columns and indexes.
#pragma once

#include <string>
#include <vector>

#include "db/engine/format/database.h"
#include "db/engine/format/table_def.h"

namespace corvalin::engine {

struct NewColumn {
  std::string name;
  DataType type = DataType::kText;
  bool autonumber = false;    // Long AutoNumber (type kLong)
  uint16_t size = 0;          // Text: characters, Binary: bytes (1..255); 0: 255
  uint8_t precision = 18;     // Decimal
  uint8_t scale = 0;          // Decimal
  bool required = false;
};

struct NewIndex {
  std::string name;
  std::vector<std::string> columns;  // column names, in key order
  std::vector<bool> descending;      // one per column; empty: all ascending
  bool primary = false;              // a primary key is also unique
  bool unique = false;
};

struct NewTable {
  std::string name;
  std::vector<NewColumn> columns;
  std::vector<NewIndex> indexes;
};

struct NewDatabaseOptions {
  JetVersion version = JetVersion::kJet4;  // kJet4, kAce12 or kAce16
  std::string password;                    // Jet4 only; empty: none
  double creation_date = 0;                // OLE date the file records
};

// Writes a new, empty database to path, which must not exist yet. The same
// options give the same bytes. Throws Error naming the file.
void CreateDatabase(const std::string& path, const NewDatabaseOptions& options);

// Adds an empty table to a database open for writing. Throws Error naming
// the table (and the column or index) when the definition is not one Access
// would accept: a duplicate or empty name, a size out of range, an index
// over an unknown column or a column type that cannot be indexed, ...
void CreateTable(Database& database, const NewTable& table);

}  // namespace corvalin::engine
