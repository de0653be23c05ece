// The append command end to end on databases we make and on copies of
// Access-made files: the target afterwards holds its old rows followed by the
// new ones, for our reader, for mdb-reader and for mdbtools, and `corvalin-db check` passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "db/engine/format/data_page.h"
#include "db/engine/format/database.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/table_writer.h"
#include "tests/support/command.h"
#include "tests/support/corpus.h"
#include "tests/support/fixture.h"
#include "tests/support/readers.h"

namespace {

using corvalin::testing::CopyOfCorpusFile;

using corvalin::testing::HaveMdbReader;
using corvalin::testing::MdbReaderExport;
using corvalin::testing::MdbToolsRows;
using corvalin::testing::Quote;
using corvalin::testing::RunCommand;
using corvalin::testing::SplitLines;
using corvalin::testing::Tool;
using corvalin::testing::ToolCheck;
using corvalin::testing::ToolExport;

// mdb-export's lines of one table (header first), empty when it fails.
std::vector<std::string> MdbToolsExport(const std::string& file, const std::string& table) {
  auto o = RunCommand("mdb-export " + Quote(file) + " " + Quote(table));
  return o.status == 0 ? SplitLines(o.out) : std::vector<std::string>();
}

// Every table of mdb-reader's view of the file, by name.
std::map<std::string, std::vector<std::string>> MdbReaderTables(const std::string& file) {
  auto o = RunCommand("node " + Quote(CORVALIN_SOURCE_DIR "/tests/readers/mdb_reader_view.mjs") +
                      " " + Quote(file));
  std::map<std::string, std::vector<std::string>> tables;
  std::vector<std::string>* current = nullptr;
  for (const std::string& line : SplitLines(o.out)) {
    if (line.rfind("#table ", 0) == 0) {
      current = &tables[line.substr(7)];
    } else if (line.rfind("#", 0) == 0) {
      current = nullptr;
    } else if (current) {
      current->push_back(line);
    }
  }
  return tables;
}

// Lines of an export (header first) with its rows once more after them.
std::vector<std::string> Twice(const std::vector<std::string>& lines) {
  std::vector<std::string> out = lines;
  if (!lines.empty()) out.insert(out.end(), lines.begin() + 1, lines.end());
  return out;
}

std::string FileBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
    std::vector<std::string> before = ToolExport(file, c.table);
    ASSERT_GE(before.size(), 2u);
    long mdbtools_before = MdbToolsRows(file, c.table);

    auto run = RunCommand(Tool() + " append " + Quote(file) + " " + Quote(c.table) + " " +
                     Quote(file) + " " + Quote(c.table));
    ASSERT_EQ(run.status, 0);
    size_t rows = before.size() - 1;
    EXPECT_EQ(run.out, "added " + std::to_string(rows) + ", refused 0\n");
    EXPECT_EQ(ToolCheck(file), "");

