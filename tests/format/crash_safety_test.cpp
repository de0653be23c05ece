// Saves cut short: a simulated device under the page file and its log
// records every write and sync and stops the process after write k. The
// state it leaves is then taken two ways: as the end of the process (the
// kernel keeps every write) and as a power loss (the device keeps what was
// synced, a random part of the writes since, and a torn last write). After
// the next open the file must pass the check and hold its old rows plus an
// exact prefix of the appended ones.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "db/engine/ado/connection.h"
#include "db/engine/error.h"
#include "db/engine/format/check.h"
#include "db/engine/format/database.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/page_log.h"
#include "db/engine/format/table_writer.h"
#include "tests/support/corpus.h"
#include "tests/support/bytes_storage.h"
#include "tests/support/file_bytes.h"
#include "tests/support/fixture.h"

namespace corvalin::engine {
namespace {

struct Crash {};

// The device: the database file (0) and its log (1).
class Device {
 public:
  struct Op {
    bool truncate = false;
    uint64_t offset = 0;  // the new size for a truncate
    std::vector<uint8_t> bytes;
  };
  struct File {
    std::vector<uint8_t> now;      // what the kernel holds
    std::vector<uint8_t> durable;  // on the device at the last sync
    std::vector<Op> since_sync;
  };

  Device(std::vector<uint8_t> database, std::vector<uint8_t> log = {}) {
    files[0].now = files[0].durable = std::move(database);
    files[1].now = files[1].durable = std::move(log);
  }

  // Counts a write, or stops the process when it is write crash_after + 1.
  void BeforeWrite(int f) {
    if (crashed) throw Crash{};
    if (f == 0 && fail_database_writes)
      throw Error(kErrIo, "cannot write file crash.db: Input/output error");
    if (f == 1 && fail_log_writes_after >= 0 && log_writes++ >= fail_log_writes_after)
      throw Error(kErrIo, "cannot write file crash.db-log: Input/output error");
    if (crash_after >= 0 && writes == crash_after) {
      crashed = true;
      throw Crash{};
    }
    ++writes;
  }
  void Sync(int f) {
    if (crashed) throw Crash{};
    ++syncs;
    files[f].durable = files[f].now;
    files[f].since_sync.clear();
  }

  // File f after a power loss: each write since its last sync kept or not
  // at random, the last one kept only in part.
  std::vector<uint8_t> AfterPowerLoss(int f, std::mt19937& random) const {
    const File& file = files[f];
    std::vector<uint8_t> out = file.durable;
    for (size_t i = 0; i < file.since_sync.size(); ++i) {
      const Op& op = file.since_sync[i];
      if (random() % 2 == 0) continue;
      if (op.truncate) {
        out.resize(op.offset);
        continue;
      }
      size_t length = op.bytes.size();
      if (i + 1 == file.since_sync.size()) length = random() % (length + 1);
      if (out.size() < op.offset + length) out.resize(op.offset + length);
      std::copy_n(op.bytes.begin(), length, out.begin() + op.offset);
    }
    return out;
  }

  File files[2];
  int64_t crash_after = -1;
  int64_t writes = 0;
  int64_t syncs = 0;
  bool crashed = false;
  bool fail_database_writes = false;  // as a failing disk does
  int64_t fail_log_writes_after = -1;  // the log's writes that succeed, when not -1
  int64_t log_writes = 0;
};

class DeviceStorage : public testing::BytesStorage {
 public:
  DeviceStorage(Device& device, int f, std::string path, bool writable = true)
      : BytesStorage(std::move(path), writable), device_(device), f_(f) {}
  void Write(uint64_t offset, std::span<const uint8_t> data) override {
    device_.BeforeWrite(f_);
    if (bytes().size() < offset + data.size()) bytes().resize(offset + data.size());
    std::copy(data.begin(), data.end(), bytes().begin() + offset);
    device_.files[f_].since_sync.push_back({false, offset, {data.begin(), data.end()}});
  }
  void Truncate(uint64_t size) override {
    device_.BeforeWrite(f_);
    bytes().resize(size);
    device_.files[f_].since_sync.push_back({true, size, {}});
  }
  void Sync() override { device_.Sync(f_); }

