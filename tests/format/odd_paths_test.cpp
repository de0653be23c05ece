// Names that are not database files give the error they are, never "could
// not find file" for something that exists, and never a hang on a pipe.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/page_log.h"
#include "db/engine/format/table_writer.h"
#include "tests/support/fixture.h"
#include "tests/support/corpus.h"

namespace corvalin::engine {
namespace {

std::pair<int, std::string> OpenError(const std::string& path, bool writable) {
  try {
    Database::Open(path, {"", writable});
  } catch (const Error& e) {
    return {e.number(), e.description()};
  }
  return {0, ""};
}

TEST(OddPaths, FolderPipeDeviceAndBrokenLinkAreNotDatabaseFiles) {
  const std::string dir = testing::TempDir();
  const std::string folder = dir + "/folder.mdb";
  const std::string pipe = dir + "/pipe.mdb";
  const std::string broken = dir + "/broken.accdb";
  std::filesystem::create_directory(folder);
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::filesystem::create_symlink(dir + "/nothing-here.accdb", broken);
  for (const std::string& path : {folder, pipe, std::string("/dev/null"), broken}) {
    for (bool writable : {false, true}) {
      SCOPED_TRACE(path);
      auto [number, text] = OpenError(path, writable);
      EXPECT_EQ(number, kErrUnrecognisedFormat);
      EXPECT_NE(text.find(path + " is not a database file"), std::string::npos) << text;
    }
  }
  EXPECT_EQ(OpenError(dir + "/missing.mdb", false).first, kErrFileNotFound);
}

// A folder by the name of a database's log is no log: the file reads as it
// is, and the first save, which cannot make its log, is refused naming it.
TEST(OddPaths, FolderWhereTheLogWouldBe) {
  const std::string db = testing::OneTableFile("folder-log.accdb");
  const std::string log = LogPathFor(db);
  std::filesystem::create_directory(log);
  auto database = Database::Open(db, {"", true});
  auto table = database->ReadTableDef("Table");
  EXPECT_EQ(database->ListRows(*table).size(), 2u);
  try {
    TableWriter(database, table).Insert({std::string("x"), std::string("y")});
    ADD_FAILURE() << "the save went through";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrIo);
    EXPECT_NE(e.description().find(log), std::string::npos) << e.description();
  }
  std::filesystem::remove(log);
}

}  // namespace
}  // namespace corvalin::engine