    std::vector<std::string> after = ToolExport(file, c.table);
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

// Every user table of every Access 97 file appended to itself: a table
// without a unique index gets its rows once more; one with a unique index
// refuses every record and keeps its rows. Each reader sees, in its own
// forms, exactly the old rows followed by the new ones.
TEST(AppendCommand, EveryAccess97TableToItselfForEveryReader) {
  CORVALIN_REQUIRE_CORPUS();
  const bool mdb_reader = HaveMdbReader();
  std::vector<std::string> files;
  for (const auto& de : std::filesystem::directory_iterator(
           std::filesystem::path(corvalin::testing::CorpusDir()) / "V1997"))
    files.push_back("V1997/" + de.path().filename().string());
  std::sort(files.begin(), files.end());
  size_t doubled = 0, refused = 0;
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    const std::string file = CopyOfCorpusFile(name);
    const std::string bytes_before = FileBytes(file);
    std::vector<std::string> tables = SplitLines(RunCommand(Tool() + " tables " + Quote(file)).out);
    ASSERT_FALSE(tables.empty());
    std::map<std::string, std::vector<std::string>> ours, mdbtools;
    for (const std::string& t : tables) {
      ours[t] = ToolExport(file, t);
      mdbtools[t] = MdbToolsExport(file, t);
    }
    auto mdb_reader_before = mdb_reader ? MdbReaderTables(file) : decltype(MdbReaderTables(file))();

    std::map<std::string, bool> added;
    for (const std::string& t : tables) {
      SCOPED_TRACE(t);
      auto run = RunCommand(Tool() + " append " + Quote(file) + " " + Quote(t) + " " +
                            Quote(file) + " " + Quote(t));
      const std::string rows = std::to_string(ours[t].size() - 1);
      // A table with a unique index refuses every record it already has:
      // exit status 3.
      ASSERT_EQ(run.status, run.out == "added 0, refused " + rows + "\n" && rows != "0" ? 3 : 0)
          << run.out << run.err;
      added[t] = run.out == "added " + rows + ", refused 0\n" && rows != "0";
      if (added[t]) ++doubled;
      else if (rows != "0") ++refused;
      EXPECT_TRUE(run.out == "added " + rows + ", refused 0\n" ||
                  run.out == "added 0, refused " + rows + "\n")
          << run.out;
    }
    EXPECT_EQ(ToolCheck(file), "");
    bool changed = false;
    for (const std::string& t : tables) {
      SCOPED_TRACE(t);
      changed |= added[t];
      EXPECT_EQ(ToolExport(file, t), added[t] ? Twice(ours[t]) : ours[t]);
      EXPECT_EQ(MdbToolsExport(file, t), added[t] ? Twice(mdbtools[t]) : mdbtools[t]);
    }
    if (mdb_reader) {
      auto after = MdbReaderTables(file);
      for (const std::string& t : tables) {
        SCOPED_TRACE(t);
        EXPECT_EQ(after[t], added[t] ? Twice(mdb_reader_before[t]) : mdb_reader_before[t]);
      }
    }
    if (!changed) {
      EXPECT_TRUE(FileBytes(file) == bytes_before) << "refused records changed the file";
    }
  }
  EXPECT_GE(doubled, 4u);
  EXPECT_GE(refused, 20u);
}

// Rows with Memo and OLE values in each of their forms (in the row, one
// LVAL row, a chain), enough of them to take the file past the 1024 pages
// the usage maps hold in their rows, read back by every reader.
TEST(AppendCommand, Access97LongValuesOverAGrowingFileForEveryReader) {
  CORVALIN_REQUIRE_CORPUS();
  using namespace corvalin::engine;
  const std::string file = CopyOfCorpusFile("V1997/test2V1997.mdb");
  const std::vector<std::string> before = ToolExport(file, "MSP_PROJECTS");
  constexpr int kRows = 300;
  {
    OpenOptions options;
    options.writable = true;
    auto db = Database::Open(file, options);
    auto table = db->ReadTableDef("MSP_PROJECTS");
    std::vector<Value> row = db->ReadRow(*table, db->ListRows(*table).at(0));
    TableWriter writer(db, table);
    for (int i = 0; i < kRows; ++i) {
      row[0] = int32_t(100 + i);                             // PROJ_ID, unique
      // PROJ_NAME, unique; its length sweeps the rows across 256 and 512
      // bytes, with jump table entries before and past the end of data.
      row[1] = "Project " + std::to_string(i) + " " + std::string(size_t(i % 240), 'x');
      row[2] = std::string(size_t(i % 3 == 0 ? 40 : 700), char('a' + i % 26));
      row[4] = std::string(size_t(5000 + 31 * i), char('A' + i % 26));  // a chain
      writer.Insert(row);
    }
  }
  EXPECT_GT(std::filesystem::file_size(file) / 2048, 1024u);
  {
    // The global usage map no longer fits its row: it refers to map pages.
    auto db = Database::Open(file, {});
    PagePtr page = db->file().Read(1);
    EXPECT_EQ(DataPageRow(*page, db->format(), 0, file, 1).bytes[0], 1);
    auto table = db->ReadTableDef("MSP_PROJECTS");
    const size_t mask = (table->max_columns + 7) / 8;
    size_t jumps = 0, past_end_of_data = 0;
    for (RowId id : db->ListRows(*table)) {
      ResolvedRow r = ReadRowAt(db->file(), db->format(), id.page, id.row);
      const size_t n = (r.bytes.size() - 1) / 256;
      jumps = std::max(jumps, n);
      past_end_of_data += n > 0 && r.bytes[r.bytes.size() - mask - 1 - n] == 0xFF;
    }
    EXPECT_GE(jumps, 2u);
    EXPECT_GT(past_end_of_data, 0u);
  }
  EXPECT_EQ(ToolCheck(file), "");
  std::vector<std::string> after = ToolExport(file, "MSP_PROJECTS");
  ASSERT_EQ(after.size(), before.size() + kRows);
  // mdbtools: one JSON line a row (the old row's memos hold line breaks),
  // each new one with its values.
  auto json = RunCommand("mdb-json " + Quote(file) + " MSP_PROJECTS");
  if (json.status == 0) {
    std::vector<std::string> lines = SplitLines(json.out);
    ASSERT_EQ(lines.size(), size_t(1 + kRows));
    for (int i = 0; i < kRows; i += 37) {
      const std::string& line = lines[1 + i];
      EXPECT_NE(line.find("\"Project " + std::to_string(i) + " " +
                          std::string(size_t(i % 240), 'x') + "\""),
                std::string::npos);
      EXPECT_NE(line.find(std::string(size_t(i % 3 == 0 ? 40 : 700), char('a' + i % 26))),
                std::string::npos);
      EXPECT_NE(line.find(std::string(size_t(5000 + 31 * i), char('A' + i % 26))),
                std::string::npos);
    }
  }
  if (HaveMdbReader()) {
    EXPECT_EQ(MdbReaderTables(file)["MSP_PROJECTS"], after);
  }
}