 private:
  std::vector<uint8_t>& bytes() override { return device_.files[f_].now; }
  Device& device_;
  int f_;
};

std::shared_ptr<Database> OpenOn(Device& device, bool writable = true,
                                 SaveGrouping grouping = {}) {
  auto file = PageFile::Over(std::make_unique<DeviceStorage>(device, 0, "crash.db", writable),
                             std::make_unique<DeviceStorage>(device, 1, "crash.db-log"), grouping);
  return Database::Open(file, {"", writable});
}

// Runs f in a child process, which f ends with _exit as a kill would end
// it: no destructor runs, nothing is closed or synced.
void InAProcessThatDies(const std::function<void()>& f) {
  const pid_t child = ::fork();
  if (child == 0) {
    try {
      f();
    } catch (const Error& e) {
      std::fprintf(stderr, "child: %s\n", e.description().c_str());
      ::_exit(1);
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Ends the process as a kill would, with the database open, a while after
// its last save returned: a save reaches the log a few hundredths of a
// second after it returns, written by the page file's own thread when no
// further save comes (the wait leaves room for a loaded machine).
[[noreturn]] void EndAWhileAfterTheLastSave() {
  ::usleep(250'000);
  ::_exit(0);
}

std::string Key(const Value& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* n = std::get_if<int32_t>(&v)) return std::to_string(*n);
  return "?";
}

struct Scenario {
  std::vector<uint8_t> base;  // the database before the run
  std::string table;
  size_t key_column = 0;      // unique per row
  std::vector<std::vector<Value>> rows;  // appended in order
  size_t sync_every = 25;     // saves between sync points (more after a split)
  SaveGrouping grouping;      // saves in one record of the log: one by default
};

struct Run {
  size_t returned = 0;  // saves that returned
  std::vector<std::pair<int64_t, int64_t>> split_writes;  // saves that added pages, and their sync
  int depth_before = 0, depth_after = 0;  // of the deepest index
};

int Depth(Database& db, const IndexDef& index) {
  int depth = 1;
  for (uint32_t p = index.first_page;; ++depth) {
    IndexPage page = DecodeIndexPage(*db.file().Read(p), db.format(), db.path(), p);
    if (page.leaf) return depth;
    p = page.entries.empty() ? page.tail_page : page.entries.front().child_page;
  }
}

int DeepestIndex(Database& db, const TableDef& table) {
  int depth = 0;
  for (const IndexDef& index : table.indexes) depth = std::max(depth, Depth(db, index));
  return depth;
}

// Appends the scenario's rows until the device stops the process.
Run Append(const Scenario& s, Device& device) {
  Run run;
  try {
    auto db = OpenOn(device, true, s.grouping);
    auto table = db->ReadTableDef(s.table);
    run.depth_before = DeepestIndex(*db, *table);
    TableWriter writer(db, table);
    size_t since_sync = 0;
    for (const auto& row : s.rows) {
      const uint32_t pages = db->file().page_count();
      const int64_t before = device.writes;
      writer.Insert(row);
      ++run.returned;
      const bool split = db->file().page_count() > pages;
      // A sync point after each save that added pages, so that crashes
      // fall into the checkpoints that carry them too.
      if (split || ++since_sync == s.sync_every) {
        db->file().Sync();
        since_sync = 0;
      }
      if (split) run.split_writes.emplace_back(before, device.writes);
    }
    run.depth_after = DeepestIndex(*db, *db->ReadTableDef(s.table));
  } catch (const Crash&) {
  }
  return run;
}

// The keys of the table's rows.
std::multiset<std::string> Keys(Database& db, const std::string& table_name, size_t column) {
  auto table = db.ReadTableDef(table_name);
  std::multiset<std::string> keys;
  for (RowId row : db.ListRows(*table)) keys.insert(Key(db.ReadRow(*table, row)[column]));
  return keys;
}

// The keys of the scenario's table before the run.
std::multiset<std::string> OldKeys(const Scenario& s) {
  Device device(s.base);
  return Keys(*OpenOn(device, false), s.table, s.key_column);
}

// Opens what the crash left (recovery), checks it, and returns how many of
// the appended rows it holds, or -1 when they are not old rows plus an
// exact prefix.
// Checks the database and returns how many of the appended rows it holds,
// or -1 when they are not old rows plus an exact prefix.
int KeptPrefix(Database& db, const Scenario& s, const std::multiset<std::string>& old_keys,
               const std::string& what) {
  EXPECT_EQ(CheckDatabase(db), std::vector<std::string>{}) << what;
  std::multiset<std::string> keys = Keys(db, s.table, s.key_column);
  std::multiset<std::string> expected = old_keys;
  for (size_t m = 0; m <= s.rows.size(); ++m) {
    if (keys.size() == expected.size()) return keys == expected ? int(m) : -1;
    if (m < s.rows.size()) expected.insert(Key(s.rows[m][s.key_column]));
  }
  return -1;
}

int Recovered(const Scenario& s, const std::multiset<std::string>& old_keys,
              std::vector<uint8_t> database, std::vector<uint8_t> log, const std::string& what) {
  Device device(std::move(database), std::move(log));
  return KeptPrefix(*OpenOn(device), s, old_keys, what);
}

struct Counts {
  size_t crash_points = 0;
  size_t power_losses = 0;
};

// Crashes the scenario after each write k in ks, both ways.
void CrashAt(const Scenario& s, const std::vector<int64_t>& ks, Counts& counts) {
  const std::multiset<std::string> old_keys = OldKeys(s);
  for (int64_t k : ks) {
    Device device(s.base);
    device.crash_after = k;
    const Run run = Append(s, device);
    const std::string what = "crash after write " + std::to_string(k) + ", " +
                             std::to_string(run.returned) + " saves returned";
    const int kept = Recovered(s, old_keys, device.files[0].now, device.files[1].now,
                               what + ", process ended");
    // The end of the process keeps every save that returned, but for those
    // of a group not yet written.
    EXPECT_GE(kept, int(run.returned) - int(s.grouping.most_saves - 1)) << what;
    EXPECT_LE(kept, int(run.returned) + 1) << what;
    ++counts.crash_points;
    std::mt19937 random(uint32_t(k) * 7919u + 17u);
    for (int loss = 0; loss < 2; ++loss) {
      const int after_loss = Recovered(s, old_keys, device.AfterPowerLoss(0, random),
                                       device.AfterPowerLoss(1, random), what + ", power lost");
      EXPECT_GE(after_loss, 0) << what << ", power lost";
      EXPECT_LE(after_loss, int(run.returned) + 1) << what;
      ++counts.power_losses;
    }
    if (::testing::Test::HasFailure()) return;
  }
}

// Every crash point of the saves that split index pages or add a level.
void CrashEverySplittingSave(const Scenario& s, const char* name) {
  Device device(s.base);
  const Run full = Append(s, device);
  ASSERT_EQ(full.returned, s.rows.size());
  EXPECT_GT(full.depth_after, full.depth_before) << "no save added a level";
  std::set<int64_t> ks;
  for (const auto& [from, to] : full.split_writes)
    for (int64_t k = from; k <= to; ++k) ks.insert(k);
  Counts counts;
  CrashAt(s, {ks.begin(), ks.end()}, counts);
  std::cout << "[ counts   ] " << name << ": " << full.split_writes.size()
            << " saves that add pages, " << counts.crash_points << " crash points, "
            << counts.power_losses << " power losses, " << device.writes << " writes, "
            << device.syncs << " syncs in the whole run\n";
}

// Letters whose keys are known in every sort order (no ß before an accent,
// which the key encoder refuses where Access's rule is not known).
std::string Letters(std::mt19937& random, size_t n) {
  static const char* const kPieces[] = {"a", "B", "k", "z", " ", "\xC3\xA9", "\xC3\xB1",
                                        "\xC3\xB6", "s", "q", "M"};
  std::string s;
  for (size_t i = 0; i < n; ++i) s += kPieces[random() % std::size(kPieces)];
  return s;
}

// A table with a Long primary key, a long indexed text (keys land anywhere
// and fill pages fast) and a memo, some of whose values need pages of
// their own; `old` rows are in it before the run.
Scenario KeyedTable(JetVersion version, size_t old, size_t added, size_t text_length,
                    uint32_t seed) {
  using testing::Column;
  std::mt19937 random(seed);
  auto row = [&](int32_t id) -> std::vector<Value> {
    const size_t body = id % 9 == 0 ? 2500 : 40 + random() % 200;
    return {id, Letters(random, text_length), Letters(random, body)};
  };
  testing::TableData t{{"Items",
                        {Column("ID", DataType::kLong), testing::TextColumn("Name", 255),
                         Column("Body", DataType::kMemo)},
                        {testing::Index("PrimaryKey", {"ID"}, true), testing::Index("Name", {"Name"})}},
                       {}};
  for (size_t i = 1; i <= old; ++i) t.rows.push_back(row(int32_t(i)));
  Scenario s;
  s.base = testing::ReadFileBytes(testing::MakeDatabase("crash.accdb", version, {t}));
  s.table = "Items";
  for (size_t i = old + 1; i <= old + added; ++i) s.rows.push_back(row(int32_t(i)));
  return s;
}

TEST(CrashSafety, EverySaveThatSplitsPagesOrAddsALevelJet4) {
  CrashEverySplittingSave(KeyedTable(JetVersion::kJet4, 10, 120, 120, 1), "Jet4");
}

TEST(CrashSafety, EverySaveThatSplitsPagesOrAddsALevelAce) {
  CrashEverySplittingSave(KeyedTable(JetVersion::kAce12, 10, 120, 120, 2), "ACE12");
}

// Saves logged three to a record: a crash keeps whole groups.
TEST(CrashSafety, EverySaveThatSplitsPagesOrAddsALevelInGroups) {
  for (JetVersion version : {JetVersion::kJet4, JetVersion::kAce12}) {
    Scenario s = KeyedTable(version, 10, 120, 120, version == JetVersion::kJet4 ? 4 : 6);
    s.grouping.most_saves = 3;
    CrashEverySplittingSave(s, JetVersionName(version));
  }
}

TEST(CrashSafety, EverySaveThatSplitsPagesOrAddsALevelJet3) {
  CORVALIN_REQUIRE_CORPUS();
  // Table14: a text key, and a 255-character text in an index of its own:
  // a few keys fill a page of 2 KB.
  Scenario s;
  s.base = testing::ReadFileBytes(testing::CopyOfCorpusFile("V1997/testIndexCodesV1997.mdb"));
  s.table = "Table14";
  std::mt19937 random(3);
  for (int i = 0; i < 60; ++i)
    s.rows.push_back({"crash " + std::to_string(i), Letters(random, 120 + random() % 100)});
  CrashEverySplittingSave(s, "Jet3");
}

// Crashes at random writes of appends of a few thousand rows.
TEST(CrashSafety, RandomCrashPointsOfLongAppends) {
  for (JetVersion version : {JetVersion::kJet4, JetVersion::kAce12}) {
    Scenario s = KeyedTable(version, 100, 2000, 30, 5);
    s.sync_every = 400;
    s.grouping.most_saves = 16;
    Device device(s.base);
    ASSERT_EQ(Append(s, device).returned, s.rows.size());
    std::mt19937 random(11);
    std::vector<int64_t> ks;
    for (int i = 0; i < 12; ++i) ks.push_back(int64_t(random() % uint64_t(device.writes)));
    Counts counts;
    CrashAt(s, ks, counts);
    std::cout << "[ counts   ] " << JetVersionName(version) << ", 2,000 rows: "
              << counts.crash_points << " crash points, " << counts.power_losses
              << " power losses, " << device.writes << " writes\n";
  }
}

// The log of an encrypted file holds its pages encoded, never plain text,
// and a file left with such a log opens complete with its password.
TEST(CrashSafety, LogOfAnEncryptedFileHoldsNoPlainText) {
  CORVALIN_REQUIRE_CORPUS();
  namespace fs = std::filesystem;
  for (const char* name : {"encrypted/V2010_with-password.accdb", "encrypted/db-enc.mdb"}) {
    SCOPED_TRACE(name);
    const std::string password = std::string(name).find("password") != std::string::npos
                                     ? "password" : "";
    const std::string copy = testing::CopyOfCorpusFile(name);
    InAProcessThatDies([&] {
      auto db = Database::Open(copy, {password, true});
      TableWriter writer(db, db->ReadTableDef("Table1"));
      const size_t columns = writer.table().columns.size();
      for (int i = 0; i < 40; ++i) {
        std::vector<Value> row(columns, Null{});
        row[1] = std::string("plainly visible ") + std::to_string(i);
        writer.Insert(row);
      }
      EndAWhileAfterTheLastSave();
    });
    std::vector<uint8_t> log = testing::ReadFileBytes(LogPathFor(copy));
    ASSERT_GT(log.size(), PageLog::kHead);
    for (const std::string& plain : {std::string("plainly"), std::string("p\0l\0a\0i\0n\0l\0y\0", 14)})
      EXPECT_EQ(std::search(log.begin(), log.end(), plain.begin(), plain.end()), log.end())
          << "the log holds plain text";
    auto db = Database::Open(copy, {password, false});
    EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>{});
    auto table = db->ReadTableDef("Table1");
    EXPECT_EQ(db->ReadRow(*table, db->ListRows(*table).back())[1], Value(std::string("plainly visible 39")));
  }
}

// Every open of an encoded file configures its page file again: the pages
// that saves added since the last sync point stay in it.
TEST(CrashSafety, AnotherOpenOfAnEncodedFileKeepsThePagesSavesAdded) {
  CORVALIN_REQUIRE_CORPUS();
  const std::string path = testing::CopyOfCorpusFile("encrypted/db-enc.mdb");
  {
    auto db = Database::Open(path, {"", true});
    TableWriter writer(db, db->ReadTableDef("Table1"));
    const uint32_t pages = db->file().page_count();
    std::vector<Value> row(writer.table().columns.size(), Null{});
    for (int i = 0; writer.Insert(row), db->file().page_count() == pages; ++i) {
      row[1] = std::string(i % 50 + 1, 'x');
    }
    auto reader = Database::Open(path, {});
    EXPECT_GT(db->file().page_count(), pages);
    for (int i = 0; i < 100; ++i) writer.Insert(row);
    EXPECT_EQ(CheckDatabase(*reader), std::vector<std::string>{});
  }
  EXPECT_EQ(CheckDatabase(*Database::Open(path, {})), std::vector<std::string>{});
}

// The page seam: a database opened over a page file the test provides.
TEST(PageSeam, FailedWriteIsTheEnginesErrorNamingFileAndPage) {
  Scenario s = KeyedTable(JetVersion::kAce12, 5, 20, 20, 9);
  Device device(s.base);
  {
    auto db = OpenOn(device);
    TableWriter writer(db, db->ReadTableDef(s.table));
    for (const auto& row : s.rows) writer.Insert(row);
    device.fail_database_writes = true;
    try {
      db->file().Sync();
      ADD_FAILURE() << "the sync point did not fail";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kErrIo);
      EXPECT_NE(e.description().find("cannot write page "), std::string::npos) << e.description();
      EXPECT_NE(e.description().find("of file crash.db"), std::string::npos) << e.description();
    }
  }
  // The saves stay in the log: the next open completes them.
  device.fail_database_writes = false;
  auto db = OpenOn(device);
  EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>{});
  EXPECT_EQ(db->ReadTableDef(s.table)->row_count, 25u);
}

// A group's record that the writer thread fails to write is lost whole:
// the next save that hands it a record is refused, saying records were
// lost, the file takes nothing more, and the next open finds the old rows
// and the groups written before it.
TEST(PageSeam, AGroupTheWriterThreadCannotWriteIsLostWhole) {
  Scenario s = KeyedTable(JetVersion::kJet4, 5, 60, 20, 10);
  s.grouping = {4, uint64_t(1) << 20, {}, true};
  const std::multiset<std::string> old_keys = OldKeys(s);
  Device device(s.base);
  device.fail_log_writes_after = 6;  // the log's head and five groups
  size_t returned = 0;
  std::string error;
  {
    auto db = OpenOn(device, true, s.grouping);
    TableWriter writer(db, db->ReadTableDef(s.table));
    try {
      for (const auto& row : s.rows) {
        writer.Insert(row);
        ++returned;
      }
    } catch (const Error& e) {
      error = e.description();
    }
  }
  ASSERT_FALSE(error.empty()) << "no save was refused";
  EXPECT_NE(error.find("records saved in file crash.db are lost"), std::string::npos) << error;
  EXPECT_NE(error.find("Input/output error"), std::string::npos) << error;
  device.fail_log_writes_after = -1;
  EXPECT_EQ(Recovered(s, old_keys, device.files[0].now, device.files[1].now, "a group lost"), 20)
      << returned << " saves returned";
}

TEST(PageSeam, ConnectionOverATestPageFileReportsAFailedSyncOnClose) {
  Scenario s = KeyedTable(JetVersion::kAce12, 5, 0, 20, 9);
  Device device(s.base);
  ado::Connection connection;
  connection.SetMode(ado::kModeReadWrite);
  connection.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=crash.db",
                  PageFile::Over(std::make_unique<DeviceStorage>(device, 0, "crash.db"),
                                 std::make_unique<DeviceStorage>(device, 1, "crash.db-log")));
  {
    TableWriter writer(connection.database(), connection.database()->ReadTableDef(s.table));
    writer.Insert({int32_t(100), std::string("x"), std::string("y")});
    const int64_t writes = device.writes;  // the first save starts the log too
    writer.Insert({int32_t(101), std::string("x"), std::string("y")});
    EXPECT_EQ(device.writes, writes + 1) << "a save is one write to the log";
    EXPECT_EQ(device.files[0].now, s.base) << "the file waits for a sync point";
  }
  device.fail_database_writes = true;
  try {
    connection.Close();
    ADD_FAILURE() << "the close did not fail";
  } catch (const Error& e) {
    EXPECT_NE(e.description().find("of file crash.db"), std::string::npos) << e.description();
  }
  EXPECT_FALSE(connection.IsOpen());
}

TEST(PageSeam, ReadOnlyFileThatNeedsRecoveryIsNotOpened) {
  Scenario s = KeyedTable(JetVersion::kJet4, 5, 10, 20, 4);
  Device device(s.base);
  device.crash_after = 6;
  Append(s, device);
  ASSERT_TRUE(device.crashed);
  Device after(device.files[0].now, device.files[1].now);
  try {
    OpenOn(after, false);
    ADD_FAILURE() << "a torn file was opened";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrReadOnly);
    EXPECT_NE(e.description().find("file crash.db"), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("cannot be written"), std::string::npos) << e.description();
  }
  EXPECT_EQ(after.files[0].now, device.files[0].now) << "nothing may be written";
}

