// A reader going once through a table's rows: the listing and the window
// of pages read outside the cache see what the cache would give, saves not
// yet in the file included, and a window is never read from after a save.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/page_window.h"
#include "db/engine/format/table_writer.h"
#include "db/engine/format/usage_map.h"
#include "tests/support/fixture.h"

namespace corvalin::engine {
namespace {

// Lists the table, which must hold `count` rows, and reads them through a
// window of pages: row i must be row(i).
void ExpectRowsInOrder(const Database& db, const TableDef& table, size_t count,
                       const std::function<std::vector<Value>(int)>& row) {
  const std::vector<RowId> rows = db.ListRows(table);
  ASSERT_EQ(rows.size(), count);
  PageWindow pages(db.file());
  std::vector<Value> values;
  for (size_t i = 0; i < rows.size(); ++i) {
    db.ReadRow(table, rows[i], values, pages);
    ASSERT_EQ(values, row(int(i))) << "row " << i;
  }
}

class RowWalk : public ::testing::TestWithParam<JetVersion> {
 protected:
  void SetUp() override {
    testing::TableData notes{{"Notes",
                              {testing::Column("id", DataType::kLong), testing::TextColumn("name"),
                               testing::Column("body", DataType::kMemo)},
                              {}},
                             {}};
    path_ = testing::MakeDatabase(std::string("walk") +
                                      (GetParam() == JetVersion::kAce12 ? ".accdb" : ".mdb"),
                                  GetParam(), {notes});
    OpenOptions options;
    options.writable = true;
    db_ = Database::Open(path_, options);
    table_ = db_->ReadTableDef("Notes");
    writer_ = std::make_unique<TableWriter>(db_, table_);
  }

  // Row i: its id, a name, and a memo long enough for a long-value page
  // (every seventh long enough for a chain of them).
  static std::vector<Value> Row(int i) {
    std::string body(i % 7 == 0 ? 3000 + i : 150 + i % 50, char('a' + i % 26));
    return {int32_t(i), "name " + std::to_string(i) + " \u00e9", body};
  }
  void Add(int from, int to) {
    for (int i = from; i < to; ++i) {
      std::vector<Value> row = Row(i);
      writer_->InsertRow(row);
    }
  }

  std::string path_;
  std::shared_ptr<Database> db_;
  std::shared_ptr<const TableDef> table_;
  std::unique_ptr<TableWriter> writer_;
};

// Nothing is synced: the rows' pages are changed pages of the cache, most of
// them past the end of the file, and the walk must find them there.
TEST_P(RowWalk, ReadsSavesNotYetInTheFile) {
  Add(0, 400);
  ExpectRowsInOrder(*db_, *table_, 400, Row);
}

// A table read while rows are added to it (a table appended to itself): the
// rows read are the ones listed, each as it was saved, also after the page
// they lie on took a new row.
TEST_P(RowWalk, ReadsTheListedRowsWhileTheTableGrows) {
  Add(0, 300);
  db_->file().Sync();  // the first rows in the file itself
  const std::vector<RowId> rows = db_->ListRows(*table_);
  ASSERT_EQ(rows.size(), 300u);
  PageWindow pages(db_->file());
  std::vector<Value> values;
  for (size_t i = 0; i < rows.size(); ++i) {
    db_->ReadRow(*table_, rows[i], values, pages);
    ASSERT_EQ(values, Row(int(i))) << "row " << i;
    Add(1000 + int(i), 1001 + int(i));
  }
  EXPECT_EQ(db_->ListRows(*table_).size(), 600u);
}

// A listing reads the table's data pages from the file a stretch at a time,
// passing by the long-value pages between them, and still checks every
// page the table's map lists: one zeroed is named as damaged.
TEST_P(RowWalk, ListingsReadStretchesAndCheckEveryListedPage) {
  // Rows of a few hundred bytes with a memo of a few hundred characters:
  // each page of rows is followed by a long-value page or two.
  auto row = [](int i) -> std::vector<Value> {
    return {int32_t(i), std::string(200 + i % 50, char('a' + i % 26)),
            std::string(300 + i % 100, char('A' + i % 26))};
  };
  testing::TableData wide{{"Wide",
                           {testing::Column("id", DataType::kLong), testing::TextColumn("note", 255),
                            testing::Column("body", DataType::kMemo)},
                           {}},
                          {}};
  for (int i = 0; i < 2000; ++i) wide.rows.push_back(row(i));
  writer_.reset();
  table_.reset();
  db_.reset();
  path_ = testing::MakeDatabase(std::string("wide") +
                                    (GetParam() == JetVersion::kAce12 ? ".accdb" : ".mdb"),
                                GetParam(), {wide});
  std::vector<uint32_t> listed;
  size_t page_size = 0;
  {
    auto db = Database::Open(path_, {});
    listed = ReadUsageMap(db->file(), db->format(), db->ReadTableDef("Wide")->owned_pages_map);
    page_size = db->format().page_size;
  }
  // The pages of the table that follow another of its pages with others
  // between.
  std::vector<uint32_t> after_gap;
  for (size_t i = 1; i < listed.size(); ++i)
    if (listed[i] - listed[i - 1] >= 2 && listed[i] - listed[i - 1] <= 4)
      after_gap.push_back(listed[i]);
  ASSERT_GE(after_gap.size(), 3u) << ::testing::PrintToString(listed);

  auto damage = [&] {
    try {
      auto db = Database::Open(path_, {});
      db->ListRows(*db->ReadTableDef("Wide"));
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kErrDamagedFile);
      return e.description();
    }
    return std::string("no error");
  };
  {
    auto db = Database::Open(path_, {});
    ExpectRowsInOrder(*db, *db->ReadTableDef("Wide"), 2000, row);
  }
  const uint32_t zeroed = after_gap[after_gap.size() / 2];
  {
    std::fstream file(path_, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(std::streamoff(zeroed * page_size));
    const std::string zeros(page_size, '\0');
    file.write(zeros.data(), std::streamsize(zeros.size()));
  }
  std::string error = damage();
  EXPECT_NE(error.find("damaged page " + std::to_string(zeroed) + " "), std::string::npos)
      << error;
  EXPECT_NE(error.find("not a data page of the table"), std::string::npos) << error;
}

// A listed page past the end of the file is named as damaged, as a read of
// it through the cache names it.
TEST_P(RowWalk, AWindowPastTheEndOfTheFileReadsNothing) {
  Add(0, 10);
  db_->file().Sync();
  PageWindow pages(db_->file());
  const uint32_t end = db_->file().page_count();
  pages.Cover(end);
  try {
    pages.Read(end);
    FAIL() << "a page past the end was read";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrDamagedFile);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, RowWalk,
                         ::testing::Values(JetVersion::kJet4, JetVersion::kAce12,
                                           JetVersion::kAce16),
                         [](const auto& info) { return std::string(JetVersionName(info.param)); });

}  // namespace
}  // namespace corvalin::engine
