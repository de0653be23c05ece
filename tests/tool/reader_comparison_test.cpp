// corvalin-db against an independent reader (mdb-reader, run by node): for
// every corpus file that mdb-reader reads, the same user tables and, table by
// table, the same columns, row count and values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "tests/support/command.h"
#include "tests/support/corpus.h"

namespace {

// How a known difference is compared.
enum class Kind {
  // Values of the named columns differ; the other columns still compare.
  kValues,
  // The same rows in another order: both sides are sorted, then compared.
  kRowOrder,
  // The same columns in another order: compared column by column by name.
  kColumnOrder,
};

// Where the two readers differ, each for a cause found in the file's bytes.
// A file or table "*" matches every one; a column list is "|"-separated,
// "*" for every column.
struct KnownDifference {
  Kind kind;
  const char* file;
  const char* table;
  const char* columns;
  const char* reason;
};

const KnownDifference kKnownDifferences[] = {
    {Kind::kValues, "V1997/testIndexCodesV1997.mdb", "*", "data",
     "mdb-reader turns the bytes code page 1252 leaves unassigned (81 8D 8F 90 9D) into "
     "U+FFFD; Windows' code page 1252 conversion, and so Access, gives U+0081 ... U+009D"},
    {Kind::kRowOrder, "V2000/overflowTestV2000.mdb", "Table1", "*",
     "mdb-reader lists a relocated row where its bytes now lie; the row keeps its own slot "
     "(0x4000 pointer), which is where Access and the indexes find it"},
    {Kind::kRowOrder, "V2019/extDateTestV2019.accdb", "Table1", "*",
     "rows 7 and 8 were relocated: mdb-reader lists them after row 9, where their bytes lie"},
    {Kind::kValues, "V2010/calcFieldTestV2010.accdb", "Table1",
     "LastFirst|LastFirstLen|MonthlySalary|IsRich|AllNames|WeeklySalary|SalaryTest|BoolTest|"
     "DecimalTest|FloatTest|BigNumTest",
     "calculated columns: mdb-reader reads the 20-byte wrapper as the value and ignores the "
     "result type Access records (CalculatedValuesAreTheExpressionsResults checks ours)"},
    {Kind::kValues, "V2019/extDateTestV2019.accdb", "Table1", "DateNormalCalc",
     "a calculated Date/Time: mdb-reader reads the wrapper's first 8 bytes (0, 1899-12-30)"},
    {Kind::kColumnOrder, "V2016/withinsertedcol.accdb", "Table1", "*",
     "col3 was inserted before col2: mdb-reader orders by column number (stable, col3 last), "
     "Access by the definition's column order, which the append copies by"},
    {Kind::kColumnOrder, "*", "MSysCompactError", "*",
     "made by Jet with its columns in name order (as Access shows MSys tables); mdb-reader "
     "orders by column number"},
};

bool Matches(const char* pattern, const std::string& text) {
  return std::string(pattern) == "*" || pattern == text;
}

bool ListHolds(const char* list, const std::string& column) {
  if (std::string(list) == "*") return true;
  std::istringstream items(list);
  for (std::string item; std::getline(items, item, '|');) {
    if (item == column) return true;
  }
  return false;
}

const KnownDifference* Known(Kind kind, const std::string& file, const std::string& table,
                             const std::string& column = "*") {
  for (const auto& d : kKnownDifferences) {
    if (d.kind == kind && Matches(d.file, file) && Matches(d.table, table) &&
        ListHolds(d.columns, column)) {
      return &d;
    }
  }
  return nullptr;
}

using corvalin::testing::RunCommand;

std::string Quote(const std::string& text) { return corvalin::testing::ShellQuote(text); }

std::vector<std::string> Lines(const std::string& text) { return corvalin::testing::SplitLines(text); }

// The elements of one JSON array line, as text.
std::vector<std::string> Elements(const std::string& line) {
  std::vector<std::string> items;
  std::string current;
  bool in_string = false;
  for (size_t i = 1; i + 1 < line.size(); ++i) {
    const char c = line[i];
    if (in_string) {
      current += c;
      if (c == '\\' && i + 2 < line.size()) current += line[++i];
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
      current += c;
    } else if (c == ',') {
      items.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (line.size() > 2) items.push_back(current);
  return items;
}

struct ReaderView {
  bool readable = false;
  std::vector<std::string> tables;
  std::map<std::string, std::vector<std::string>> exports;  // empty: mdb-reader failed
};

ReaderView ReadWithMdbReader(const std::string& path, const std::string& password) {
  ReaderView view;
  const auto output = RunCommand("node " + Quote(CORVALIN_SOURCE_DIR "/tests/readers/mdb_reader_view.mjs") +
                          " " + Quote(path) + (password.empty() ? "" : " " + Quote(password)));
  std::vector<std::string>* current = nullptr;
  bool in_tables = false;
  for (const auto& line : Lines(output.out)) {
    if (line == "#tables") {
      view.readable = true;
      in_tables = true;
    } else if (line.rfind("#table ", 0) == 0) {
      in_tables = false;
      current = &view.exports[line.substr(7)];
    } else if (line.rfind("#error", 0) == 0) {
      if (current) current->clear();
      current = nullptr;
    } else if (in_tables) {
      view.tables.push_back(line);
    } else if (current) {
      current->push_back(line);
    }
  }
  return view;
}

// The positions of `names` in `header`, by name; -1 where it has none.
std::vector<int> PositionsByName(const std::vector<std::string>& names,
                                 const std::vector<std::string>& header) {
  std::vector<int> positions;
  for (const auto& name : names) {
    auto it = std::find(header.begin(), header.end(), name);
    positions.push_back(it == header.end() ? -1 : static_cast<int>(it - header.begin()));
  }
  return positions;
}

// Compares one table's export lines, ours against mdb-reader's; the first
// line is the column names.
void CompareTable(const std::string& file, const std::string& table,
                  std::vector<std::string> ours, std::vector<std::string> theirs) {
  ASSERT_FALSE(ours.empty());
  const auto our_columns = Elements(ours[0]);
  const auto their_columns = Elements(theirs[0]);
  std::vector<int> their_position(our_columns.size());
  for (size_t c = 0; c < our_columns.size(); ++c) their_position[c] = static_cast<int>(c);
  if (Known(Kind::kColumnOrder, file, table)) {
    auto a = our_columns, b = their_columns;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    ASSERT_EQ(a, b) << "the columns differ in more than their order";
    EXPECT_NE(ours[0], theirs[0]) << "the order no longer differs: drop the exception";
    their_position = PositionsByName(our_columns, their_columns);
  } else if (ours[0] != theirs[0]) {
    ADD_FAILURE() << "columns differ:\n ours:   " << ours[0] << "\n theirs: " << theirs[0];
    return;
  }
  EXPECT_EQ(ours.size(), theirs.size()) << "row counts differ";
  if (Known(Kind::kRowOrder, file, table)) {
    EXPECT_NE(ours, theirs) << "the row order no longer differs: drop the exception";
    std::sort(ours.begin() + 1, ours.end());
    std::sort(theirs.begin() + 1, theirs.end());
  }
  int reported = 0;
  for (size_t row = 1; row < std::min(ours.size(), theirs.size()) && reported < 3; ++row) {
    const auto a = Elements(ours[row]);
    const auto b = Elements(theirs[row]);
    if (a.size() != our_columns.size() || b.size() != their_columns.size()) {
      ADD_FAILURE() << "row " << row << " has another shape:\n ours:   " << ours[row]
                    << "\n theirs: " << theirs[row];
      ++reported;
      continue;
    }
    for (size_t c = 0; c < a.size(); ++c) {
      const std::string& theirs_value = b[their_position[c]];
      if (a[c] == theirs_value) continue;
      const std::string column = our_columns[c].substr(1, our_columns[c].size() - 2);
      // mdb-reader resolves complex columns to their attachments; the row
      // holds the key, which is what the export prints.
      if (theirs_value == "\"complex\"") continue;
      if (Known(Kind::kValues, file, table, column)) continue;
      ADD_FAILURE() << "row " << row << " column " << column << ": ours " << a[c]
                    << ", mdb-reader " << theirs_value;
      ++reported;
    }
  }
}

TEST(ReaderComparisonTest, CorvalinDbAgreesWithMdbReader) {
  CORVALIN_REQUIRE_CORPUS();
  if (RunCommand("node --version").status != 0) GTEST_SKIP() << "node is not installed";
  if (!std::ifstream(CORVALIN_SOURCE_DIR "/tests/readers/node_modules/mdb-reader/package.json"))
    GTEST_SKIP() << "mdb-reader is not installed (cd tests/readers && npm ci)";
  const std::string corpus = corvalin::testing::CorpusDir();
  const std::string tool = Quote(CORVALIN_BIN_DIR "/corvalin-db");
  const std::vector<corvalin::testing::CorpusFile> manifest = corvalin::testing::CorpusManifest();
  ASSERT_FALSE(manifest.empty()) << "no files in " << corpus << "/MANIFEST.tsv";
  int files_compared = 0;
  for (const corvalin::testing::CorpusFile& corpus_file : manifest) {
    const std::string& file = corpus_file.name;
    const std::string& password = corpus_file.password;
    const std::string path = corpus + "/" + file;
    const ReaderView reader = ReadWithMdbReader(path, password);
    if (!reader.readable) continue;  // mdb-reader cannot read it: nothing to compare
    SCOPED_TRACE(file);
    const std::string password_option = password.empty() ? "" : " --password " + Quote(password);
    const auto tables = RunCommand(tool + " tables " + Quote(path) + password_option);
    ASSERT_EQ(tables.status, 0) << "corvalin-db tables failed on " << file;
    ++files_compared;
    auto ours = Lines(tables.out);
    auto theirs = reader.tables;
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(ours, theirs) << "user tables differ in " << file;

    for (const auto& [table, expected] : reader.exports) {
      if (expected.empty()) continue;  // mdb-reader failed on this table
      SCOPED_TRACE("table " + table);
      const auto exported =
          RunCommand(tool + " export " + Quote(path) + " " + Quote(table) + password_option);
      ASSERT_EQ(exported.status, 0) << "corvalin-db export failed on " << file << " " << table;
      CompareTable(file, table, Lines(exported.out), expected);
    }
  }
  EXPECT_GT(files_compared, 0) << "mdb-reader read no corpus file";
}

// Runs corvalin-db export and returns its lines, or fails the test.
std::vector<std::string> Export(const std::string& relative, const std::string& table) {
  const auto exported = RunCommand(Quote(CORVALIN_BIN_DIR "/corvalin-db") + " export " +
                                   Quote(corvalin::testing::CorpusDir() + "/" + relative) +
                                   " " + Quote(table));
  EXPECT_EQ(exported.status, 0) << "corvalin-db export failed on " << relative;
  return Lines(exported.out);
}

// Where mdb-reader cannot be the judge: the calculated columns hold what
// their expressions give for the row (MonthlySalary = [Salary]/12, a
// Currency; WeeklySalary = [Salary]/52, a Decimal; IsRich = [Salary]>100000;
// AllNames = [LastName] & ", " & [FirstName] & "=" & [LastFirst], a Memo;
// FloatTest = [Salary]*0.13/[DecimalTest], a Single), the values Jackcess'
// own tests expect for this file too.
TEST(CorpusValuesTest, CalculatedValuesAreTheExpressionsResults) {
  CORVALIN_REQUIRE_CORPUS();
  const std::vector<std::string> expected = {
      "[\"ID\",\"FirstName\",\"LastName\",\"LastFirst\",\"City\",\"LastFirstLen\",\"Salary\",\""
          "MonthlySalary\",\"IsRich\",\"AllNames\",\"WeeklySalary\",\"SalaryTest\",\"BoolTest\",\"P"
          "opularity\",\"DecimalTest\",\"FloatTest\",\"BigNumTest\"]",
      "[1,\"Bruce\",\"Wayne\",\"Wayne, Bruce\",\"Gotham\",12,\"1000000.0000\",\"83333.3333\",tr"
          "ue,\"Wayne, Bruce=Wayne, Bruce\",\"19230.7692307692\",\"1000000.0000\",true,\"50.325000"
          "\",\"50.325000\",2583.2092,\"56505085819.424791296572280180\"]",
      "[2,\"Bart\",\"Simpson\",\"Simpson, Bart\",\"Springfield\",13,\"-1.0000\",\"-0.0833\",fal"
          "se,\"Simpson, Bart=Simpson, Bart\",\"-0.0192307692307692\",\"-1.0000\",true,\"-36.222200"
          "\",\"-36.222200\",0.0035889593,\"-0.0784734499180612994241100748\"]",
      "[3,\"John\",\"Doe\",\"Doe, John\",\"Nowhere\",9,\"0.0000\",\"0.0000\",false,\"Doe, John="
          "Doe, John\",\"0\",\"0.0000\",true,\"0.012300\",\"0.012300\",0,\"0.00000000\"]",
      "[4,\"Test\",\"User\",\"User, Test\",\"Hockessin\",10,\"100.0000\",\"8.3333\",false,\"Use"
          "r, Test=User, Test\",\"1.92307692307692\",\"100.0000\",true,\"102030405060.654321\",\"10"
          "2030405060.654321\",1.27413e-10,\"0.0000002787019289824216980830\"]"};
  EXPECT_EQ(Export("V2010/calcFieldTestV2010.accdb", "Table1"), expected);
}

// col3 was inserted before col2 in Access: the field order is col1 col3 col2.
TEST(CorpusValuesTest, AnInsertedColumnTakesItsPlaceInTheFieldOrder) {
  CORVALIN_REQUIRE_CORPUS();
  const std::vector<std::string> expected = {"[\"col1\",\"col3\",\"col2\"]",
                                             "[true,false,true]"};
  EXPECT_EQ(Export("V2016/withinsertedcol.accdb", "Table1"), expected);
}

}  // namespace