// Files on disk: real runs killed at random moments keep every save that
// returned a tenth of a second before the kill (the page file writes a
// group of saves to its log within a few hundredths of a second), and then
// an exact prefix. The sanitizers' build runs several times slower, and
// gets half a second.
TEST(CrashSafety, AKillKeepsEverySaveThatReturnedATenthOfASecondBefore) {
#if defined(__SANITIZE_ADDRESS__)
  constexpr auto kBound = std::chrono::milliseconds(500);
#else
  constexpr auto kBound = std::chrono::milliseconds(100);
#endif
  using Clock = std::chrono::steady_clock;
  const Scenario s = KeyedTable(JetVersion::kJet4, 10, 20000, 30, 8);
  const std::multiset<std::string> old_keys = OldKeys(s);
  // When each save returned (the clock is the system's, shared by both
  // processes), in memory the child and this process share.
  const size_t bytes = sizeof(std::atomic<int64_t>) * s.rows.size();
  void* shared = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  auto* returned = static_cast<std::atomic<int64_t>*>(shared);
  const std::string path = testing::MakeDatabase("killed-in-time.mdb", {});
  std::mt19937 random(12);
  std::chrono::nanoseconds worst{0};
  for (int kill = 0; kill < 6; ++kill) {
    std::filesystem::remove(LogPathFor(path));
    testing::WriteFileBytes(path, s.base);
    for (size_t i = 0; i < s.rows.size(); ++i) returned[i] = 0;
    const pid_t child = ::fork();
    if (child == 0) {
      try {
        auto db = Database::Open(path, {"", true});
        TableWriter writer(db, db->ReadTableDef(s.table));
        for (size_t i = 0; i < s.rows.size(); ++i) {
          writer.Insert(s.rows[i]);
          returned[i] = Clock::now().time_since_epoch().count();
        }
      } catch (...) {
      }
      ::pause();
      ::_exit(1);
    }
    ::usleep(useconds_t(150'000 + random() % 450'000));
    const Clock::time_point killed = Clock::now();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const std::string what = "kill " + std::to_string(kill);
    const int kept = KeptPrefix(*Database::Open(path, {}), s, old_keys, what);
    ASSERT_GE(kept, 0) << what << ": not the old rows and an exact prefix";
    ASSERT_GT(returned[0], 0) << what << ": no save returned before the kill";
    // The first save lost, when it returned before the kill.
    if (size_t(kept) < s.rows.size() && returned[kept] != 0) {
      const auto lag = killed - Clock::time_point(Clock::duration(returned[kept]));
      worst = std::max(worst, std::chrono::duration_cast<std::chrono::nanoseconds>(lag));
      size_t saves = 0;
      while (saves < s.rows.size() && returned[saves] != 0) ++saves;
      EXPECT_LT(lag, kBound) << what << ": save " << kept + 1 << " of the " << saves
                             << " that returned before the kill was lost";
    }
  }
  ::munmap(shared, bytes);
  std::cout << "[ counts   ] 6 kills; the oldest save lost had returned "
            << std::chrono::duration_cast<std::chrono::milliseconds>(worst).count()
            << " ms before its kill\n";
}

