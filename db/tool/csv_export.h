// corvalin-db export --csv: a table as RFC 4180 text, the form spreadsheets
// read. A header line of column names, then one line per row in the table's
// row order; lines end in CR LF; a field is put in double quotes (doubled
// inside) when it holds a comma, a double quote, a CR or a LF, and an empty
// text is written as "" so that it differs from Null, which is an empty
// field. Values take the forms of the JSON export (value_json.h) without
// its quotes: true/false, numbers, decimal strings for Currency and Decimal,
// "YYYY-MM-DDTHH:MM:SS[.mmm]" dates, "0x..." binary, "{...}" Replication IDs.
#pragma once

#include <string>

#include "db/engine/value.h"

namespace corvalin::tool {

// One value as a CSV field, quoted when it needs to be.
std::string CsvField(const engine::Value& value);

// Quotes text for CSV when it holds a separator, a quote or a line end.
std::string CsvQuote(const std::string& text);

}  // namespace corvalin::tool

// The export command in CSV form; what main() runs for `export --csv`.
int ExportCsvCommand(const std::string& path, const std::string& table,
                     const std::string& password);
