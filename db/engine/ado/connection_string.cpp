#include "db/engine/ado/connection_string.h"

#include <cctype>

#include "db/engine/error.h"

namespace corvalin::ado {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

std::optional<std::string> ConnectionString::Get(const std::string& keyword) const {
  auto it = values.find(Lower(Trim(keyword)));
  if (it == values.end()) return std::nullopt;
  return it->second;
}

ConnectionString ParseConnectionString(const std::string& text) {
  ConnectionString parsed;
  size_t pos = 0;
  const size_t n = text.size();
  while (pos < n) {
    // The keyword runs to '='; an empty pair (";;") is skipped.
    size_t eq = text.find('=', pos);
    size_t semi = text.find(';', pos);
    if (semi != std::string::npos && (eq == std::string::npos || semi < eq)) {
      if (!Trim(text.substr(pos, semi - pos)).empty()) {
        throw engine::Error(engine::kErrInvalidArgument,
                            "The connection string has a part without '=': \"" +
                                text.substr(pos, semi - pos) + "\".");
      }
      pos = semi + 1;
      continue;
    }
    if (eq == std::string::npos) {
      if (!Trim(text.substr(pos)).empty()) {
        throw engine::Error(engine::kErrInvalidArgument,
                            "The connection string has a part without '=': \"" +
                                text.substr(pos) + "\".");
      }
      break;
    }
    std::string keyword = Lower(Trim(text.substr(pos, eq - pos)));
    pos = eq + 1;
    while (pos < n && IsBlank(text[pos])) ++pos;
    std::string value;
    if (pos < n && (text[pos] == '"' || text[pos] == '\'')) {
      const char quote = text[pos++];
      bool closed = false;
      while (pos < n) {
        if (text[pos] == quote) {
          if (pos + 1 < n && text[pos + 1] == quote) {
            value += quote;
            pos += 2;
            continue;
          }
          ++pos;
          closed = true;
          break;
        }
        value += text[pos++];
      }
      if (!closed) {
        throw engine::Error(engine::kErrInvalidArgument,
                            "The connection string has an unterminated quoted value for \"" +
                                keyword + "\".");
      }
      while (pos < n && text[pos] != ';') {
        if (!IsBlank(text[pos])) {
          throw engine::Error(engine::kErrInvalidArgument,
                              "The connection string has text after the quoted value of \"" +
                                  keyword + "\".");
        }
        ++pos;
      }
    } else {
      size_t end = text.find(';', pos);
      if (end == std::string::npos) end = n;
      value = Trim(text.substr(pos, end - pos));
      pos = end;
    }
    if (pos < n && text[pos] == ';') ++pos;
    if (!keyword.empty()) parsed.values[keyword] = value;
  }
  return parsed;
}

Provider ProviderOf(const ConnectionString& parsed) {
  const std::string provider = Lower(parsed.Get("provider").value_or(""));
  if (provider == "microsoft.jet.oledb.4.0") return Provider::kJet4;
  if (provider == "microsoft.ace.oledb.12.0") return Provider::kAce12;
  throw engine::Error(engine::kErrProviderNotFound,
                      "Provider cannot be found. It may not be properly installed.");
}

}  // namespace corvalin::ado
