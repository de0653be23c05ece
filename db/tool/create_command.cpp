// corvalin-db create: a new database from a schema file, its tables and
// their rows. A file that fails half way is removed again, so a failed
// create never leaves a database that looks whole.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>

#include "db/engine/ado/value_text.h"
#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/new_database.h"
#include "db/engine/format/table_writer.h"
#include "db/tool/schema.h"
#include "db/tool/value_json.h"

namespace {

using corvalin::engine::Error;
using corvalin::engine::JetVersion;

// The local time now as an OLE date, as Access records a creation date.
double NowAsOleDate() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return *corvalin::ado::ParseOleDate(text);
}

void CreateFromSchema(const std::string& path, const corvalin::engine::NewDatabaseOptions& options,
                      const std::string& schema_path) {
  auto tables = corvalin::tool::ReadSchema(schema_path, options.version);
  corvalin::engine::CreateDatabase(path, options);
  corvalin::engine::OpenOptions open;
  open.password = options.password;
  open.writable = true;
  auto database = corvalin::engine::Database::Open(path, open);
  for (const auto& t : tables) corvalin::engine::CreateTable(*database, t.table);
  for (const auto& t : tables) {
    if (t.rows.empty()) continue;
    corvalin::engine::TableWriter writer(database, database->ReadTableDef(t.table.name));
    const auto& columns = writer.table().columns;
    size_t number = 0;
    for (const auto& row : t.rows) {
      ++number;
      std::vector<corvalin::engine::Value> values;
      values.reserve(columns.size());
      try {
        for (size_t i = 0; i < columns.size(); ++i) {
          values.push_back(corvalin::tool::FromJson(row.items[i], columns[i], t.table.name));
        }
        writer.Insert(std::move(values));
      } catch (const Error& e) {
        throw Error(e.number(), "row " + std::to_string(number) + " of table " + t.table.name +
                                    " (schema line " + std::to_string(row.line) +
                                    "): " + e.description());
      }
    }
  }
}

}  // namespace

// Returns false with a message when the format name is not one we create.
bool ParseFormatName(const std::string& name, JetVersion* version) {
  if (name == "jet4") *version = JetVersion::kJet4;
  else if (name == "ace12") *version = JetVersion::kAce12;
  else if (name == "ace16") *version = JetVersion::kAce16;
  else return false;
  return true;
}

int CreateCommand(const std::string& path, const std::string& format, const std::string& password,
                  const std::string& date, const std::string& schema_path) {
  corvalin::engine::NewDatabaseOptions options;
  if (!ParseFormatName(format, &options.version)) {
    std::cerr << "corvalin-db: --format must be jet4, ace12 or ace16, not " << format << "\n";
    return 2;
  }
  if (!password.empty() && options.version != JetVersion::kJet4) {
    std::cerr << "corvalin-db: a database password can only be given for the jet4 format\n";
    return 2;
  }
  options.password = password;
  if (date.empty()) {
    options.creation_date = NowAsOleDate();
  } else {
    auto days = corvalin::ado::ParseOleDate(date);
    if (!days || date.size() != 19 || date[10] != 'T') {
      std::cerr << "corvalin-db: --date must be YYYY-MM-DDTHH:MM:SS, not " << date << "\n";
      return 2;
    }
    options.creation_date = *days;
  }
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) {
    throw Error(corvalin::engine::kErrIo, "the file " + path + " exists already; create makes new files only");
  }
  try {
    CreateFromSchema(path, options, schema_path);
  } catch (...) {
    std::filesystem::remove(path, ec);
    throw;
  }
  return 0;
}
