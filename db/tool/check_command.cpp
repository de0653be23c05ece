// corvalin-db check FILE [--password P]: the structure check of a file.
// Problems go to standard output one a line; the exit status is 0 when the
// file is consistent and 1 otherwise.
#include <cstdio>
#include <string>

#include "db/engine/format/check.h"
#include "db/engine/format/database.h"

int CheckCommand(const std::string& path, const std::string& password) {
  corvalin::engine::OpenOptions options;
  options.password = password;
  auto db = corvalin::engine::Database::Open(path, options);
  std::vector<std::string> problems = corvalin::engine::CheckDatabase(*db);
  for (const std::string& p : problems) std::printf("%s\n", p.c_str());
  return problems.empty() ? 0 : 1;
}
