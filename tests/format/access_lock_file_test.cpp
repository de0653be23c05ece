// Access's lock file beside a database: held by another program it stops a
// write and names who has the database open; left behind by a crash it is
// ignored.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "db/engine/error.h"
#include "db/engine/format/access_lock_file.h"
#include "db/engine/format/database.h"
#include "db/engine/format/table_writer.h"
#include "tests/support/corpus.h"
#include "tests/support/fixture.h"

namespace corvalin::engine {
namespace {

// Writes a lock file of the given computer names, each in a 64-byte slot
// with "Admin" as its user.
void WriteLockFile(const std::string& path, const std::vector<std::string>& computers) {
  std::string bytes;
  for (const auto& name : computers) {
    std::string slot(64, '\0');
    std::memcpy(slot.data(), name.data(), std::min<size_t>(name.size(), 32));
    std::memcpy(slot.data() + 32, "Admin", 5);
    bytes += slot;
  }
  std::ofstream(path, std::ios::binary) << bytes;
}

// Another process that holds a byte-range lock on the file, far past its
// end as Access takes them, until it is told to go.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) {
    int ready[2], go[2];
    EXPECT_EQ(::pipe(ready), 0);
    EXPECT_EQ(::pipe(go), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(go[1]);
      int fd = ::open(path.c_str(), O_RDWR);
      struct flock fl {};
      fl.l_type = F_WRLCK;
      fl.l_whence = SEEK_SET;
      fl.l_start = 0x10000000;
      fl.l_len = 1;
      char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? 1 : 0;
      (void)!::write(ready[1], &ok, 1);
      char byte;
      (void)!::read(go[0], &byte, 1);  // returns when the parent closes its end
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(go[0]);
    go_ = go[1];
    char ok = 0;
    EXPECT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 1) << "the child could not lock " << path;
    ::close(ready[0]);
  }
  ~LockHolder() {
    ::close(go_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }

 private:
  pid_t pid_ = -1;
  int go_ = -1;
};

TEST(AccessLockFile, PathFollowsTheDatabaseExtension) {
  EXPECT_EQ(AccessLockFilePath("/d/Orders.mdb"), "/d/Orders.ldb");
  EXPECT_EQ(AccessLockFilePath("/d/Orders.ACCDB"), "/d/Orders.laccdb");
  EXPECT_EQ(AccessLockFilePath("/d.x/Orders"), "/d.x/Orders.ldb");
}

TEST(AccessLockFile, AbsentOrStaleLockFileLetsTheWriteGoOn) {
  const std::string dir = testing::TempDir();
  const std::string db = dir + "/Orders.accdb";
  EXPECT_NO_THROW(RefuseWhenOpenInAccess(db));
  WriteLockFile(dir + "/Orders.laccdb", {"OFFICE-PC"});
  AccessLockState state = ReadAccessLockState(db);
  EXPECT_FALSE(state.held);
  EXPECT_NO_THROW(RefuseWhenOpenInAccess(db));
}

TEST(AccessLockFile, HeldLockFileRefusesAndNamesTheComputers) {
  const std::string dir = testing::TempDir();
  const std::string db = dir + "/Orders.mdb";
  const std::string lock = dir + "/Orders.ldb";
  WriteLockFile(lock, {"OFFICE-PC", "LAPTOP\x01" "7", "OFFICE-PC"});
  LockHolder holder(lock);
  AccessLockState state = ReadAccessLockState(db);
  EXPECT_TRUE(state.held);
  EXPECT_EQ(state.computers, (std::vector<std::string>{"OFFICE-PC", "LAPTOP?7"}));
  try {
    RefuseWhenOpenInAccess(db);
    FAIL() << "a held lock file let the write go on";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrFileLocked);
    EXPECT_NE(e.description().find(lock), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("OFFICE-PC, LAPTOP?7"), std::string::npos) << e.description();
  }
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A save into a database that Access has open is refused before anything
// is written; with the lock file left stale, the same save goes through.
TEST(AccessLockFile, HeldLockFileStopsASaveAndLeavesTheFileAsItWas) {
  for (const char* name : {"open.mdb", "open.accdb"}) {
    SCOPED_TRACE(name);
    const std::string db = testing::OneTableFile(name);
    const std::string lock = AccessLockFilePath(db);
    WriteLockFile(lock, {"FRONT-DESK"});
    const std::string before = FileBytes(db);
    {
      LockHolder holder(lock);
      auto database = Database::Open(db, {"", true});
      TableWriter writer(database, database->ReadTableDef("Table"));
      try {
        writer.Insert({std::string("x"), std::string("y")});
        ADD_FAILURE() << "the save went through";
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), kErrFileLocked);
        EXPECT_NE(e.description().find("FRONT-DESK"), std::string::npos) << e.description();
      }
    }
    EXPECT_EQ(FileBytes(db), before);
    auto database = Database::Open(db, {"", true});
    TableWriter(database, database->ReadTableDef("Table")).Insert({std::string("x"), std::string("y")});
  }
}

}  // namespace
}  // namespace corvalin::engine
