// A disk that fills up in the middle of an append, on the page seam: the
// database file and its log lie on a simulated disk of bounded room, which
// allocates 4 KB blocks as writes reach them (as tmpfs and most file
// systems do: a file grown by truncate takes no room until written) and
// fails the write that needs one more block than is left with ENOSPC. For
// every room from none to what the whole run needs: the save that does not
// fit is refused with an error that names the file and says there is no
// space, the saves before it are kept, and nothing after it is; the file
// then opens consistent (or, when completing the log needs room itself,
// fails with an error that says so and opens consistent once there is
// room) and holds its old rows plus an exact prefix of the appended ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "db/engine/error.h"
#include "db/engine/format/check.h"
#include "db/engine/format/database.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/page_log.h"
#include "db/engine/format/table_writer.h"
#include "tests/support/bytes_storage.h"
#include "tests/support/file_bytes.h"
#include "tests/support/fixture.h"

namespace corvalin::engine {
namespace {

constexpr uint64_t kBlock = 4096;

// The database file (0) and its log (1), and the blocks they take.
struct Disk {
  uint64_t room_blocks = UINT64_MAX;
  std::vector<uint8_t> bytes[2];
  std::set<uint64_t> blocks[2];

  uint64_t peak = 0;  // the most blocks ever taken at once

  uint64_t Used() const { return blocks[0].size() + blocks[1].size(); }
  // Takes a block for file f, when there is room.
  bool Take(int f, uint64_t block) {
    if (blocks[f].count(block)) return true;
    if (Used() >= room_blocks) return false;
    blocks[f].insert(block);
    peak = std::max(peak, Used());
    return true;
  }
  void Allocate(int f) {
    blocks[f].clear();
    for (uint64_t b = 0; b * kBlock < bytes[f].size(); ++b) blocks[f].insert(b);
  }
};

class DiskStorage : public testing::BytesStorage {
 public:
  DiskStorage(Disk& disk, int f, std::string path) : BytesStorage(std::move(path)), disk_(disk), f_(f) {}
  // Writes block by block, as far as there is room, then fails.
  void Write(uint64_t offset, std::span<const uint8_t> data) override {
    uint64_t end = offset;
    bool full = false;
    while (end < offset + data.size()) {
      const uint64_t block = end / kBlock;
      if (!disk_.Take(f_, block)) {
        full = true;
        break;
      }
      end = std::min<uint64_t>((block + 1) * kBlock, offset + data.size());
    }
    if (bytes().size() < end) bytes().resize(end);
    std::copy_n(data.begin(), end - offset, bytes().begin() + offset);
    if (full)
      throw Error(kErrIo, "cannot write file " + path_ + ": " + std::strerror(ENOSPC));
  }
  void Truncate(uint64_t size) override {
    bytes().resize(size);
    auto& blocks = disk_.blocks[f_];
    blocks.erase(blocks.lower_bound((size + kBlock - 1) / kBlock), blocks.end());
  }
  void Sync() override {}
  // All the blocks or none, as fallocate on a full disk.
  void Reserve(uint64_t end) override {
    const uint64_t want = (end + kBlock - 1) / kBlock;
    uint64_t missing = 0;
    for (uint64_t b = 0; b < want; ++b) missing += !disk_.blocks[f_].count(b);
    if (disk_.Used() + missing > disk_.room_blocks)
      throw Error(kErrIo, "cannot write file " + path_ + ": " + std::strerror(ENOSPC));
    for (uint64_t b = 0; b < want; ++b) disk_.Take(f_, b);
  }
  void Unreserve() override { Truncate(bytes().size()); }

