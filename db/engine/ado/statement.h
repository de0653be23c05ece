// The one statement the record sets understand: SELECT * FROM <table>.
#pragma once

#include <string>

namespace corvalin::ado {

// Returns the table name of "SELECT * FROM `name`", "SELECT * FROM [name]" or
// "SELECT * FROM name" (keywords in any case, blanks anywhere between the
// words, an optional ';' at the end). Throws engine::Error kErrSyntax, quoting
// the statement, for anything else.
std::string ParseTableStatement(const std::string& statement);

}  // namespace corvalin::ado
