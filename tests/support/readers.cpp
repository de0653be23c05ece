#include "tests/support/readers.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/command.h"

namespace corvalin::testing {

const std::string& Tool() {
  static const std::string tool = ShellQuote(CORVALIN_BIN_DIR "/corvalin-db");
  return tool;
}

std::string Quote(const std::string& text) { return ShellQuote(text); }

std::vector<std::string> ToolExport(const std::string& file, const std::string& table) {
  auto o = RunCommand(Tool() + " export " + Quote(file) + " " + Quote(table));
  EXPECT_EQ(o.status, 0) << file << " " << table << ": " << o.err;
  return SplitLines(o.out);
}

std::string ToolCheck(const std::string& file) {
  auto o = RunCommand(Tool() + " check " + Quote(file));
  return o.status == 0 ? "" : "check failed: " + o.out + o.err;
}

bool HaveMdbReader() {
  return RunCommand("node --version").status == 0 &&
         std::filesystem::exists(CORVALIN_SOURCE_DIR "/tests/readers/node_modules/mdb-reader");
}

std::vector<std::string> MdbReaderExport(const std::string& file, const std::string& table,
                                         const std::string& password) {
  auto o = RunCommand("node " + Quote(CORVALIN_SOURCE_DIR "/tests/readers/mdb_reader_view.mjs") +
                      " " + Quote(file) + (password.empty() ? "" : " " + Quote(password)));
  std::vector<std::string> lines;
  bool in_table = false;
  for (const std::string& line : SplitLines(o.out)) {
    if (line.rfind("#", 0) == 0) {
      in_table = line == "#table " + table;
      continue;
    }
    if (in_table) lines.push_back(line);
  }
  return lines;
}

long MdbToolsRows(const std::string& file, const std::string& table) {
  auto o = RunCommand("mdb-export " + Quote(file) + " " + Quote(table));
  if (o.status != 0) return -1;
  return static_cast<long>(SplitLines(o.out).size()) - 1;
}

}  // namespace corvalin::testing
