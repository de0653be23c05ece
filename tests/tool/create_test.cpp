// `corvalin-db create` end to end: new databases of each format from a
// schema, read back by our reader, mdb-reader and mdbtools; the same input
// gives the same bytes; schemas at fault leave no file; and a created
// database grown to 100,000 rows stays consistent.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/command.h"
#include "tests/support/corpus.h"
#include "tests/support/readers.h"

namespace corvalin::testing {
namespace {

namespace fs = std::filesystem;

std::string Write(const std::string& name, const std::string& text) {
  const std::string path = (fs::path(TempDir()) / name).string();
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

CommandResult Create(const std::string& file, const std::string& format,
                     const std::string& schema, const std::string& extra = {}) {
  return RunCommand(Tool() + " create " + Quote(file) + " --format " + format + " --date " +
                    "2021-08-31T12:00:00 --schema " + Quote(schema) + extra);
}

// Every type the formats hold, every kind of index, and rows written in
// exactly the form an export prints them, so the export must give them back.
struct Everything {
  std::string header, schema;
  std::vector<std::string> rows;
};

Everything EverythingSchema(bool bigint) {
  Everything e;
  e.header =
      "[\"id\",\"flag\",\"small\",\"count\",\"amount\",\"price\",\"ratio\",\"measure\","
      "\"stamp\",\"name\",\"notes\",\"picture\",\"code\",\"uid\",\"dec\"";
  std::string columns =
      R"({"name": "id", "type": "autonumber"},
         {"name": "flag", "type": "boolean"},
         {"name": "small", "type": "byte"},
         {"name": "count", "type": "integer"},
         {"name": "amount", "type": "long"},
         {"name": "price", "type": "currency"},
         {"name": "ratio", "type": "single"},
         {"name": "measure", "type": "double"},
         {"name": "stamp", "type": "datetime"},
         {"name": "name", "type": "text", "size": 40, "required": true},
         {"name": "notes", "type": "memo"},
         {"name": "picture", "type": "ole"},
         {"name": "code", "type": "binary", "size": 8},
         {"name": "uid", "type": "guid"},
         {"name": "dec", "type": "decimal", "precision": 10, "scale": 2})";
  const std::string long_memo(3000, 'm');
  e.rows = {
      "[1,true,255,-32768,2147483647,\"922337203685477.5807\",1.5,0.1,\"2021-08-31T12:00:00\","
      "\"Zo\xC3\xAB & Co\",\"a short memo\",\"0x0102\",\"0xff00\","
      "\"{6F9619FF-8B86-D011-B42D-00C04FC964FF}\",\"-12345678.90\"",
      "[2,false,0,0,-5,\"-0.0001\",-0.25,1e+300,\"1899-12-29T06:00:00\","
      "\"\xE6\x9D\xB1\xE4\xBA\xAC\",\"" + long_memo + "\",null,\"0x00\",null,\"0.00\"",
      "[3,false,null,null,null,null,null,null,null,\"third\",null,null,null,null,null",
  };
  if (bigint) {
    e.header += ",\"big\"";
    columns += R"(, {"name": "big", "type": "bigint"})";
    e.rows[0] += ",-9223372036854775808";
    e.rows[1] += ",9223372036854775807";
    e.rows[2] += ",null";
  }
  e.header += "]";
  std::string rows;
  for (auto& row : e.rows) {
    row += "]";
    rows += (rows.empty() ? "" : ",\n") + row;
  }
  e.schema = R"({"tables": [
    {"name": "Everything", "columns": [)" + columns + R"(],
     "indexes": [
       {"name": "PrimaryKey", "columns": ["id"], "primary": true},
       {"name": "name", "columns": ["name"], "unique": true},
       {"name": "AmountStamp", "columns": ["amount", "stamp"], "descending": [false, true]},
       {"name": "small", "columns": ["small"]},
       {"name": "price", "columns": ["price"]},
       {"name": "ratio", "columns": ["ratio", "measure"]},
       {"name": "uid", "columns": ["uid"]},
       {"name": "dec", "columns": ["dec"], "descending": [true]},
       {"name": "flag", "columns": ["flag", "count"]}],
     "rows": [)" + rows + R"(]},
    {"name": "Plain", "columns": [
       {"name": "num", "type": "long"},
       {"name": "label", "type": "text", "size": 20},
       {"name": "note", "type": "memo"}],
     "indexes": [{"name": "label", "columns": ["label"]}],
     "rows": [[7, "seven", null], [8, "eight", "an eight"], [7, "seven", "again"]]},
    {"name": "Empty", "columns": [{"name": "only", "type": "text"}]}
  ]})";
  return e;
}