// Files on disk: a writer's process ends in the middle of its run; a
// reader's open completes the file and removes the log. The last close of
// a writer removes its log.
TEST(CrashSafety, FileLeftByAKilledWriterIsCompletedByTheNextReader) {
  namespace fs = std::filesystem;
  Scenario s = KeyedTable(JetVersion::kAce12, 10, 300, 40, 6);
  const std::string path = testing::MakeDatabase("killed.accdb", {});
  testing::WriteFileBytes(path, s.base);
  const std::string copy = path;
  InAProcessThatDies([&] {
    auto db = Database::Open(path, {"", true});
    TableWriter writer(db, db->ReadTableDef(s.table));
    for (const auto& row : s.rows) writer.Insert(row);
    EndAWhileAfterTheLastSave();
  });
  ASSERT_TRUE(fs::exists(LogPathFor(path)));
  // The same log beside another file put in the copy's place belongs to
  // none of it: it is removed unread.
  const std::string other = path + ".other.accdb";
  fs::copy_file(copy, other);
  fs::copy_file(LogPathFor(copy), LogPathFor(other));
  testing::WriteFileBytes(other, s.base);
  {
    auto db = Database::Open(other, {"", true});
    EXPECT_FALSE(fs::exists(LogPathFor(other)));
    EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>{});
    EXPECT_EQ(Keys(*db, s.table, 0).size(), 10u);
  }
  {
    auto db = Database::Open(copy, {});
    EXPECT_FALSE(fs::exists(LogPathFor(copy)));
    EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>{});
    EXPECT_EQ(Keys(*db, s.table, 0).size(), 310u);
  }
  {
    auto writer = Database::Open(copy, {"", true});
    TableWriter(writer, writer->ReadTableDef(s.table)).Insert({int32_t(9999), std::string("a"), std::string("b")});
    EXPECT_TRUE(fs::exists(LogPathFor(copy)));
  }
  EXPECT_FALSE(fs::exists(LogPathFor(copy))) << "the last close removes the log";
}

