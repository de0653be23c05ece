// Our tool and the independent readers, as the tool tests run them: each
// gives a table as export lines (the JSON header line, then one line a row).
#pragma once

#include <string>
#include <vector>

namespace corvalin::testing {

// corvalin-db, shell-quoted, and a word quoted for the shell.
const std::string& Tool();
std::string Quote(const std::string& text);

// `corvalin-db export`; a failure fails the test.
std::vector<std::string> ToolExport(const std::string& file, const std::string& table);

// "" when `corvalin-db check` passes, else what it says.
std::string ToolCheck(const std::string& file);

// Whether node and the pinned mdb-reader are here.
bool HaveMdbReader();

// mdb-reader's export lines of one table (header first); empty when it
// cannot read the table.
std::vector<std::string> MdbReaderExport(const std::string& file, const std::string& table,
                                         const std::string& password = {});

// The rows mdbtools' mdb-export counts (one line a row: for tables whose
// text holds no line breaks), or -1 when it fails.
long MdbToolsRows(const std::string& file, const std::string& table);

}  // namespace corvalin::testing
