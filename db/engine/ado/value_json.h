// The JSON forms of column values that `corvalin-db export` prints and that
// the create command reads back:
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

#include <optional>
#include <string>
#include <string_view>

#include "db/engine/ado/json_reader.h"
#include "db/engine/format/table_def.h"
#include "db/engine/value.h"

namespace corvalin::ado {

std::string ToJson(const engine::Value& value);
// The same appended to out: a printer going row after row allocates nothing
// once its line has grown to size.
void AppendJson(std::string& out, const engine::Value& value);

// A JSON string literal for UTF-8 text.
std::string JsonString(const std::string& text);
void AppendJsonString(std::string& out, std::string_view text);

// "YYYY-MM-DDTHH:MM:SS[.mmm]" for an OLE date: the integer part counts days
// from 1899-12-30 (negative before it) and the fraction, always taken as
// positive, is the time of day. "null" (nothing appended, false) when the
// number is not a date.
std::string FormatOleDate(double days);
bool AppendOleDate(std::string& out, double days);

// The form above for an extended date/time (years 1 to 9999); the stored
// text unchanged when it does not hold such a date.
std::string FormatExtDateTime(const engine::ExtDateTime& value);

// The OLE date of "YYYY-MM-DD", with " HH:MM:SS" or "THH:MM:SS" and an
// optional fraction of a second; nullopt when the text is not such a date.
std::optional<double> ParseOleDate(const std::string& text);

// The value that one of the forms above stands for in a column of the given
// type: what an export printed reads back as the same value. Throws
// engine::Error (kErrTypeMismatch, kErrTooLong) naming the column and table.
engine::Value FromJson(const JsonValue& json, const engine::ColumnDef& column,
                       const std::string& table);

std::string FormatCurrency(const engine::Currency& value);
void AppendCurrency(std::string& out, const engine::Currency& value);
std::string FormatDecimal(const engine::Decimal& value);
std::string FormatGuid(const engine::Guid& value);

}  // namespace corvalin::ado