// Files on disk: a writer's log threads (the one that writes its records,
// the one that flushes them) and their descriptors go with the file's last
// close, file after file. The removed log's last descriptor is closed by a
// short-lived thread of its own, so both counts may take a moment to fall.
TEST(CrashSafety, AWritersThreadsAndDescriptorsGoWithItsLastClose) {
  namespace fs = std::filesystem;
  auto count = [](const char* folder) {
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator{});
  };
  auto settled = [&](const char* folder, std::ptrdiff_t expected) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (count(folder) != expected && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return count(folder);
  };
  const Scenario s = KeyedTable(JetVersion::kJet4, 10, 4000, 30, 31);
  const auto descriptors = count("/proc/self/fd");
  const auto threads = count("/proc/self/task");
  for (int file = 0; file < 3; ++file) {
    const std::string path = testing::MakeDatabase("threads-" + std::to_string(file) + ".mdb", {});
    testing::WriteFileBytes(path, s.base);
    {
      auto db = Database::Open(path, {"", true});
      TableWriter writer(db, db->ReadTableDef(s.table));
      for (const auto& row : s.rows) writer.Insert(row);
      EXPECT_GE(count("/proc/self/task"), threads + 2) << "no log threads while file " << file
                                                       << " is written";
    }
    EXPECT_FALSE(fs::exists(LogPathFor(path)));
    EXPECT_EQ(settled("/proc/self/fd", descriptors), descriptors) << "after file " << file;
    EXPECT_EQ(settled("/proc/self/task", threads), threads) << "after file " << file;
    EXPECT_EQ(Keys(*Database::Open(path, {}), s.table, 0).size(), 4010u);
  }
}

