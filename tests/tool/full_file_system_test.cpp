// `corvalin-db append` onto a real file system that fills up: a small tmpfs
// the test mounts (it needs root; skipped where mounting is not allowed),
// nearly filled by a filler file. The run stops at the save that finds no
// space, exits 1 with its last line "added N, refused 0" and an error that
// names the file; the file then opens consistent, with IDs exactly 1..N,
// on the still full file system (the log held the room its saves take in
// the file) and after room is made.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/command.h"
#include "tests/support/fixture.h"
#include "tests/support/readers.h"

namespace {

namespace fs = std::filesystem;
using corvalin::engine::DataType;
using corvalin::testing::Quote;
using corvalin::testing::RunCommand;
using corvalin::testing::Tool;

class FullFileSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("corvalin-small-fs-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    if (::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=4m") != 0) {
      const int why = errno;
      fs::remove(dir_);
      GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(why);
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (!mounted_) return;
    ::umount2(dir_.c_str(), MNT_DETACH);
    fs::remove_all(dir_);
  }

  // Fills the file system but for `room` bytes.
  void FillBut(uint64_t room) {
    struct statvfs st {};
    ASSERT_EQ(::statvfs(dir_.c_str(), &st), 0);
    const uint64_t free = uint64_t(st.f_bavail) * st.f_frsize;
    ASSERT_GT(free, room);
    std::ofstream filler(filler_path(), std::ios::binary);
    const std::string block(4096, 'f');
    for (uint64_t n = 0; n + 4096 <= free - room; n += 4096) filler.write(block.data(), 4096);
  }
  std::string filler_path() const { return (dir_ / "filler").string(); }

  fs::path dir_;
  bool mounted_ = false;
};

corvalin::testing::TableData Items(int rows) {
  using corvalin::testing::Column;
  corvalin::testing::TableData t{
      {"Items",
       {Column("ID", DataType::kLong), corvalin::testing::TextColumn("Name"),
        Column("Body", DataType::kMemo)},
       {corvalin::testing::Index("PrimaryKey", {"ID"}, true),
        corvalin::testing::Index("Name", {"Name"})}},
      {}};
  for (int32_t id = 1; id <= rows; ++id)
    t.rows.push_back({id, "name " + std::to_string(id * 7919 % 1000),
                      std::string(id % 10 == 0 ? 4000 : 600, char('a' + id % 26))});
  return t;
}

// N when the exported IDs are exactly 1..N, else -1.
long PrefixLength(const std::string& file) {
  const std::vector<std::string> lines = corvalin::testing::ToolExport(file, "Items");
  if (lines.empty()) return -1;
  std::vector<long> ids;
  for (size_t i = 1; i < lines.size(); ++i) ids.push_back(std::stol(lines[i].substr(1)));
  std::sort(ids.begin(), ids.end());
  for (size_t i = 0; i < ids.size(); ++i)
    if (ids[i] != long(i) + 1) return -1;
  return long(ids.size());
}

TEST_F(FullFileSystem, AppendStopsAtTheSaveWithNoSpaceAndKeepsAnExactPrefix) {
  for (const char* name : {"target.mdb", "target.accdb"}) {
    SCOPED_TRACE(name);
    const std::string source = corvalin::testing::MakeDatabase("source.mdb", {Items(3000)});
    const std::string target = (dir_ / name).string();
    fs::copy_file(corvalin::testing::MakeDatabase(name, {Items(0)}), target);
    FillBut(1 << 20);

    auto run = RunCommand(Tool() + " append " + Quote(source) + " Items " + Quote(target) + " Items");
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(run.out, m, std::regex("added ([0-9]+), refused 0\n$"))) << run.out;
    const long added = std::stol(m[1]);
    EXPECT_GT(added, 0);
    EXPECT_LT(added, 3000);
    EXPECT_NE(run.err.find(target), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(std::strerror(ENOSPC)), std::string::npos) << run.err;

    EXPECT_EQ(corvalin::testing::ToolCheck(target), "") << "on the full file system";
    EXPECT_EQ(PrefixLength(target), added) << "on the full file system";
    fs::remove(filler_path());
    EXPECT_EQ(corvalin::testing::ToolCheck(target), "");
    EXPECT_EQ(PrefixLength(target), added);
    fs::remove(target);
  }
}

}  // namespace
