// The JSON forms of column values that `corvalin-db export` prints and that
// the create command reads back (the text forms are value_text.h's):
//
//   Null                 null
//   Boolean              true / false
//   Byte/Integer/Long/   JSON integer
//   BigInt
//   Single, Double       the shortest text that reads back as the same number
//   Currency, Decimal    decimal string, e.g. "-12.3400" (Currency keeps its
//                        four places; Decimal keeps its scale)
//   Date/Time            "YYYY-MM-DDTHH:MM:SS", ".mmm" added when there are
//                        milliseconds
//   Extended Date/Time   "YYYY-MM-DDTHH:MM:SS", and when the time has a
//                        fraction of a second "." and as many digits as the
//                        value's stored precision (7: units of 100 ns)
//   Text, Memo           JSON string (UTF-8, escaped as JSON.stringify does)
//   Binary, OLE          "0x" and lowercase hex
//   Replication ID       "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
//   Complex              the integer key
#pragma once

#include <string>
#include <string_view>

#include "db/tool/json_reader.h"
#include "db/engine/format/table_def.h"
#include "db/engine/value.h"

namespace corvalin::tool {

std::string ToJson(const engine::Value& value);
// The same appended to out: a printer going row after row allocates nothing
// once its line has grown to size.
void AppendJson(std::string& out, const engine::Value& value);

// A JSON string literal for UTF-8 text.
std::string JsonString(const std::string& text);
void AppendJsonString(std::string& out, std::string_view text);

// The value that one of the forms above stands for in a column of the given
// type: what an export printed reads back as the same value. Throws
// engine::Error (kErrTypeMismatch, kErrTooLong) naming the column and table.
engine::Value FromJson(const JsonValue& json, const engine::ColumnDef& column,
                       const std::string& table);

}  // namespace corvalin::tool
