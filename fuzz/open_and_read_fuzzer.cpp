// libFuzzer target: a damaged file must give an engine::Error, never a crash,
// a hang or runaway memory. Each input is written to a temporary file and
// walked as a reader walks it: open, catalog, tables listing, every table
// definition and every row.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/engine/ado/connection.h"
#include "db/engine/error.h"
#include "db/engine/format/database.h"

namespace {

std::string InputPath() {
  const char* dir = std::getenv("TMPDIR");
  static const std::string path =
      std::string(dir && *dir ? dir : "/tmp") + "/corvalin-fuzz-" + std::to_string(getpid()) +
      ".mdb";
  return path;
}

void Walk(const std::string& path) {
  using namespace corvalin;
  try {
    auto database = engine::Database::Open(path, engine::OpenOptions{});
    (void)database->version();
    for (const auto& entry : database->Catalog()) {
      if (entry.type != 1) continue;
      try {
        auto table = database->ReadTableDef(entry.name);
        for (const auto& row : database->ListRows(*table)) database->ReadRow(*table, row);
      } catch (const engine::Error&) {
        // A damaged table does not stop the others.
      }
    }
  } catch (const engine::Error&) {
  }
  // The same file through the ADO-shaped layer, as the table listing reads it.
  try {
    ado::Connection connection;
    connection.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path +
                    ";JET OLEDB:Database Password=");
    auto rowset = connection.OpenSchema(ado::kSchemaTables);
    while (!rowset->Eof()) {
      (void)rowset->GetFields().Item("TABLE_NAME").Value();
      rowset->MoveNext();
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
  Walk(path);
  std::remove(path.c_str());
  return 0;
}
