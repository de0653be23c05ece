// The write path's index pages and page file: entries added to a leaf in
// place must give exactly the bytes a re-encoding of the page gives, two
// writers on one file must see each other's pages, and a written page is in
// the file as soon as the save returns.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "db/engine/error.h"
#include "db/engine/format/check.h"
#include "db/engine/format/database.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/table_writer.h"
#include "tests/support/file_bytes.h"
#include "tests/support/fixture.h"

namespace corvalin::engine {
namespace {



// Table1: Text A (the primary key), Text B (a non-unique index), then
// Byte, Integer, Long, Double, Date/Time, Currency, Yes/No.
std::vector<Value> Row(const std::string& a, const std::string& b, int32_t n) {
  return {a, b, uint8_t(n % 200), int16_t(n % 3000), n, n / 4.0, DateTime{40000.0 + n % 900},
          Currency{n * 100}, n % 2 == 0};
}

// A new file whose Table1 holds two rows.
std::string TestFile() {
  using testing::Column;
  testing::TableData t{{"Table1",
                        {testing::TextColumn("A"), testing::TextColumn("B"),
                         Column("C", DataType::kByte), Column("D", DataType::kInteger),
                         Column("E", DataType::kLong), Column("F", DataType::kDouble),
                         Column("G", DataType::kDateTime), Column("H", DataType::kCurrency),
                         Column("I", DataType::kBoolean)},
                        {testing::Index("PrimaryKey", {"A"}, true), testing::Index("B", {"B"})}},
                       {Row("a", "b", 0), Row("abcdefg", "hijklmnop", 2)}};
  return testing::MakeDatabase("test.accdb", {t});
}

// Every page of the index's tree, root first.
std::vector<uint32_t> TreePages(PageFile& file, const JetFormat& format, const IndexDef& index) {
  std::vector<uint32_t> out, todo{index.first_page};
  std::set<uint32_t> seen;
  while (!todo.empty()) {
    uint32_t n = todo.back();
    todo.pop_back();
    if (!seen.insert(n).second) continue;
    out.push_back(n);
    IndexPage page = DecodeIndexPage(*file.Read(n), format, file.path(), n);
    if (page.leaf) continue;
    for (const IndexEntry& e : page.entries) todo.push_back(e.child_page);
    if (page.tail_page != 0) todo.push_back(page.tail_page);
  }
  return out;
}

TEST(IndexWriter, PagesChangedInPlaceEqualTheirReencodingAndStayInOrder) {
  std::string path = TestFile();
  {
    auto db = Database::Open(path, {"", true});
    TableWriter writer(db, db->ReadTableDef("Table1"));
    uint64_t state = 99;
    for (int i = 0; i < 4000; ++i) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      // Keys in scattered order, in the middle and at both ends of leaves;
      // B repeats, of varying length, so prefixes and duplicates vary.
      std::string a = (i % 5 == 0 ? "z" : "k") + std::to_string(state >> 24);
      std::string b(1 + (state >> 50) % 30, char('a' + (state >> 40) % 26));
      writer.Insert(Row(a, b, i));
    }
    const JetFormat& format = db->format();
    size_t pages = 0;
    for (const IndexDef& index : writer.table().indexes) {
      for (uint32_t n : TreePages(db->file(), format, index)) {
        PagePtr bytes = db->file().Read(n);
        IndexPage page = DecodeIndexPage(*bytes, format, path, n);
        PageData again(format.page_size);
        ASSERT_TRUE(EncodeIndexPage(page, format, again));
        EXPECT_EQ(again, *bytes) << "index " << index.name << ", page " << n;
        ++pages;
      }
      std::vector<IndexEntry> entries = ReadIndexEntries(db->file(), format, index);
      EXPECT_EQ(entries.size(), 4002u);
      for (size_t i = 1; i < entries.size(); ++i)
        ASSERT_LT(CompareIndexEntries(entries[i - 1].key, entries[i - 1].row, entries[i].key,
                                      entries[i].row),
                  0);
    }
    EXPECT_GT(pages, 20u);  // the trees have split into several levels of pages
  }
  EXPECT_EQ(CheckDatabase(*Database::Open(path, {})), std::vector<std::string>{});
}

// A leaf whose free room ends in stale bytes, as a page that once held
// more entries may keep them: it decodes to the same entries, but our
// encoder leaves that room zero.
PageData WithStaleTail(const PageData& leaf) {
  PageData out = leaf;
  std::fill(out.end() - 16, out.end(), uint8_t(0xAB));
  return out;
}

TEST(IndexWriter, LeafNotInOurFormIsReencodedBeforeItTakesAnEntry) {
  using testing::Column;
  testing::TableData t{{"Numbers", {Column("N", DataType::kLong), testing::TextColumn("T")},
                        {testing::Index("PrimaryKey", {"N"}, true)}},
                       {}};
  for (int32_t n = 1; n <= 50; ++n) t.rows.push_back({n, "row " + std::to_string(n)});
  std::string path = testing::MakeDatabase("prefix.accdb", {t});
  {
    auto db = Database::Open(path, {"", true});
    const JetFormat& format = db->format();
    auto def = db->ReadTableDef("Numbers");
    const uint32_t root = def->indexes.at(0).first_page;
    PagePtr ours = db->file().Read(root);
    ASSERT_EQ((*ours)[0], kIndexLeafPageType);  // 50 keys: the root is the only leaf
    PageData other = WithStaleTail(*ours);
    ours.reset();
    db->file().Write(root, other);
    ASSERT_EQ(CheckDatabase(*db), std::vector<std::string>{});

    // New keys at the end of that leaf: entries put in place would keep the
    // stale bytes, a page our encoder never writes.
    TableWriter writer(db, def);
    for (int32_t n = 51; n <= 60; ++n) writer.Insert({n, "row " + std::to_string(n)});
    PagePtr bytes = db->file().Read(root);
    IndexPage page = DecodeIndexPage(*bytes, format, path, root);
    PageData again(format.page_size);
    ASSERT_TRUE(EncodeIndexPage(page, format, again));
    EXPECT_EQ(again, *bytes);
    ASSERT_EQ(page.entries.size(), 60u);
  }
  EXPECT_EQ(CheckDatabase(*Database::Open(path, {})), std::vector<std::string>{});
}

TEST(IndexWriter, TwoWritersOnOneFileSeeEachOthersEntries) {
  std::string path = TestFile();
  {
    auto first = Database::Open(path, {"", true});
    auto second = Database::Open(path, {"", true});
    TableWriter a(first, first->ReadTableDef("Table1"));
    TableWriter b(second, second->ReadTableDef("Table1"));
    for (int i = 0; i < 600; ++i) {
      TableWriter& w = i % 3 == 0 ? b : a;
      w.Insert(Row("key" + std::to_string(i * 37 % 600), "b" + std::to_string(i % 7), i));
    }
    // The key the other writer added is a duplicate for this one.
    try {
      a.Insert(Row("key" + std::to_string(3 * 37 % 600), "x", 1));
      ADD_FAILURE() << "a duplicate key was taken";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kErrDuplicateKey);
    }
  }
  EXPECT_EQ(CheckDatabase(*Database::Open(path, {})), std::vector<std::string>{});
}

