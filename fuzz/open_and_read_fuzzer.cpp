// libFuzzer target: a damaged file must give an engine::Error, never a crash,
// a hang or runaway memory. Each input is written to a temporary file and
// walked as the program and the tool walk it: open, catalog, every table
// definition, every row (and the JSON form the tool prints), every index in
// key order; then the same file through the ADO-shaped layer: the tables
// rowset and SELECT * of every table it lists.
//
// Only engine::Error is caught: any other exception escapes and libFuzzer
// reports it, because every refusal must be an engine::Error.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/engine/ado/connection.h"
#include "db/tool/value_json.h"
#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/index_page.h"

namespace {

using namespace corvalin;

std::string InputPath() {
  const char* dir = std::getenv("TMPDIR");
  static const std::string path =
      std::string(dir && *dir ? dir : "/tmp") + "/corvalin-fuzz-" + std::to_string(getpid()) +
      ".mdb";
  return path;
}

void WalkTable(const engine::Database& database, const std::string& name) {
  auto table = database.ReadTableDef(name);
  for (const auto& row : database.ListRows(*table)) {
    try {
      for (const auto& value : database.ReadRow(*table, row)) (void)tool::ToJson(value);
    } catch (const engine::Error&) {
      // A damaged row does not stop the rows after it.
    }
  }
  for (const auto& index : table->indexes) {
    try {
      (void)engine::ReadIndexEntries(database.file(), database.format(), index);
    } catch (const engine::Error&) {
    }
  }
}

void WalkEngine(const std::string& path) {
  try {
    auto database = engine::Database::Open(path, engine::OpenOptions{});
    (void)database->version();
    for (const auto& entry : database->Catalog()) {
      if ((entry.type & 0x7FFF) != 1) continue;
      try {
        WalkTable(*database, entry.name);
      } catch (const engine::Error&) {
        // A damaged table does not stop the others.
      }
    }
  } catch (const engine::Error&) {
  }
}

void WalkAdo(const std::string& path) {
  try {
    ado::Connection connection;
    connection.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path);
    auto tables = connection.OpenSchema(ado::kSchemaTables);
    std::vector<std::string> names;
    while (!tables->Eof()) {
      const auto name = tables->GetFields().Item("TABLE_NAME").Value();
      if (const auto* text = std::get_if<std::string>(&name)) names.push_back(*text);
      tables->MoveNext();
    }
    for (const auto& name : names) {
      try {
        auto rows = connection.Execute("SELECT * FROM [" + name + "]");
        auto& fields = rows->GetFields();
        for (; !rows->Eof(); rows->MoveNext()) {
          for (int i = 0; i < fields.Count(); ++i) (void)fields.Item(i).Value();
        }
      } catch (const engine::Error&) {
      }
    }
  } catch (const engine::Error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputPath();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  if (size && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  WalkEngine(path);
  WalkAdo(path);
  std::remove(path.c_str());
  return 0;
}