class CreateFormats : public ::testing::TestWithParam<const char*> {};

INSTANTIATE_TEST_SUITE_P(Formats, CreateFormats, ::testing::Values("jet4", "ace12", "ace16"));

TEST_P(CreateFormats, EveryTypeAndIndexReadsBackForEveryReader) {
  const std::string format = GetParam();
  const bool ace16 = format == "ace16";
  const Everything e = EverythingSchema(ace16);
  const std::string schema = Write("schema.json", e.schema);
  const std::string ext = format == "jet4" ? ".mdb" : ".accdb";
  const std::string file = (fs::path(TempDir()) / ("new" + ext)).string();
  auto made = Create(file, format, schema);
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(ToolCheck(file), "");

  auto tables = RunCommand(Tool() + " tables " + Quote(file));
  EXPECT_EQ(tables.out, "Empty\nEverything\nPlain\n");
  std::vector<std::string> expected{e.header};
  expected.insert(expected.end(), e.rows.begin(), e.rows.end());
  EXPECT_EQ(ToolExport(file, "Everything"), expected);
  EXPECT_EQ(ToolExport(file, "Empty"), std::vector<std::string>{"[\"only\"]"});

  if (HaveMdbReader()) {
    EXPECT_EQ(MdbReaderExport(file, "Everything"), expected);
    EXPECT_EQ(MdbReaderExport(file, "Plain"), ToolExport(file, "Plain"));
  }
  if (!ace16) {  // mdbtools does not know the BigInt type
    EXPECT_EQ(MdbToolsRows(file, "Everything"), 3);
    auto listed = RunCommand("mdb-tables -1 " + Quote(file));
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "Everything\nPlain\nEmpty\n");
  }

  // The same input and date give the same bytes.
  const std::string again = (fs::path(TempDir()) / ("again" + ext)).string();
  ASSERT_EQ(Create(again, format, schema).status, 0);
  EXPECT_TRUE(Bytes(file) == Bytes(again)) << "two creates differ";

  // The new tables take appended rows like any other.
  auto run = RunCommand(Tool() + " append " + Quote(file) + " Plain " + Quote(file) + " Plain");
  EXPECT_EQ(run.out, "added 3, refused 0\n") << run.err;
  EXPECT_EQ(ToolCheck(file), "");
  EXPECT_EQ(ToolExport(file, "Plain").size(), 7u);
  run = RunCommand(Tool() + " append " + Quote(file) + " Everything " + Quote(file) +
                   " Everything");
  EXPECT_EQ(run.out, "added 0, refused 3\n") << "the primary key refuses every copy";
  EXPECT_EQ(ToolCheck(file), "");
}

TEST(CreateCommand, PasswordProtectedJet4) {
  const std::string schema = Write("s.json", R"({"tables": [{"name": "T",
      "columns": [{"name": "a", "type": "text"}], "rows": [["secret row"]]}]})");
  const std::string file = (fs::path(TempDir()) / "locked.mdb").string();
  auto made = Create(file, "jet4", schema, " --password 'pa ss'");
  ASSERT_EQ(made.status, 0) << made.err;
  auto refused = RunCommand(Tool() + " export " + Quote(file) + " T");
  EXPECT_NE(refused.status, 0) << "no password, no rows";
  auto read = RunCommand(Tool() + " export " + Quote(file) + " T --password 'pa ss'");
  EXPECT_EQ(read.out, "[\"a\"]\n[\"secret row\"]\n");
  EXPECT_EQ(RunCommand(Tool() + " check " + Quote(file) + " --password 'pa ss'").status, 0);
  if (HaveMdbReader()) {
    EXPECT_EQ(MdbReaderExport(file, "T", "pa ss"),
              (std::vector<std::string>{"[\"a\"]", "[\"secret row\"]"}));
  }
  auto ace = Create((fs::path(TempDir()) / "x.accdb").string(), "ace12", schema, " --password p");
  EXPECT_EQ(ace.status, 2) << "only Jet4 takes a database password";
}