TEST(IndexWriter, RefusedRecordLeavesTheFileAsItWas) {
  std::string path = TestFile();
  auto db = Database::Open(path, {"", true});
  TableWriter writer(db, db->ReadTableDef("Table1"));
  for (int i = 0; i < 300; ++i) writer.Insert(Row("r" + std::to_string(i), "same", i));
  std::vector<uint8_t> before = testing::ReadFileBytes(path);
  EXPECT_THROW(writer.Insert(Row("r150", "other", 1)), Error);
  EXPECT_THROW(writer.Insert(Row(std::string(60, 'x'), "too long a key", 1)), Error);
  EXPECT_EQ(testing::ReadFileBytes(path), before);
  // The writer goes on from where it was.
  writer.Insert(Row("r150b", "same", 1));
  EXPECT_EQ(testing::ReadFileBytes(path).size(), before.size());
}

// A writer whose first saves are all refused (a table appended a second
// time) keeps the tree's pages it read from one refusal to the next; what
// another writer adds meanwhile must still count, and the rows it takes at
// last must land where the keys say.
TEST(IndexWriter, RefusalsBeforeAnySaveKeepUpWithTheFile) {
  std::string path = TestFile();
  {
    auto db = Database::Open(path, {"", true});
    TableWriter writer(db, db->ReadTableDef("Table1"));
    for (int i = 0; i < 1500; ++i)
      writer.Insert(Row("key" + std::to_string(i * 37 % 1500), "b" + std::to_string(i % 9), i));
  }
  auto first = Database::Open(path, {"", true});
  auto second = Database::Open(path, {"", true});
  TableWriter a(first, first->ReadTableDef("Table1"));
  TableWriter b(second, second->ReadTableDef("Table1"));
  auto refusal = [](TableWriter& w, std::vector<Value> row) {
    try {
      w.Insert(row);
    } catch (const Error& e) {
      return e.number();
    }
    return 0;
  };
  for (int i = 0; i < 1500; ++i) {
    ASSERT_EQ(refusal(a, Row("key" + std::to_string(i), "x", i)), kErrDuplicateKey) << i;
    if (i % 250 == 0) {
      // The other writer's key is a duplicate for this one from now on.
      const std::string theirs = "new" + std::to_string(i);
      b.Insert(Row(theirs, "y", i));
      ASSERT_EQ(refusal(a, Row(theirs, "x", i)), kErrDuplicateKey) << theirs;
    }
  }
  for (int i = 0; i < 300; ++i)
    ASSERT_EQ(refusal(a, Row("more" + std::to_string(i * 7 % 300), "z", i)), 0) << i;
  first.reset();
  second.reset();
  auto db = Database::Open(path, {});
  EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>{});
  EXPECT_EQ(db->ListLiveRows(*db->ReadTableDef("Table1")).size(), 2u + 1500 + 6 + 300);
}