TEST(AppendCommand, DuplicatePrimaryKeysAreRefusedOneByOneAndChangeNothing) {
  std::string file = corvalin::testing::KeyedTablesFile("keyed.mdb");
  std::ifstream in(file, std::ios::binary);
  std::string bytes_before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto run = RunCommand(Tool() + " append " + Quote(file) + " Table1 " + Quote(file) + " Table1");
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
  std::vector<std::string> src = ToolExport(source, "Table1");
  std::vector<std::string> dst = ToolExport(target, "Table1");
  auto run = RunCommand(Tool() + " append " + Quote(source) + " Table1 " + Quote(target) + " Table1");
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(ToolCheck(target), "");
  std::vector<std::string> expected = dst;
  expected.insert(expected.end(), src.begin() + 1, src.end());
  EXPECT_EQ(ToolExport(target, "Table1"), expected);
}

// 512 rows under a two-column index and a text index, none unique.
std::string ManyRowsFile() {
  using corvalin::engine::DataType;
  using corvalin::testing::Column;
  using corvalin::testing::Index;
  using corvalin::testing::TextColumn;
  corvalin::testing::TableData t{
      {"Table1",
       {Column("id", DataType::kLong), TextColumn("a"), Column("b", DataType::kLong),
        TextColumn("c", 100)},
       {Index("ab", {"a", "b"}), Index("c", {"c"})}},
      {}};
  for (int32_t i = 0; i < 512; ++i)
    t.rows.push_back({i, "group " + std::to_string(i % 37), int32_t(i * 7919 % 512),
                      std::string(20 + i % 50, char('a' + i % 26)) + std::to_string(i)});
  return corvalin::testing::MakeDatabase("many.accdb", {t});
}

TEST(AppendCommand, ManyRowsSplitIndexPagesAndAddLevels) {
  std::vector<std::string> files{ManyRowsFile()};
  if (!corvalin::testing::CorpusDir().empty())  // Access 97 pages we cannot make
    files.push_back(CopyOfCorpusFile("V1997/compIndexTestV1997.mdb"));
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    // 512 rows doubled six times: 32,768 rows, far beyond one index page.
    for (int i = 0; i < 6; ++i) {
      auto run = RunCommand(Tool() + " append " + Quote(file) + " Table1 " + Quote(file) + " Table1");
      ASSERT_EQ(run.status, 0);
    }
    // The check walks every index in key order and re-keys every row.
    EXPECT_EQ(ToolCheck(file), "");
    EXPECT_EQ(ToolExport(file, "Table1").size(), 512u * 64 + 1);
    EXPECT_EQ(MdbToolsRows(file, "Table1"), 512 * 64);
  }
}

TEST(AppendCommand, UnequalColumnCountsAppendNothing) {
  // Table3 has two columns, Table1 five.
  std::string file = corvalin::testing::KeyedTablesFile("keyed.mdb");
  const std::vector<std::string> before = ToolExport(file, "Table1");
  auto run = RunCommand(Tool() + " append " + Quote(file) + " Table3 " + Quote(file) + " Table1");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ToolCheck(file), "");
  EXPECT_EQ(ToolExport(file, "Table1"), before);
}

}  // namespace
