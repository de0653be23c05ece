#include "db/tool/csv_export.h"

#include <cstdio>

#include "db/engine/ado/connection.h"
#include "db/engine/ado/recordset.h"
#include "db/engine/ado/value_json.h"

std::string ToolConnectionString(const std::string& path, const std::string& password);

namespace corvalin::tool {

std::string CsvQuote(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

std::string CsvField(const engine::Value& value) {
  if (engine::IsNull(value)) return {};
  if (auto text = std::get_if<std::string>(&value)) {
    return text->empty() ? std::string("\"\"") : CsvQuote(*text);
  }
  if (auto ext = std::get_if<engine::ExtDateTime>(&value)) {
    return CsvQuote(ado::FormatExtDateTime(*ext));
  }
  // Every other form is a JSON number, literal or a string without escapes
  // (dates, decimals, hex, Replication IDs): the text between the quotes.
  std::string json = ado::ToJson(value);
  if (json == "null") return {};
  if (json.size() >= 2 && json.front() == '"') json = json.substr(1, json.size() - 2);
  return CsvQuote(json);
}

}  // namespace corvalin::tool

int ExportCsvCommand(const std::string& path, const std::string& table,
                     const std::string& password) {
  using corvalin::tool::CsvField;
  using corvalin::tool::CsvQuote;
  corvalin::ado::Connection connection;
  connection.Open(ToolConnectionString(path, password));
  corvalin::ado::Recordset recordset;
  recordset.Open("SELECT * FROM `" + table + "`", connection, corvalin::ado::kOpenKeyset,
                 corvalin::ado::kLockOptimistic);
  auto& fields = recordset.GetFields();
  std::string line;
  for (int i = 0; i < fields.Count(); ++i) {
    if (i) line += ',';
    line += CsvQuote(fields.Item(i).Name());
  }
  line += "\r\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  while (!recordset.Eof()) {
    line.clear();
    for (int i = 0; i < fields.Count(); ++i) {
      if (i) line += ',';
      line += CsvField(fields.Item(i).Value());
    }
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    recordset.MoveNext();
  }
  recordset.Close();
  connection.Close();
  return 0;
}