TEST(CreateCommand, SchemasAtFaultAreNamedAndLeaveNoFile) {
  struct Case {
    const char* schema;
    const char* says;
  };
  const Case cases[] = {
      {R"({"tables": [{"name": "T", "columns": [{"name": "a", "type": "texts"}]}]})",
       "unknown type \"texts\""},
      {R"({"tables": [{"name": "T", "columns": [{"name": "a", "type": "text", "requird": true}]}]})",
       "unknown member \"requird\""},
      {R"({"tables": [{"name": "T", "columns": [{"name": "a", "type": "text", "size": 300}]}]})",
       "from 1 to 255"},
      {R"({"tables": [{"name": "T", "columns": [{"name": "a", "type": "long"}],
          "indexes": [{"name": "i", "columns": ["b"]}]}]})",
       "unknown column b"},
      {R"({"tables": [{"name": "T", "columns": [{"name": "a", "type": "long"}],
          "rows": [[1], [2, 3]]}]})",
       "row 2 of table T"},
      {R"({"tables": [{"name": "T", "columns": [{"name": "a", "type": "long"}],
          "rows": [["one"]]}]})",
       "column a of table T"},
      {R"({"tables": [{"name": "T", "columns": [{"name": "a", "type": "text", "size": 3}],
          "rows": [["four"]]}]})",
       "row 1 of table T"},
      {R"({"tables": [{"name": "T", "columns": [{"name": "a", "type": "long"}],
          "indexes": [{"name": "k", "columns": ["a"], "primary": true}],
          "rows": [[1], [1]]}]})",
       "row 2 of table T"},
      {R"({"tables": [{"name": "T", "columns": [{"name": "a", "type": "bigint"}]}]})",
       "ace16"},
      {R"({"tables": [{"name": "T", "columns": []}]})", "no columns"},
      {R"({"tables": [{"name": "T", "columns": [{"name": "a", "type": "long"}]},
                      {"name": "t", "columns": [{"name": "a", "type": "long"}]}]})",
       "given twice"},
      {R"({"tables": [)", "JSON line 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.schema);
    const std::string schema = Write("bad.json", c.schema);
    const std::string file = (fs::path(TempDir()) / "bad.mdb").string();
    auto made = Create(file, "jet4", schema);
    EXPECT_EQ(made.status, 1);
    EXPECT_NE(made.err.find(c.says), std::string::npos) << made.err;
    EXPECT_FALSE(fs::exists(file)) << "a failed create leaves no file";
  }
  const std::string schema = Write("ok.json", R"({"tables": []})");
  const std::string file = (fs::path(TempDir()) / "there.mdb").string();
  std::ofstream(file) << "keep me";
  EXPECT_EQ(Create(file, "jet4", schema).status, 1);
  EXPECT_EQ(Bytes(file), "keep me") << "create never overwrites a file";
  EXPECT_EQ(Create(file + "2", "jet5", schema).status, 2);
  auto bad_date = RunCommand(Tool() + " create " + Quote(file + "3") +
                             " --format jet4 --date 2021-13-01T00:00:00 --schema " + Quote(schema));
  EXPECT_EQ(bad_date.status, 2);
}

// A created database grown to 100,000 rows by appending, then appended to
// from an Access-made file, stays consistent for every reader.
TEST(CreateCommand, HundredThousandAppendedRows) {
  std::string rows;
  for (int i = 0; i < 12500; ++i) {
    rows += (i ? ",\n" : "") + std::string("[") + std::to_string(i % 977) + ",\"name " +
            std::to_string(i) + "\",\"note " + std::to_string(i * 7) + "\"]";
  }
  const std::string schema = Write("big.json", R"({"tables": [{"name": "Big", "columns": [
      {"name": "id", "type": "long"}, {"name": "name", "type": "text", "size": 55},
      {"name": "note", "type": "memo"}],
      "indexes": [{"name": "id", "columns": ["id"]}, {"name": "name", "columns": ["name"]}],
      "rows": [)" + rows + "]}]}");
  const std::string file = (fs::path(TempDir()) / "big.accdb").string();
  auto made = Create(file, "ace12", schema);
  ASSERT_EQ(made.status, 0) << made.err;
  for (int i = 0; i < 3; ++i) {
    auto run = RunCommand(Tool() + " append " + Quote(file) + " Big " + Quote(file) + " Big");
    ASSERT_EQ(run.status, 0) << run.err;
  }
  EXPECT_EQ(ToolCheck(file), "");
  long expected = 100000;
  if (!CorpusDir().empty()) {
    // Three columns of the same kinds: Long, Text(55), Text(55).
    const std::string source = CopyOfCorpusFile("V2010/compIndexTestV2010.accdb");
    auto run = RunCommand(Tool() + " append " + Quote(source) + " Table1 " + Quote(file) + " Big");
    EXPECT_EQ(run.out, "added 512, refused 0\n") << run.err;
    expected += 512;
    EXPECT_EQ(ToolCheck(file), "");
  }
  EXPECT_EQ(static_cast<long>(ToolExport(file, "Big").size()) - 1, expected);
  EXPECT_EQ(MdbToolsRows(file, "Big"), expected);
  if (HaveMdbReader()) {
    EXPECT_EQ(static_cast<long>(MdbReaderExport(file, "Big").size()) - 1, expected);
  }
}

}  // namespace
}  // namespace corvalin::testing
