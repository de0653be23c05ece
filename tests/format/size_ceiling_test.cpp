// A save that would grow a file past what Access can open is refused with an
// error that names the file and the limit, and the file stays as it was.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/page_write_set.h"
#include "db/engine/format/table_writer.h"
#include "tests/support/fixture.h"

namespace corvalin::engine {
namespace {

TEST(SizeCeiling, SaveThatWouldGrowPastTwoGigabytesIsRefused) {
  testing::TableData notes{{"Notes", {testing::Column("Body", DataType::kMemo)}, {}}, {}};
  const std::string path = testing::MakeDatabase("full.mdb", {notes});
  // The file as large as Access allows: a sparse tail of empty pages.
  const uint64_t largest = uint64_t(kMostPages) * 4096;
  ASSERT_EQ(::truncate(path.c_str(), off_t(largest)), 0);
  {
    auto database = Database::Open(path, {"", true});
    TableWriter writer(database, database->ReadTableDef("Notes"));
    try {
      writer.Insert({std::string(3000, 'x')});
      ADD_FAILURE() << "the file grew past its ceiling";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kErrDatabaseFull);
      EXPECT_NE(e.description().find(path + " would grow past the 2 GB that an Access database can hold"),
                std::string::npos)
          << e.description();
    }
  }
  EXPECT_EQ(std::filesystem::file_size(path), largest);
  auto database = Database::Open(path, {});
  EXPECT_TRUE(database->ListRows(*database->ReadTableDef("Notes")).empty());
}

}  // namespace
}  // namespace corvalin::engine
