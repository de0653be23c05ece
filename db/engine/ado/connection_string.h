// Connection strings, read the way OLE DB reads them: "key=value" pairs
// separated by ';', keywords compared without regard to case.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace corvalin::ado {

// The providers we stand in for.
enum class Provider { kJet4, kAce12 };

struct ConnectionString {
  // Keywords folded to lower case, blanks around them removed.
  std::map<std::string, std::string> values;

  // The value of a keyword (any case), or nothing when it is absent.
  std::optional<std::string> Get(const std::string& keyword) const;
};

// Splits a connection string into its pairs. Values may be quoted with ' or
// "; a quoted value may hold ';' and a doubled quote stands for one quote. An
// unquoted value runs to the next ';' and keeps its inner blanks; blanks
// before it and after it are dropped, as OLE DB drops them. A later keyword
// replaces an earlier one. Throws engine::Error kErrInvalidArgument for a
// pair without '=' or an unterminated quote.
ConnectionString ParseConnectionString(const std::string& text);

// The "Provider" of the string. Throws engine::Error 3706 when the provider
// is missing or is not one of the two we stand in for.
Provider ProviderOf(const ConnectionString& parsed);

}  // namespace corvalin::ado
