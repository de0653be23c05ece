// The system tables of a new file: their shapes, their definitions, and
// the catalog rows and permissions Jet writes for them. new_database.cpp
// puts them together into a new file.
#pragma once

#include <cstdint>
#include <vector>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/table_def.h"
#include "db/engine/format/table_writer.h"
#include "db/engine/value.h"

namespace corvalin::engine {

// Page 1 of a new file: row 0 the global map (a set bit: a free page;
// every page past the two written first is free), row 1 an empty map as
// Access has it.
std::vector<uint8_t> GlobalMapPageBytes(const JetFormat& format);

// The definitions of the system tables, in the order they are written
// (MSysObjects first, so that it lands on page 2), not yet placed.
std::vector<TableDef> SystemTableDefs(const JetFormat& format);

// The catalog rows of a new file: the containers, the database object and
// a row per system table (`tables`, placed).
void AddSystemCatalogRows(TableWriter& catalog, const std::vector<TableDef>& tables,
                          double date);

// The permissions Jet grants in a new file (rows of MSysACEs).
void AddSystemPermissions(TableWriter& aces, const std::vector<TableDef>& tables);

// The catalog row of a new user table, with its properties blob (empty:
// none).
void AddTableCatalogRow(TableWriter& catalog, const TableDef& table, const Bytes& properties,
                        double date);

}  // namespace corvalin::engine
