// What the benches share: generated records, the bench's own database, fresh
// copies of a file, growing a table, and the process's resident memory.
//
// The bench database is an Access 2007 file with two tables of ten columns:
// "Indexed", with a Long primary key and an indexed Text(50) among Double,
// Integer, Date/Time, Boolean, Currency, Text(255), Memo and Long columns,
// and "Plain", the same columns without indexes. Every generated row has
// distinct keys and text, so unique indexes take it.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "db/engine/format/database.h"
#include "db/engine/format/new_database.h"
#include "db/engine/format/table_writer.h"
#include "db/engine/value.h"

namespace corvalin::bench {

using Clock = std::chrono::steady_clock;
using engine::DataType;
using engine::Value;

inline double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

inline std::string ConnectionString(const std::string& path) {
  return "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path + ";JET OLEDB:Database Password=";
}

// Record i's value for a column of this type: distinct for every i.
inline Value Generated(DataType type, long i) {
  switch (type) {
    case DataType::kBoolean: return i % 2 == 0;
    case DataType::kByte: return uint8_t(i % 256);
    case DataType::kInteger: return int16_t(i % 30000);
    case DataType::kLong: return int32_t(i);
    case DataType::kCurrency: return engine::Currency{i * 125};
    case DataType::kSingle: return float(i) / 4;
    case DataType::kDouble: return double(i) / 8;
    case DataType::kDateTime: return engine::DateTime{40000.0 + i % 5000 + 0.25};
    case DataType::kText: return "bench row " + std::to_string(i);
    case DataType::kMemo: return "a longer memo text for bench row " + std::to_string(i);
    default: return engine::Null{};
  }
}

// A new bench database at `name` in the temporary folder, both tables empty.
inline std::string MakeBenchDatabase(const std::string& name = "corvalin-bench-made") {
  auto path = std::filesystem::temp_directory_path() / (name + ".accdb");
  std::filesystem::remove(path);
  engine::NewDatabaseOptions options;
  options.version = engine::JetVersion::kAce12;
  options.creation_date = 45000;
  engine::CreateDatabase(path.string(), options);
  auto column = [](const char* column_name, DataType type, uint16_t size = 0) {
    engine::NewColumn c;
    c.name = column_name;
    c.type = type;
    c.size = size;
    return c;
  };
  std::vector<engine::NewColumn> columns = {
      column("id", DataType::kLong),          column("name", DataType::kText, 50),
      column("amount", DataType::kDouble),    column("quantity", DataType::kInteger),
      column("placed", DataType::kDateTime),  column("paid", DataType::kBoolean),
      column("price", DataType::kCurrency),   column("comment", DataType::kText, 255),
      column("notes", DataType::kMemo),       column("reference", DataType::kLong)};
  engine::NewIndex key;
  key.name = "PrimaryKey";
  key.columns = {"id"};
  key.primary = key.unique = true;
  engine::NewIndex text;
  text.name = "name";
  text.columns = {"name"};
  engine::OpenOptions open;
  open.writable = true;
  auto db = engine::Database::Open(path.string(), open);
  engine::CreateTable(*db, {"Indexed", columns, {key, text}});
  engine::CreateTable(*db, {"Plain", columns, {}});
  return path.string();
}

// A writable copy of source in the temporary folder.
inline std::string FreshCopy(const std::string& source, const std::string& tag) {
  auto path = std::filesystem::temp_directory_path() /
              ("corvalin-bench-" + tag + std::filesystem::path(source).extension().string());
  std::filesystem::remove(path);
  std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  return path.string();
}

// Adds generated records through the engine until the table has `rows`
// (numbered past `offset`, so that they miss the rows already there);
// returns how many it has.
inline long Grow(const std::string& path, const std::string& table, long rows, long offset = 0) {
  auto db = engine::Database::Open(path, {.password = "", .writable = true});
  auto def = db->ReadTableDef(table);
  long have = static_cast<long>(db->ListRows(*def).size());
  engine::TableWriter writer(db, def);
  for (long i = have; i < rows; ++i) {
    std::vector<Value> values;
    for (const auto& c : def->columns)
      values.push_back(c.autonumber ? Value(engine::Null{}) : Generated(c.type, i + offset));
    writer.Insert(std::move(values));
  }
  return std::max(have, rows);
}

// The process's resident memory of its own (RssAnon) and of mapped files
// (RssFile), in MB: a run holds neither table in its own memory, so only
// the second grows with the file.
inline std::string ResidentMemory() {
  std::ifstream status("/proc/self/status");
  std::string line, out;
  while (std::getline(status, line)) {
    if (line.rfind("RssAnon:", 0) == 0 || line.rfind("RssFile:", 0) == 0) {
      long kb = std::atol(line.c_str() + 8);
      out += (out.empty() ? "" : ", ") + line.substr(0, 7) + " " + std::to_string(kb / 1024) + " MB";
    }
  }
  return out;
}

}  // namespace corvalin::bench
