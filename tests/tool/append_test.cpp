// The append command end to end on copies of Access-made files: the target
// afterwards holds its old rows followed by the new ones, for our reader,
// for mdb-reader and for mdbtools, and `corvalin-db check` passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/command.h"
#include "tests/support/corpus.h"

namespace {

using corvalin::testing::CopyOfCorpusFile;

using corvalin::testing::RunCommand;
using corvalin::testing::SplitLines;

std::string Quote(const std::string& s) { return corvalin::testing::ShellQuote(s); }
const std::string kTool = Quote(CORVALIN_BIN_DIR "/corvalin-db");

std::vector<std::string> Export(const std::string& file, const std::string& table) {
  auto o = RunCommand(kTool + " export " + Quote(file) + " " + Quote(table));
  EXPECT_EQ(o.status, 0) << file << " " << table;
  return SplitLines(o.out);
}

// mdb-reader's export lines of one table (header first), empty when it fails.
std::vector<std::string> MdbReaderExport(const std::string& file, const std::string& table) {
  auto o = RunCommand("node " + Quote(CORVALIN_SOURCE_DIR "/tests/readers/mdb_reader_view.mjs") + " " +
                 Quote(file));
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

bool HaveMdbReader() {
  return RunCommand("node --version").status == 0 &&
         std::filesystem::exists(CORVALIN_SOURCE_DIR "/tests/readers/node_modules/mdb-reader");
}

// Rows as mdbtools counts them: mdb-export prints a header line and one
// line a row (the tables below hold no line breaks in their text).
long MdbToolsRows(const std::string& file, const std::string& table) {
  auto o = RunCommand("mdb-export " + Quote(file) + " " + Quote(table));
  if (o.status != 0) return -1;
  return static_cast<long>(SplitLines(o.out).size()) - 1;
}

std::string Check(const std::string& file) {
  auto o = RunCommand(kTool + " check " + Quote(file));
  return o.status == 0 ? "" : "check failed: " + o.out;
}

struct Case {
  const char* file;
  const char* table;
};

// Tables without unique indexes across the versions: multi-column indexes
// (compIndex, 512 rows over several pages), overflow rows, binary keys,
// deleted columns, an inserted column.
const Case kSelfAppends[] = {
    {"V2000/compIndexTestV2000.mdb", "Table1"},   {"V2000/overflowTestV2000.mdb", "Table1"},
    {"V2000/delColTestV2000.mdb", "Table1"},      {"V2007/compIndexTestV2007.accdb", "Table1"},
    {"V2010/binIdxTestV2010.accdb", "Test"},      {"V2010/compIndexTestV2010.accdb", "Table1"},
    {"V2010/fixedNumericTestV2010.accdb", "test"}, {"V2016/withinsertedcol.accdb", "Table1"},
};

TEST(AppendCommand, TableToItselfKeepsOldRowsAndAddsThemOnceForEveryReader) {
  CORVALIN_REQUIRE_CORPUS();
  const bool mdb_reader = HaveMdbReader();
  for (const Case& c : kSelfAppends) {
    SCOPED_TRACE(c.file);
    std::string file = CopyOfCorpusFile(c.file);
    std::vector<std::string> before = Export(file, c.table);
    ASSERT_GE(before.size(), 2u);
    long mdbtools_before = MdbToolsRows(file, c.table);

    auto run = RunCommand(kTool + " append " + Quote(file) + " " + Quote(c.table) + " " +
                     Quote(file) + " " + Quote(c.table));
    ASSERT_EQ(run.status, 0);
    size_t rows = before.size() - 1;
    EXPECT_EQ(run.out, "added " + std::to_string(rows) + ", refused 0\n");
    EXPECT_EQ(Check(file), "");

    std::vector<std::string> after = Export(file, c.table);
    std::vector<std::string> expected = before;
    expected.insert(expected.end(), before.begin() + 1, before.end());
    EXPECT_EQ(after, expected);
    if (mdbtools_before >= 0) {
      EXPECT_EQ(MdbToolsRows(file, c.table), mdbtools_before + long(rows));
    }
    // mdb-reader orders withinsertedcol's columns by creation number, not by
    // their place in the table; the reader comparison test covers that file.
    if (mdb_reader && std::string(c.file).find("withinsertedcol") == std::string::npos) {
      // mdb-reader lists relocated rows where their bytes lie; compare as sets.
      std::vector<std::string> theirs = MdbReaderExport(file, c.table);
      std::sort(theirs.begin(), theirs.end());
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(theirs, expected);
    }
  }
}

TEST(AppendCommand, DuplicatePrimaryKeysAreRefusedOneByOneAndChangeNothing) {
  CORVALIN_REQUIRE_CORPUS();
  std::string file = CopyOfCorpusFile("V2000/indexTestV2000.mdb");
  std::ifstream in(file, std::ios::binary);
  std::string bytes_before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto run = RunCommand(kTool + " append " + Quote(file) + " Table1 " + Quote(file) + " Table1");
  const std::string& err = run.err;
  EXPECT_EQ(run.out, "added 0, refused 4\n");
  std::vector<std::string> reports = SplitLines(err);
  ASSERT_EQ(reports.size(), 4u) << err;
  for (const std::string& r : reports) EXPECT_NE(r.find("duplicate value in index"), std::string::npos);
  std::ifstream again(file, std::ios::binary);
  std::string bytes_after((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(bytes_before == bytes_after) << "a refused record changed the file";
}

TEST(AppendCommand, BetweenFilesOfDifferentVersions) {
  CORVALIN_REQUIRE_CORPUS();
  // compIndex tables have the same columns in every version.
  std::string source = CopyOfCorpusFile("V2000/compIndexTestV2000.mdb");
  std::string target = CopyOfCorpusFile("V2010/compIndexTestV2010.accdb");
  std::vector<std::string> src = Export(source, "Table1");
  std::vector<std::string> dst = Export(target, "Table1");
  auto run = RunCommand(kTool + " append " + Quote(source) + " Table1 " + Quote(target) + " Table1");
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(Check(target), "");
  std::vector<std::string> expected = dst;
  expected.insert(expected.end(), src.begin() + 1, src.end());
  EXPECT_EQ(Export(target, "Table1"), expected);
}

TEST(AppendCommand, ManyRowsSplitIndexPagesAndAddLevels) {
  CORVALIN_REQUIRE_CORPUS();
  std::string file = CopyOfCorpusFile("V2010/compIndexTestV2010.accdb");
  // 512 rows doubled six times: 32,768 rows, far beyond one index page.
  for (int i = 0; i < 6; ++i) {
    auto run = RunCommand(kTool + " append " + Quote(file) + " Table1 " + Quote(file) + " Table1");
    ASSERT_EQ(run.status, 0);
  }
  // The check walks every index in key order and re-keys every row.
  EXPECT_EQ(Check(file), "");
  EXPECT_EQ(Export(file, "Table1").size(), 512u * 64 + 1);
  EXPECT_EQ(MdbToolsRows(file, "Table1"), 512 * 64);
}

TEST(AppendCommand, UnequalColumnCountsAppendNothing) {
  CORVALIN_REQUIRE_CORPUS();
  std::string file = CopyOfCorpusFile("V2000/testV2000.mdb");
  auto run = RunCommand(kTool + " append " + Quote(file) + " Table3 " + Quote(file) + " Table1");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Check(file), "");
}

}  // namespace