// A sync point cut short leaves its log marked "writing the file", which a
// file's changed stamp cannot disown (the sync point changed it). Such a
// log stands for the file only while the file's size is one the sync
// point could have left; a file put in its place with another size (a
// backup, another database) is read as it is, and the log removed unread.
TEST(CrashSafety, ALogLeftByASyncPointCutShortSkipsAnotherFilePutInItsPlace) {
  namespace fs = std::filesystem;
  const Scenario s = KeyedTable(JetVersion::kAce12, 10, 200, 40, 21);
  // The device refuses the database file's writes: the first sync point
  // marks the log and fails, leaving the log as a crash in it would.
  Device device(s.base);
  device.fail_database_writes = true;
  size_t saved = 0;
  try {
    auto db = OpenOn(device);
    TableWriter writer(db, db->ReadTableDef(s.table));
    for (const auto& row : s.rows) {
      writer.Insert(row);
      ++saved;
    }
    db->file().Sync();
  } catch (const Error&) {
  }
  const std::vector<uint8_t> log = device.files[1].now;
  uint64_t most_size = 0;
  {
    std::vector<uint8_t> copy = log;
    testing::VectorStorage storage("crash.db-log", copy);
    const LoggedSaves saves = FindLoggedSaves(storage);
    ASSERT_TRUE(saves.writing);
    ASSERT_GT(saves.records, 0u);
    most_size = uint64_t(saves.most_pages) * saves.page_size;
  }
  const std::multiset<std::string> old_keys = OldKeys(s);
  // Another database, smaller (an older backup) and larger, in the file's
  // place: opened as it is, by a reader and by a writer.
  const Scenario smaller = KeyedTable(JetVersion::kAce12, 2, 0, 40, 22);
  const Scenario larger = KeyedTable(JetVersion::kAce12, 400, 0, 40, 23);
  ASSERT_LT(smaller.base.size(), s.base.size());
  ASSERT_GT(larger.base.size(), most_size);
  for (const Scenario* other : {&smaller, &larger}) {
    for (const bool writable : {false, true}) {
      const std::string what = std::string(other == &smaller ? "smaller" : "larger") +
                                " file, opened by a " + (writable ? "writer" : "reader");
      const std::string path = testing::MakeDatabase("put-in-place.accdb", {});
      testing::WriteFileBytes(path, other->base);
      testing::WriteFileBytes(LogPathFor(path), log);
      auto db = Database::Open(path, {"", writable});
      EXPECT_FALSE(fs::exists(LogPathFor(path))) << what;
      EXPECT_EQ(testing::ReadFileBytes(path), other->base) << what;
      EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>{}) << what;
      EXPECT_EQ(Keys(*db, other->table, 0).size(), other == &smaller ? 2u : 400u) << what;
    }
  }
  // The file the log was written for, as the sync point left it (none of
  // its writes reached it), takes the log's saves; so it does from the
  // same log in the first layout (an earlier version's: no file size in
  // its head, records from byte 40), whose mark is taken as it stands.
  std::vector<uint8_t> first_layout(log.begin(), log.begin() + 40);
  std::memcpy(first_layout.data(), "CrvlLog1", 8);
  const uint64_t sum = LogChecksum(0, {first_layout.data(), 32});
  for (int i = 0; i < 8; ++i) first_layout[32 + i] = uint8_t(sum >> (8 * i));
  first_layout.insert(first_layout.end(), log.begin() + PageLog::kHead, log.end());
  const std::vector<uint8_t>* const logs[] = {&log, &first_layout};
  for (const std::vector<uint8_t>* left : logs) {
    const std::string what = left == &log ? "the file the log was written for"
                                          : "the same, a log of the first layout";
    const std::string path = testing::MakeDatabase("left-by-sync-point.accdb", {});
    testing::WriteFileBytes(path, s.base);
    testing::WriteFileBytes(LogPathFor(path), *left);
    auto db = Database::Open(path, {});
    EXPECT_FALSE(fs::exists(LogPathFor(path))) << what;
    const int kept = KeptPrefix(*db, s, old_keys, what);
    EXPECT_GT(kept, 0) << what;
    EXPECT_LE(size_t(kept), saved) << what;
  }
}

}  // namespace
}  // namespace corvalin::engine
