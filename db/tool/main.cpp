// corvalin-db: the engine on the command line, for scripts and for our checks.
//
//   corvalin-db tables FILE [--password P]
//       the user tables, one a line, in the order the table listing gives
//   corvalin-db export FILE TABLE [--password P]
//       first line the JSON array of column names, then one JSON array per
//       row in the table's row order (value forms: db/tool/value_json.h)
//   corvalin-db check FILE [--password P]
//       the file's structure problems, one a line; exit status 0 when none
//   corvalin-db append SRC TABLE DST TABLE [--src-password P] [--dst-password P]
//       appends every row of SRC's TABLE to DST's TABLE, one at a time, by
//       column position; ends with "added N, refused M"
//   corvalin-db create FILE --format jet4|ace12|ace16 [--password P]
//                      [--date YYYY-MM-DDTHH:MM:SS] --schema SCHEMA.json
//       a new database with the schema's tables and rows (db/tool/schema.h);
//       the same input with the same --date gives the same bytes
//
// Errors go to standard error and the exit status is non-zero: 1 for an
// engine error, 2 for a usage error.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "db/engine/ado/connection.h"
#include "db/engine/ado/recordset.h"
#include "db/tool/value_json.h"
#include "db/engine/error.h"

namespace {

using corvalin::ado::Connection;
using corvalin::ado::Recordset;

constexpr int kExitEngineError = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: corvalin-db tables FILE [--password P]\n"
    "       corvalin-db export FILE TABLE [--password P]\n"
    "       corvalin-db check FILE [--password P]\n"
    "       corvalin-db append SRC TABLE DST TABLE [--src-password P] [--dst-password P]\n"
    "       corvalin-db create FILE --format jet4|ace12|ace16 [--password P]\n"
    "                          [--date YYYY-MM-DDTHH:MM:SS] --schema SCHEMA.json\n";

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
    line += corvalin::tool::JsonString(fields.Item(i).Name());
  }
  line += "]\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  while (!recordset.Eof()) {
    line = "[";
    for (int i = 0; i < fields.Count(); ++i) {
      if (i) line += ',';
      line += corvalin::tool::ToJson(fields.Item(i).Value());
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
  std::vector<std::string> positional;
  std::string password, src_password, dst_password, format, date, schema;
  bool has_password = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--format" || arg == "--date" || arg == "--schema") {
      if (i + 1 >= argc) {
        std::cerr << "corvalin-db: " << arg << " needs a value\n" << kUsage;
        return kExitUsage;
      }
      (arg == "--format" ? format : arg == "--date" ? date : schema) = argv[++i];
    } else if (arg == "--src-password" || arg == "--dst-password") {
      if (i + 1 >= argc) {
        std::cerr << "corvalin-db: " << arg << " needs a value\n" << kUsage;
        return kExitUsage;
      }
      (arg == "--src-password" ? src_password : dst_password) = argv[++i];
    } else if (arg == "--password") {
      if (i + 1 >= argc) {
        std::cerr << "corvalin-db: --password needs a value\n" << kUsage;
        return kExitUsage;
      }
      password = argv[++i];
      has_password = true;
    } else if (arg.rfind("--password=", 0) == 0) {
      password = arg.substr(11);
      has_password = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      std::cerr << "corvalin-db: unknown option " << arg << "\n" << kUsage;
      return kExitUsage;
    } else {
      positional.push_back(arg);
    }
  }
  try {
    if (positional.size() == 2 && positional[0] == "tables") {
      return Tables(positional[1], password);
    }
    if (positional.size() == 2 && positional[0] == "check") {
      return CheckCommand(positional[1], password);
    }
    if (positional.size() == 5 && positional[0] == "append") {
      return AppendCommand(positional[1], positional[2], positional[3], positional[4],
                           src_password, dst_password);
    }
    if (positional.size() == 2 && positional[0] == "create") {
      if (format.empty() || schema.empty()) {
        std::cerr << "corvalin-db: create needs --format and --schema\n" << kUsage;
        return kExitUsage;
      }
      if (has_password && password.empty()) {
        std::cerr << "corvalin-db: --password needs a value\n" << kUsage;
        return kExitUsage;
      }
      return CreateCommand(positional[1], format, password, date, schema);
    }
    if (positional.size() == 3 && positional[0] == "export") {
      return Export(positional[1], positional[2], password);
    }
  } catch (const corvalin::engine::Error& error) {
    std::cerr << "corvalin-db: error " << error.number() << ": " << error.description() << "\n";
    return kExitEngineError;
  } catch (const std::exception& error) {
    std::cerr << "corvalin-db: " << error.what() << "\n";
    return kExitEngineError;
  }
  std::cerr << kUsage;
  return kExitUsage;
}
