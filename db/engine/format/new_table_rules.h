// The rules a new table's definition must keep, and the definition made
// from its shape: names as Access allows them, the types new tables can
// have, and Access's limits on columns and indexes. A shape that breaks a
// rule is refused with an error naming the table and what is wrong.
#pragma once

#include <cstdint>
#include <string>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/new_database.h"
#include "db/engine/format/table_def.h"

namespace corvalin::engine {

// The collation of a new file and of its text columns: General (1033), in
// the version the format gives new text columns.
constexpr uint16_t kGeneralSortOrder = 1033;

// The definition of a new user table, its columns laid out; not yet placed
// in the file. `file` is named in errors.
TableDef UserTableDef(const NewTable& shape, const JetFormat& format, const std::string& file);

// Names compared as Access compares them (ASCII letters in either case).
std::string LowerName(const std::string& name);

}  // namespace corvalin::engine
