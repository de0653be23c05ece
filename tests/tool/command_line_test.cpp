// corvalin-db with the habits of a command-line tool: --version, --help and
// help COMMAND, usage errors that say what was wrong, the exit statuses of
// append, its progress on a terminal (and nothing extra in a pipe), and the
// CSV export read back by a CSV reader that is not ours.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/command.h"
#include "tests/support/corpus.h"
#include "tests/support/fixture.h"
#include "tests/support/readers.h"

namespace corvalin::testing {
namespace {

namespace fs = std::filesystem;

CommandResult Db(const std::string& arguments) { return RunCommand(Tool() + " " + arguments); }

TEST(ToolCommandLineTest, VersionAndHelpGoToStandardOutput) {
  const auto version = Db("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "corvalin-db 7.00\n");
  EXPECT_EQ(version.err, "");

  for (const char* help : {"--help", "-h", "help"}) {
    const auto all = Db(help);
    EXPECT_EQ(all.status, 0) << help;
    EXPECT_EQ(all.err, "") << help;
    for (const char* command : {"tables", "export", "check", "append", "create"})
      EXPECT_NE(all.out.find(std::string("corvalin-db ") + command + " "), std::string::npos)
          << help << " " << command;
  }
  // One command's help is the same whichever way it is asked for.
  const auto one = Db("help append");
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.out.rfind("usage: corvalin-db append SRC TABLE DST TABLE", 0), 0u) << one.out;
  EXPECT_NE(one.out.find("3 when some"), std::string::npos) << one.out;
  EXPECT_EQ(Db("append --help").out, one.out);
  EXPECT_EQ(Db("help export").out.find("--csv") != std::string::npos, true);
}

TEST(ToolCommandLineTest, UsageErrorsSayWhatWasWrong) {
  struct Case {
    const char* arguments;
    const char* message;
  } cases[] = {
      {"list x.mdb", "unknown command 'list'"},
      {"help list", "unknown command 'list'"},
      {"tables x.mdb --pw", "unknown option '--pw'"},
      {"tables x.mdb --csv", "tables takes no option --csv"},
      {"tables x.mdb --password", "--password needs a value"},
      {"export x.mdb", "export needs TABLE"},
      {"append a.mdb T b.mdb", "append needs TABLE"},
      {"check a.mdb b.mdb", "too many arguments for check: 'b.mdb'"},
      {"create x.mdb --format jet4", "create needs --schema"},
      {"export x.mdb T --csv=yes", "--csv takes no value"},
      {"--version tables x.mdb", "--version takes nothing else"},
      {"", "no command given"},
  };
  for (const Case& c : cases) {
    const auto result = Db(c.arguments);
    EXPECT_EQ(result.status, 2) << c.arguments;
    EXPECT_EQ(result.out, "") << c.arguments;
    EXPECT_EQ(result.err.rfind(std::string("corvalin-db: ") + c.message + "\n", 0), 0u)
        << c.arguments << ": " << result.err;
    EXPECT_NE(result.err.find("usage: corvalin-db"), std::string::npos) << c.arguments;
  }
  // Options may stand anywhere and take their value with "=" too; "--" ends
  // them, so a file whose name starts with a dash can be named.
  const std::string file = TypesTableFile("types.mdb");
  EXPECT_EQ(Db("--password= tables " + Quote(file)).status, 0);
  const fs::path dashed = fs::path(file).parent_path() / "-dashed.mdb";
  fs::copy_file(file, dashed);
  const auto named = RunCommand("cd " + Quote(dashed.parent_path().string()) + " && " + Tool() +
                                " tables -- -dashed.mdb");
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(named.out.rfind("Table1\n", 0), 0u);
}

// Customers with a primary key, and new customers of which one repeats a
// key already there.
std::string KeyedPair() {
  TableData target{{"Customers",
                    {Column("ID", engine::DataType::kLong), TextColumn("Name")},
                    {Index("PrimaryKey", {"ID"}, true)}},
                   {{int32_t{1}, std::string("Anna")}, {int32_t{2}, std::string("Berta")}}};
  TableData fresh{{"Fresh", {Column("ID", engine::DataType::kLong), TextColumn("Name")}, {}},
                  {{int32_t{3}, std::string("Carl")}, {int32_t{4}, std::string("Dora")}}};
  TableData clash{{"Clash", {Column("ID", engine::DataType::kLong), TextColumn("Name")}, {}},
                  {{int32_t{5}, std::string("Emil")}, {int32_t{1}, std::string("Anna again")}}};
  TableData narrow{{"Narrow", {Column("ID", engine::DataType::kLong)}, {}}, {{int32_t{9}}}};
  return MakeDatabase("keyed.mdb", {target, fresh, clash, narrow});
}

std::string LastLine(const std::string& text) {
  const auto lines = SplitLines(text);
  return lines.empty() ? "" : lines.back();
}

TEST(ToolCommandLineTest, AppendExitStatusSaysHowTheRunEnded) {
  const std::string path = KeyedPair();
  const std::string file = Quote(path);
  const auto all = Db("append " + file + " Fresh " + file + " Customers");
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out, "added 2, refused 0\n");
  EXPECT_EQ(all.err, "");

