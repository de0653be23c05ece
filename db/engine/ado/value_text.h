// The text forms of column values that the conversions of fields to text
// use and that the command-line tool's JSON forms are made of:
//
//   Date/Time            "YYYY-MM-DDTHH:MM:SS", ".mmm" added when there are
//                        milliseconds
//   Extended Date/Time   "YYYY-MM-DDTHH:MM:SS", and when the time has a
//                        fraction of a second "." and as many digits as the
//                        value's stored precision (7: units of 100 ns)
//   Currency, Decimal    "-12.3400" (Currency keeps its four places; Decimal
//                        keeps its scale)
//   Replication ID       "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
#pragma once

#include <optional>
#include <string>

#include "db/engine/value.h"

namespace corvalin::ado {

// "YYYY-MM-DDTHH:MM:SS[.mmm]" for an OLE date: the integer part counts days
// from 1899-12-30 (negative before it) and the fraction, always taken as
// positive, is the time of day.
std::string FormatOleDate(double days);

// The form above for an extended date/time (years 1 to 9999); the stored
// text unchanged when it does not hold such a date.
std::string FormatExtDateTime(const engine::ExtDateTime& value);

// The OLE date of "YYYY-MM-DD", with " HH:MM:SS" or "THH:MM:SS" and an
// optional fraction of a second; nullopt when the text is not such a date.
std::optional<double> ParseOleDate(const std::string& text);

std::string FormatCurrency(const engine::Currency& value);
std::string FormatDecimal(const engine::Decimal& value);
std::string FormatGuid(const engine::Guid& value);

}  // namespace corvalin::ado