// Access lets rows share a key of a unique index when any of its columns is
// Null in it, as SQL does: the writer takes them, and the check agrees.
TEST(IndexWriter, AUniqueKeyWithANullInItMayRepeat) {
  using testing::Column;
  testing::TableData pairs{{"Pairs",
                            {Column("a", DataType::kLong), Column("b", DataType::kLong),
                             Column("yes", DataType::kBoolean)},
                            {testing::Index("ab", {"a", "b"}, false, true),
                             testing::Index("ayes", {"a", "yes"}, false, true)}},
                           {}};
  std::string path = testing::MakeDatabase("pairs.mdb", {pairs});
  {
    auto db = Database::Open(path, {"", true});
    TableWriter writer(db, db->ReadTableDef("Pairs"));
    writer.Insert({int32_t(1), Null{}, false});
    writer.Insert({int32_t(1), Null{}, true});
    writer.Insert({Null{}, int32_t(2), true});
    writer.Insert({Null{}, int32_t(2), true});
    writer.Insert({int32_t(3), int32_t(2), false});
    auto refusal = [&](std::vector<Value> row) {
      try {
        writer.Insert(row);
      } catch (const Error& e) {
        return e.number();
      }
      return 0;
    };
    // A Yes/No column is never Null: a Null there is No, and (1, No) is taken.
    EXPECT_EQ(refusal({int32_t(1), int32_t(5), Null{}}), kErrDuplicateKey);
    EXPECT_EQ(refusal({int32_t(3), int32_t(2), true}), kErrDuplicateKey);
  }
  auto db = Database::Open(path, {});
  EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>{});
  EXPECT_EQ(db->ListLiveRows(*db->ReadTableDef("Pairs")).size(), 5u);
}

TEST(PageFile, WrittenPagesAreInTheFileAtASyncPointAndItGrows) {
  std::string path = TestFile();
  auto file = PageFile::Get(path, true);
  const uint32_t count = file->page_count();
  const uint32_t size = file->page_size();
  PageData page(size, 0xA5);
  uint64_t writes = file->write_count();
  file->Write(3, page);            // over a page of the file
  file->Write(count, page);        // one page more
  EXPECT_EQ(file->page_count(), count + 1);
  EXPECT_EQ(file->write_count(), writes + 2);
  page[0] = 0x5A;
  file->Write(count, page);        // the new page again
  file->Sync();                    // now in the file
  std::vector<uint8_t> bytes = testing::ReadFileBytes(path);  // another reader, the file still open
  ASSERT_EQ(bytes.size(), size_t(count + 1) * size);
  EXPECT_EQ(bytes[size_t(3) * size], 0xA5);
  EXPECT_EQ(bytes[size_t(count) * size], 0x5A);
  EXPECT_EQ((*file->Read(count))[0], 0x5A);
  // A page past the end is refused, not written as a hole.
  EXPECT_THROW(file->Write(count + 5, page), Error);
  EXPECT_EQ(file->page_count(), count + 1);
}

}  // namespace
}  // namespace corvalin::engine