  const auto some = Db("append " + file + " Clash " + file + " Customers");
  EXPECT_EQ(some.status, 3) << some.err;
  EXPECT_EQ(some.out, "added 1, refused 1\n");
  EXPECT_NE(some.err.find("record 2 refused: error 3022"), std::string::npos) << some.err;

  // Errors that stop the run still end with the count.
  for (const std::string& stopped : {"append " + file + " Narrow " + file + " Customers",
                                     "append " + file + " Nope " + file + " Customers",
                                     "append /nonexistent/a.mdb T " + file + " Customers"}) {
    const auto result = Db(stopped);
    EXPECT_EQ(result.status, 1) << stopped;
    EXPECT_EQ(LastLine(result.out), "added 0, refused 0") << stopped;
    EXPECT_NE(result.err.find("corvalin-db: "), std::string::npos) << stopped;
  }
  EXPECT_EQ(Db("append " + file + " Fresh " + file).status, 2);
  EXPECT_EQ(ToolCheck(path), "");
}

TEST(ToolCommandLineTest, AppendStoppedByAWriteErrorEndsWithTheCountSoFar) {
  // The target and its log may grow to 64 KiB past the target's size only:
  // a write past that fails (EFBIG, with the signal for it ignored) in the
  // middle of the run.
  TableData source{{"Src", {Column("id", engine::DataType::kLong), TextColumn("t", 255)}, {}}, {}};
  for (int32_t i = 0; i < 2000; ++i) source.rows.push_back({i, std::string(200, 'x') + std::to_string(i)});
  TableData target{{"Dst", {Column("id", engine::DataType::kLong), TextColumn("t", 255)}, {}}, {}};
  const std::string from = MakeDatabase("source.mdb", {source});
  const std::string path = MakeDatabase("full.mdb", {target});
  const auto limit = (fs::file_size(path) + 65536) / 1024;
  const auto run = RunCommand("bash -c " + Quote("trap '' XFSZ; ulimit -f " + std::to_string(limit) +
                                                 "; exec " + Tool() + " append " + Quote(from) +
                                                 " Src " + Quote(path) + " Dst"));
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_NE(run.err.find("full.mdb"), std::string::npos) << "names the file: " << run.err;
  const std::string last = LastLine(run.out);
  long added = -1;
  ASSERT_EQ(std::sscanf(last.c_str(), "added %ld, refused 0", &added), 1) << last;
  EXPECT_GT(added, 0);
  EXPECT_LT(added, 2000);
  // What was added before the error stays, and the file is whole.
  EXPECT_EQ(ToolCheck(path), "");
  EXPECT_EQ(static_cast<long>(ToolExport(path, "Dst").size()), added + 1);
}

TEST(ToolCommandLineTest, AppendShowsProgressOnATerminalOnly) {
  if (RunCommand("script --version").status != 0) GTEST_SKIP() << "no script(1)";
  const std::string file = Quote(KeyedPair());
  const std::string append = Tool() + " append " + file + " Fresh " + file + " Clash";
  // Under a pseudo-terminal: the line is drawn with a carriage return and
  // cleared again before the count.
  const auto terminal = RunCommand("script -qec " + Quote(append) + " /dev/null");
  EXPECT_EQ(terminal.status, 0) << terminal.err;
  EXPECT_NE(terminal.out.find("\r  0%  0 of 2 rows\033[K"), std::string::npos) << terminal.out;
  EXPECT_NE(terminal.out.find("\r\033[Kadded 2, refused 0"), std::string::npos) << terminal.out;
  // In a pipe: nothing but the count and the messages.
  const auto pipe = RunCommand(append + " 2>&1 | cat");
  EXPECT_EQ(pipe.out, "added 2, refused 0\n");
}

TEST(ToolCommandLineTest, CsvExportReadsBackAsTheJsonValues) {
  if (RunCommand("python3 --version").status != 0) GTEST_SKIP() << "no python3";
  const fs::path folder = fs::path(TempDir()) / "csv";
  fs::create_directories(folder);
  const std::string schema = (folder / "schema.json").string();
  std::ofstream(schema) << R"({"tables": [{"name": "Mixed", "columns": [
      {"name": "id", "type": "autonumber"}, {"name": "flag", "type": "boolean"},
      {"name": "price", "type": "currency"}, {"name": "ratio", "type": "double"},
      {"name": "stamp", "type": "datetime"}, {"name": "name, full", "type": "text"},
      {"name": "notes", "type": "memo"}, {"name": "raw", "type": "binary", "size": 8},
      {"name": "uid", "type": "guid"}, {"name": "dec", "type": "decimal", "precision": 10, "scale": 3}],
    "rows": [
      [null, true, "12.3400", 0.1, "2024-03-01T09:30:00.250", "Vogt, \"der\" AG", "two\r\nlines", "0x00ff", "{6F9619FF-8B86-D011-B42D-00C04FC964FF}", "-1.500"],
      [null, false, null, 1e+300, null, "", null, null, null, null],
      [null, false, "-0.0001", -2.5e-7, "1899-12-30T00:00:00", "Åsa Ødegård", "x", "0x", null, "0.000"]]}]})";
  const std::string db = (folder / "mixed.mdb").string();
  ASSERT_EQ(Db("create " + Quote(db) + " --format jet4 --schema " + Quote(schema)).status, 0);
  const auto json = Db("export " + Quote(db) + " Mixed");
  const auto csv = Db("export " + Quote(db) + " Mixed --csv");
  ASSERT_EQ(json.status, 0) << json.err;
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_NE(csv.out.find("\"Vogt, \"\"der\"\" AG\""), std::string::npos) << csv.out;
  std::ofstream(folder / "export.json", std::ios::binary) << json.out;
  std::ofstream(folder / "export.csv", std::ios::binary) << csv.out;
  // The JSON numbers keep their text; true/false and null take the forms a
  // CSV field has.
  const std::string script = R"(
import csv, json, sys
folder = sys.argv[1]
with open(folder + '/export.json', encoding='utf-8') as f:
    rows = [json.loads(line, parse_int=str, parse_float=str) for line in f]
with open(folder + '/export.csv', newline='', encoding='utf-8') as f:
    read = list(csv.reader(f, strict=True))
def form(v):
    return '' if v is None else ('true' if v is True else 'false' if v is False else v)
want = [[form(v) for v in row] for row in rows]
if read != want:
    print('csv:', read)
    print('json:', want)
    sys.exit(1)
print(len(read))
)";
  std::ofstream(folder / "compare.py") << script;
  const auto compared = RunCommand("python3 " + Quote((folder / "compare.py").string()) + " " +
                                   Quote(folder.string()));
  EXPECT_EQ(compared.status, 0) << compared.out << compared.err;
  EXPECT_EQ(compared.out, "4\n");
}

}  // namespace
}  // namespace corvalin::testing
