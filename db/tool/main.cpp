// corvalin-db: the engine on the command line, for scripts and for our checks.
// The commands, their arguments and options are listed in command_line.cpp;
// `corvalin-db help` prints them. Errors go to standard error and the exit status is non-zero:
// 1 for an engine error, 2 for a usage error (an unknown command or option,
// a missing argument), and for append 3 when some records were refused.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "db/engine/ado/connection.h"
#include "db/engine/ado/recordset.h"
#include "db/engine/ado/value_json.h"
#include "db/engine/error.h"
#include "db/tool/command_line.h"
#include "db/tool/csv_export.h"

namespace {

using corvalin::ado::Connection;
using corvalin::ado::Recordset;

constexpr int kExitEngineError = 1;
constexpr int kExitUsage = 2;

// The connection string the program builds: the ACE provider when the path's
// last five characters are "accdb" in any case, the Jet provider otherwise.
}  // namespace

std::string ToolConnectionString(const std::string& path, const std::string& password);

namespace {

std::string ConnectionStringFor(const std::string& path, const std::string& password) {
  return ToolConnectionString(path, password);
}

}  // namespace

std::string ToolConnectionString(const std::string& path, const std::string& password) {
  std::string tail = path.size() > 5 ? path.substr(path.size() - 5) : path;
  for (char& c : tail) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  const std::string prefix = tail == "accdb"
                                 ? "Provider=Microsoft.ACE.OLEDB.12.0;Data Source="
                                 : "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=";
  return prefix + path + ";JET OLEDB:Database Password=" + password;
}

namespace {

std::string Text(const corvalin::ado::Variant& value) {
  if (auto text = std::get_if<std::string>(&value)) return *text;
  return {};
}

int Tables(const std::string& path, const std::string& password) {
  Connection connection;
  connection.Open(ConnectionStringFor(path, password));
  auto rowset = connection.OpenSchema(corvalin::ado::kSchemaTables);
  std::string out;
  while (!rowset->Eof()) {
    auto& fields = rowset->GetFields();
    if (Text(fields.Item("TABLE_TYPE").Value()) == "TABLE") {
      out += Text(fields.Item("TABLE_NAME").Value());
      out += '\n';
    }
    rowset->MoveNext();
  }
  rowset->Close();
  connection.Close();
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int Export(const std::string& path, const std::string& table, const std::string& password) {
  Connection connection;
  connection.Open(ConnectionStringFor(path, password));
  Recordset recordset;
  recordset.Open("SELECT * FROM `" + table + "`", connection, corvalin::ado::kOpenKeyset,
                 corvalin::ado::kLockOptimistic);
  auto& fields = recordset.GetFields();
  std::string line = "[";
  for (int i = 0; i < fields.Count(); ++i) {
    if (i) line += ',';
    line += corvalin::ado::JsonString(fields.Item(i).Name());
  }
  line += "]\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  while (!recordset.Eof()) {
    line = "[";
    for (int i = 0; i < fields.Count(); ++i) {
      if (i) line += ',';
      line += corvalin::ado::ToJson(fields.Item(i).Value());
    }
    line += "]\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    recordset.MoveNext();
  }
  recordset.Close();
  connection.Close();
  return 0;
}

}  // namespace

int CheckCommand(const std::string& path, const std::string& password);  // check_command.cpp
int AppendCommand(const std::string& source_path, const std::string& source_table,
                  const std::string& target_path, const std::string& target_table,
                  const std::string& source_password,
                  const std::string& target_password);  // append_command.cpp
int CreateCommand(const std::string& path, const std::string& format, const std::string& password,
                  const std::string& date, const std::string& schema_path);  // create_command.cpp

int main(int argc, char** argv) {
  using corvalin::tool::Invocation;
  using corvalin::tool::ParseCommandLine;
  Invocation call;
  if (!ParseCommandLine(argc, argv, call)) return kExitUsage;
  if (call.done) return 0;
  const auto& positional = call.arguments;
  const auto option = [&](const char* name) {
    auto it = call.options.find(name);
    return it == call.options.end() ? std::string() : it->second;
  };
  const std::string password = option("--password");
  try {
    if (call.command == "tables") return Tables(positional[0], password);
    if (call.command == "check") return CheckCommand(positional[0], password);
    if (call.command == "append") {
      return AppendCommand(positional[0], positional[1], positional[2], positional[3],
                           option("--src-password"), option("--dst-password"));
    }
    if (call.command == "create") {
      return CreateCommand(positional[0], option("--format"), password, option("--date"),
                           option("--schema"));
    }
    if (call.command == "export") {
      if (call.options.count("--csv")) return ExportCsvCommand(positional[0], positional[1], password);
      return Export(positional[0], positional[1], password);
    }
  } catch (const corvalin::engine::Error& error) {
    std::cerr << "corvalin-db: error " << error.number() << ": " << error.description() << "\n";
    return kExitEngineError;
  } catch (const std::exception& error) {
    std::cerr << "corvalin-db: " << error.what() << "\n";
    return kExitEngineError;
  }
  return kExitUsage;
}
