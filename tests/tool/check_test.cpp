// corvalin-db check: consistent on the Access-made corpus, and a clear
// problem line with exit status 1 on copies damaged on purpose.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "db/engine/error.h"
#include "db/engine/format/check.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/database.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"
#include "tests/support/command.h"
#include "tests/support/corpus.h"
#include "tests/support/file_bytes.h"
#include "tests/support/fixture.h"

namespace corvalin::engine {
namespace {

namespace fs = std::filesystem;

using Result = testing::CommandResult;

Result Check(const std::string& file, const std::string& options = "") {
  return testing::RunCommand(CORVALIN_BIN_DIR "/corvalin-db check " + testing::ShellQuote(file) +
                             options);
}

std::vector<uint8_t> Le32(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// A table of the file with rows and an index whose root is a leaf holding
// at least two entries.
struct Target {
  std::string table;
  uint32_t tdef_page = 0, row_count = 0, leaf = 0, other_tdef = 0;
  uint32_t page_size = 0;
  uint16_t row_count_offset = 0;
  bool jet3 = false;
};

Target FindTarget(const std::string& path) {
  Target t;
  auto db = Database::Open(path, {});
  const JetFormat& format = db->format();
  t.page_size = format.page_size;
  t.row_count_offset = format.tdef_row_count_offset;
  t.jet3 = !format.unicode_text;
  for (const CatalogEntry& c : db->Catalog()) {
    if ((c.type & 0x7FFF) != 1 || (c.flags & 0x80000002u)) continue;
    auto table = db->ReadTableDef(c.name);
    if (t.table.empty()) {
      for (const IndexDef& index : table->indexes) {
        IndexPage root = DecodeIndexPage(*db->file().Read(index.first_page), format, path,
                                         index.first_page);
        if (root.leaf && root.entries.size() >= 2 && table->row_count >= 2) {
          t.table = c.name;
          t.tdef_page = table->page;
          t.row_count = table->row_count;
          t.leaf = index.first_page;
          break;
        }
      }
    } else if (!t.other_tdef) {
      t.other_tdef = table->page;
    }
  }
  return t;
}

// A recorded row count below the live rows is accepted only where an index
// that holds every row vouches for each of them (Access leaves such counts);
// in a table without one, the rows beyond the count are rows no save
// recorded.
TEST(CheckTest, RowsBeyondTheRecordedCountNeedAnIndexThatHoldsEveryRow) {
  using testing::Column;
  using testing::Index;
  const std::vector<std::vector<Value>> rows = {{int32_t(1), std::string("a")},
                                                {int32_t(2), std::string("b")},
                                                {int32_t(3), Null{}}};
  auto table = [&](const char* name, std::vector<NewIndex> indexes) {
    return testing::TableData{
        {name, {Column("ID", DataType::kLong), testing::TextColumn("Name")}, std::move(indexes)}, rows};
  };
  const std::string path = testing::MakeDatabase(
      "counts.mdb", {table("Keyed", {Index("PrimaryKey", {"ID"}, true)}), table("Plain", {})});
  {
    auto db = Database::Open(path, {});
    for (const char* name : {"Keyed", "Plain"})
      testing::OverwriteFileBytes(path, uint64_t(db->ReadTableDef(name)->page) * db->format().page_size +
                           db->format().tdef_row_count_offset,
                 Le32(2));
  }
  Result r = Check(path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find("table Keyed"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("table Plain records 2 rows, but 3 rows are live"), std::string::npos)
      << r.out;
}

TEST(CheckTest, AccessMadeFilesAreConsistent) {
  CORVALIN_REQUIRE_CORPUS();
  // calcFieldTestV2010.accdb records 3 rows for a table with 4 live rows
  // (and 4 entries in each index): a count Access left behind, not a fault.
  size_t files = 0;
  for (const auto& de : fs::recursive_directory_iterator(testing::CorpusDir())) {
    std::string path = de.path().string();
    if (!de.is_regular_file() || path.find("/encrypted/") != std::string::npos) continue;
    if (de.path().extension() != ".mdb" && de.path().extension() != ".accdb") continue;
    ++files;
    Result r = Check(path);
    EXPECT_EQ(r.status, 0) << path << "\n" << r.out << r.err;
  }
  EXPECT_GT(files, 60u);
  Result pw = Check(testing::CorpusDir() + "/encrypted/V2000_with-password.mdb", " --password password");
  EXPECT_EQ(pw.status, 0) << pw.out << pw.err;
  Result missing = Check("/nonexistent/where.mdb");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("where.mdb"), std::string::npos) << missing.err;
}

class DamagedCopy : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const std::string name = GetParam();
    if (name.find('/') == std::string::npos) {
      path_ = testing::KeyedTablesFile(name);
    } else {
      // Access 97 files we cannot make ourselves.
      if (testing::CorpusDir().empty()) GTEST_SKIP() << "the corpus is not here";
      path_ = testing::CopyOfCorpusFile(name);
    }
    target_ = FindTarget(path_);
    ASSERT_FALSE(target_.table.empty()) << "no table to damage in " << GetParam();
    ASSERT_EQ(Check(path_).status, 0);
  }
  std::string path_;
  Target target_;
};

TEST_P(DamagedCopy, WrongRowCount) {
  testing::OverwriteFileBytes(path_, uint64_t(target_.tdef_page) * target_.page_size + target_.row_count_offset,
             Le32(target_.row_count + 1));
  Result r = Check(path_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("table " + target_.table + " records " +
                       std::to_string(target_.row_count + 1) + " rows, but " +
                       std::to_string(target_.row_count) + " rows are live"),
            std::string::npos)
      << r.out;
}

TEST_P(DamagedCopy, IndexEntryRemoved) {
  // Clearing the end mark of the leaf's last entry drops that entry.
  const size_t mask = target_.jet3 ? 22 : 27, mask_size = target_.jet3 ? 226 : 453;
  std::vector<uint8_t> page(target_.page_size);
  {
    std::ifstream f(path_, std::ios::binary);
    f.seekg(std::streamoff(uint64_t(target_.leaf) * target_.page_size));
    f.read(reinterpret_cast<char*>(page.data()), std::streamsize(page.size()));
  }
  size_t last = mask + mask_size;
  while (last > mask && page[last - 1] == 0) --last;
  ASSERT_GT(last, mask);
  uint8_t& byte = page[last - 1];
  for (int b = 7; b >= 0; --b)
    if (byte & (1 << b)) {
      byte = uint8_t(byte & ~(1 << b));
      break;
    }
  testing::OverwriteFileBytes(path_, uint64_t(target_.leaf) * target_.page_size + (last - 1), {byte});
  Result r = Check(path_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("of table " + target_.table + " has no entry for 1 rows"),
            std::string::npos)
      << r.out;
}

TEST_P(DamagedCopy, PageClaimedTwice) {
  ASSERT_NE(target_.other_tdef, 0u);
  // The table's definition now continues onto another table's definition.
  testing::OverwriteFileBytes(path_, uint64_t(target_.tdef_page) * target_.page_size + 4,
             Le32(target_.other_tdef));
  Result r = Check(path_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("page " + std::to_string(target_.other_tdef) +
                       " is claimed by the definition of"),
            std::string::npos)
      << r.out;
}

TEST_P(DamagedCopy, UsedPageMarkedFree) {
  // Page 1 row 0 of these files is an inline map; set the bit of the
  // table's definition page.
  auto db = Database::Open(path_, {});
  const JetFormat& format = db->format();
  PagePtr p1 = db->file().Read(1);
  const auto& pg = *p1;
  size_t row0 = (pg[format.data_rows_offset] | pg[format.data_rows_offset + 1] << 8) & 0x1FFF;
  ASSERT_EQ(pg[row0], 0) << "not an inline global map";
  uint32_t first = pg[row0 + 1] | pg[row0 + 2] << 8 | pg[row0 + 3] << 16 |
                   uint32_t(pg[row0 + 4]) << 24;
  ASSERT_GE(target_.tdef_page, first);
  size_t bit = target_.tdef_page - first;
  size_t at = row0 + 5 + bit / 8;
  uint8_t byte = uint8_t(pg[at] | (1 << (bit % 8)));
  db.reset();
  testing::OverwriteFileBytes(path_, uint64_t(format.page_size) + at, {byte});
  Result r = Check(path_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("page " + std::to_string(target_.tdef_page) +
                       " is used by the definition of table " + target_.table +
                       " but marked free in the global usage map (write rule 3)"),
            std::string::npos)
      << r.out;
}

TEST_P(DamagedCopy, DataPageLeftOutOfItsMap) {
  auto db = Database::Open(path_, {});
  auto table = db->ReadTableDef(target_.table);
  std::vector<RowId> rows = db->ListRows(*table);
  ASSERT_FALSE(rows.empty());
  uint32_t data_page = rows[0].page;
  RowPointer ptr = DecodeRowPointer(table->owned_pages_map);
  ResolvedRow map = ReadRowAt(db->file(), db->format(), ptr.page, ptr.row);
  ASSERT_EQ(map.bytes[0], 0) << "not an inline map";
  uint32_t first = map.bytes[1] | map.bytes[2] << 8 | map.bytes[3] << 16 |
                   uint32_t(map.bytes[4]) << 24;
  size_t bit = data_page - first;
  size_t in_page = size_t(map.bytes.data() - map.page->data()) + 5 + bit / 8;
  uint8_t byte = uint8_t((*map.page)[in_page] & ~(1 << (bit % 8)));
  uint64_t at = uint64_t(map.page_number) * target_.page_size + in_page;
  map = {};
  db.reset();
  testing::OverwriteFileBytes(path_, at, {byte});
  Result r = Check(path_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("page " + std::to_string(data_page) + " is a data page of table " +
                       target_.table + " that neither"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("which is not a live row"), std::string::npos) << r.out;
}

TEST_P(DamagedCopy, FreeSpaceOverstated) {
  auto db = Database::Open(path_, {});
  const JetFormat& format = db->format();
  auto table = db->ReadTableDef(target_.table);
  const uint32_t data_page = db->ListRows(*table).at(0).page;
  PagePtr page = db->file().Read(data_page);
  const size_t at = format.data_free_space_offset;
  const uint16_t free = uint16_t((*page)[at] | (*page)[at + 1] << 8);
  db.reset();
  testing::OverwriteFileBytes(path_, uint64_t(data_page) * target_.page_size + at,
             {uint8_t(free + 40), uint8_t((free + 40) >> 8)});
  Result r = Check(path_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("page " + std::to_string(data_page) + " (a data page of table " +
                       target_.table + ") records " + std::to_string(free + 40) +
                       " bytes of free space, but has " + std::to_string(free) +
                       " (write rule 6)"),
            std::string::npos)
      << r.out;
}

// Where check names lost data, reading fails with the damaged-page error
// instead of giving the table without it: export prints no short table and
// append stops before adding anything, both with exit status 1.
TEST_P(DamagedCopy, ReadingFailsWhereDataIsLost) {
  auto db = Database::Open(path_, {});
  const uint32_t data_page = db->ListRows(*db->ReadTableDef(target_.table)).at(0).page;
  db.reset();
  const std::string pristine = path_ + ".pristine";
  fs::copy_file(path_, pristine);
  auto read = [&](const std::string& what) {
    Result r = testing::RunCommand(CORVALIN_BIN_DIR "/corvalin-db " + what);
    EXPECT_EQ(r.status, 1) << what << "\n" << r.out;
    return r.err;
  };
  const std::string table = " " + testing::ShellQuote(target_.table);
  const std::string file = testing::ShellQuote(path_);
  // A data page zeroed, then overwritten by a copy of the definition page:
  // the owned-pages map lists a page that is not the table's.
  for (bool zeroed : {true, false}) {
    fs::copy_file(pristine, path_, fs::copy_options::overwrite_existing);
    std::vector<uint8_t> page(target_.page_size, 0);
    if (!zeroed) {
      std::ifstream in(pristine, std::ios::binary);
      in.seekg(std::streamoff(uint64_t(target_.tdef_page) * target_.page_size));
      in.read(reinterpret_cast<char*>(page.data()), std::streamsize(page.size()));
    }
    testing::OverwriteFileBytes(path_, uint64_t(data_page) * target_.page_size, page);
    const std::string expected = "damaged page " + std::to_string(data_page) + " of file " + path_;
    for (const std::string& what : {"export " + file + table,
                                    "append " + file + table + " " + file + table}) {
      const std::string err = read(what);
      EXPECT_NE(err.find(expected), std::string::npos) << what << "\n" << err;
      EXPECT_NE(err.find("table " + target_.table), std::string::npos) << what << "\n" << err;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, DamagedCopy,
                         ::testing::Values("keyed.mdb", "keyed.accdb",
                                           "V1997/indexTestV1997.mdb"));

// Enough text keys for the index to have a level of intermediate pages.
std::string ManyKeysFile() {
  testing::TableData t{{"Keys", {testing::TextColumn("k", 100)}, {testing::Index("k", {"k"}, true)}},
                       {}};
  for (int i = 0; i < 3000; ++i)
    t.rows.push_back({std::string("key ") + std::to_string(100000 + i) + std::string(40, 'x')});
  return testing::MakeDatabase("manykeys.mdb", {t});
}

TEST(CheckTest, IntermediateEntryThatMisleadsSearchesIsAProblem) {
  std::vector<std::string> files{ManyKeysFile()};
  if (!testing::CorpusDir().empty())
    files.push_back(testing::CopyOfCorpusFile("V1997/compIndexTestV1997.mdb"));
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    uint32_t node = 0, page_size = 0;
    size_t first_entry = 0;
    {
      auto db = Database::Open(path, {});
      page_size = db->format().page_size;
      first_entry = db->format().unicode_text ? 480 : 248;
      for (uint32_t p = 1; p < db->file().page_count() && !node; ++p)
        if ((*db->file().Read(p))[0] == kIndexNodePageType) node = p;
    }
    ASSERT_NE(node, 0u);
    ASSERT_EQ(Check(path).status, 0);
    // The first entry's first key byte after its flag.
    std::vector<uint8_t> byte(1);
    {
      std::ifstream f(path, std::ios::binary);
      f.seekg(std::streamoff(uint64_t(node) * page_size + first_entry + 1));
      f.read(reinterpret_cast<char*>(byte.data()), 1);
    }
    byte[0] ^= 0x01;
    testing::OverwriteFileBytes(path, uint64_t(node) * page_size + first_entry + 1, byte);
    Result r = Check(path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("1 intermediate pages do not carry the last keys of their children "
                         "(first: page " + std::to_string(node) + ") (write rule 5)"),
              std::string::npos)
        << r.out;
  }
}

TEST(CheckTest, ProblemsAreReturnedNotThrown) {
  std::string path = testing::KeyedTablesFile("keyed.mdb");
  Target t = FindTarget(path);
  // A definition chain running past the end of the file.
  testing::OverwriteFileBytes(path, uint64_t(t.tdef_page) * t.page_size + 4, Le32(0x00FFFFF0));
  auto db = Database::Open(path, {});
  std::vector<std::string> problems;
  EXPECT_NO_THROW(problems = CheckDatabase(*db));
  ASSERT_FALSE(problems.empty());
  EXPECT_NE(problems[0].find(t.table), std::string::npos) << problems[0];
}

}  // namespace
}  // namespace corvalin::engine