 private:
  std::vector<uint8_t>& bytes() override { return disk_.bytes[f_]; }
  Disk& disk_;
  int f_;
};

const char kPath[] = "/disk/full.db";

std::shared_ptr<Database> OpenOn(Disk& disk, SaveGrouping grouping = {}) {
  auto file = PageFile::Over(std::make_unique<DiskStorage>(disk, 0, kPath),
                             std::make_unique<DiskStorage>(disk, 1, LogPathFor(kPath)), grouping);
  return Database::Open(file, {"", true});
}

// The IDs of the table's rows, in ascending order.
std::vector<int32_t> Ids(Database& db) {
  auto table = db.ReadTableDef("Items");
  std::vector<int32_t> ids;
  for (RowId row : db.ListRows(*table)) ids.push_back(std::get<int32_t>(db.ReadRow(*table, row)[0]));
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::vector<int32_t> OneTo(int32_t n) {
  std::vector<int32_t> ids(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) ids[size_t(i)] = i + 1;
  return ids;
}

// Items: ID Long (primary key), Name (indexed), Body (memo, one in seven
// long enough for pages of its own); IDs 1..old in it.
struct Append {
  std::vector<uint8_t> base;
  int32_t old = 0;
  std::vector<std::vector<Value>> rows;  // IDs old + 1 ...
};

Append MakeAppend(JetVersion version, int32_t old, int32_t added) {
  using testing::Column;
  std::mt19937 random(uint32_t(old + added));
  auto row = [&](int32_t id) -> std::vector<Value> {
    std::string name;
    for (int i = 0; i < 12; ++i) name += char('a' + random() % 26);
    return {id, name, std::string(id % 7 == 0 ? 3000 : 100 + random() % 300, char('a' + id % 26))};
  };
  testing::TableData t{{"Items",
                        {Column("ID", DataType::kLong), testing::TextColumn("Name"),
                         Column("Body", DataType::kMemo)},
                        {testing::Index("PrimaryKey", {"ID"}, true), testing::Index("Name", {"Name"})}},
                       {}};
  for (int32_t id = 1; id <= old; ++id) t.rows.push_back(row(id));
  Append a;
  a.base = testing::ReadFileBytes(testing::MakeDatabase("full.accdb", version, {t}));
  a.old = old;
  for (int32_t id = old + 1; id <= old + added; ++id) a.rows.push_back(row(id));
  return a;
}

bool SaysNoSpace(const std::string& description) {
  return description.find(kPath) != std::string::npos &&
         description.find(std::strerror(ENOSPC)) != std::string::npos;
}

struct Outcome {
  size_t returned = 0;   // saves that returned
  bool stopped = false;  // a save or a sync point failed
  bool reopened_full = false;  // the file opened again before room was made
};

// Appends the rows until a save or a sync point (every 20 saves) fails, as
// a run does, then closes; opens the file on the still full disk, and then
// with room. Every returned save is kept, nothing else, and the file opens
// on the full disk: the log held the room its saves take in the file.
// Saves are logged in groups of `grouping`.
Outcome RunOnto(const Append& a, uint64_t extra_blocks, const std::string& what,
                SaveGrouping grouping) {
  Disk disk;
  disk.bytes[0] = a.base;
  disk.Allocate(0);
  disk.room_blocks = disk.Used() + extra_blocks;
  Outcome out;
  {
    auto db = OpenOn(disk, grouping);
    TableWriter writer(db, db->ReadTableDef("Items"));
    try {
      for (const auto& row : a.rows) {
        writer.Insert(row);
        ++out.returned;
        if (out.returned % 20 == 0) db->file().Sync();
      }
    } catch (const Error& e) {
      out.stopped = true;
      EXPECT_EQ(e.number(), kErrIo) << what << ": " << e.description();
      EXPECT_FALSE(RefusesTheRecord(e.number())) << what << ": the run must end";
      EXPECT_TRUE(SaysNoSpace(e.description())) << what << ": " << e.description();
    }
  }  // the close: a checkpoint that may fail as well, keeping the log
  const std::vector<int32_t> expected = OneTo(a.old + int32_t(out.returned));
  try {
    auto db = OpenOn(disk);
    out.reopened_full = true;
    EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>{}) << what;
    EXPECT_EQ(Ids(*db), expected) << what << ", opened on the full disk";
  } catch (const Error& e) {
    ADD_FAILURE() << what << ": cannot be opened on the full disk: " << e.description();
  }
  disk.room_blocks = UINT64_MAX;
  auto db = OpenOn(disk);
  EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>{}) << what;
  EXPECT_EQ(Ids(*db), expected) << what << ", opened with room";
  return out;
}

void EveryRoom(JetVersion version, SaveGrouping grouping = {}) {
  const Append a = MakeAppend(version, 30, 400);
  // The room the whole run takes at its most: the file, the log at its
  // longest (it is emptied at each sync point and keeps its length) and
  // the room the log holds for the file.
  uint64_t needed = 0;
  {
    Disk disk;
    disk.bytes[0] = a.base;
    disk.Allocate(0);
    const Outcome whole = RunOnto(a, UINT64_MAX / 2, "room for all", grouping);
    ASSERT_FALSE(whole.stopped);
    ASSERT_EQ(whole.returned, a.rows.size());
    {
      auto db = OpenOn(disk, grouping);
      TableWriter writer(db, db->ReadTableDef("Items"));
      for (size_t i = 0; i < a.rows.size(); ++i) {
        writer.Insert(a.rows[i]);
        if ((i + 1) % 20 == 0) db->file().Sync();
      }
    }
    needed = disk.peak - (a.base.size() + kBlock - 1) / kBlock;
  }
  size_t stopped = 0, kept_open = 0;
  for (uint64_t extra = 0; extra <= needed + 1; ++extra) {
    const Outcome out = RunOnto(a, extra, std::string(JetVersionName(version)) + ", room for " +
                                              std::to_string(extra) + " blocks",
                                  grouping);
    stopped += out.stopped;
    kept_open += out.reopened_full;
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_EQ(stopped, needed) << "every room short of the whole run stops it";
  EXPECT_EQ(kept_open, needed + 2) << "every file opens on its full disk";
  std::cout << "[ counts   ] " << JetVersionName(version) << ": " << needed + 2
            << " rooms, " << stopped << " runs stopped by the full disk, " << kept_open
            << " files opened again before room was made\n";
}

TEST(FullDisk, EveryRoomStopsTheRunAtAnExactPrefixJet4) { EveryRoom(JetVersion::kJet4); }
TEST(FullDisk, EveryRoomStopsTheRunAtAnExactPrefixAce) { EveryRoom(JetVersion::kAce12); }
// Saves logged eight to a record: a group written after its saves returned
// never meets the full disk, since each save held its room.
TEST(FullDisk, EveryRoomStopsTheRunAtAnExactPrefixInGroups) {
  EveryRoom(JetVersion::kJet4, {8, uint64_t(1) << 20, {}});
}

}  // namespace
}  // namespace corvalin::engine
