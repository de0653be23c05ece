// The conversions a value goes through when it is assigned to a field of a
// new record, as ADO's variants convert: text that holds a number into a
// number column, a number into text, dates, booleans. A value that cannot be
// converted, or that does not fit the column, is an error of the assignment.
#pragma once

#include "db/engine/format/table_def.h"
#include "db/engine/value.h"

namespace corvalin::ado {

// The value in the column's own type (Null stays Null). Throws
// engine::Error naming the column (kErrTypeMismatch, or kErrTooLong for a
// number out of the column's range).
engine::Value ConvertForColumn(const engine::Value& value, const engine::ColumnDef& column,
                               const std::string& table);

// The same into out. A value already in the column's own type is copied
// over out as it is, into the storage of a text or bytes out already holds:
// a record set that adds row after row allocates nothing for them. A value
// the column refuses leaves out as it was.
void ConvertForColumn(const engine::Value& value, const engine::ColumnDef& column,
                      const std::string& table, engine::Value& out);

}  // namespace corvalin::ado
