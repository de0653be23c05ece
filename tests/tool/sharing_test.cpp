// Sharing a database file between processes: a source is only read (it may
// be read-only, or belong to someone else), two runs read one source at
// once, and readers in other processes see the file as some checkpoint left
// it while an append writes it, never waiting longer than one checkpoint.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/log_recovery.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/page_log.h"
#include "db/engine/format/table_writer.h"
#include "tests/support/command.h"
#include "tests/support/corpus.h"
#include "tests/support/fixture.h"
#include "tests/support/readers.h"

extern char** environ;

namespace corvalin::engine {
namespace {

namespace fs = std::filesystem;
using testing::Quote;
using testing::RunCommand;
using testing::Tool;
using testing::ToolCheck;
using testing::ToolExport;
using Clock = std::chrono::steady_clock;

// "T" (n: Long, the primary key; t: Text(50), indexed) with rows 1..rows
// in the file, made by one writer in this process (closed again when this
// returns). The text index's keys land all over its pages, so a reader that
// met them half written would see it.
std::string NumberedFile(const std::string& name, long rows) {
  testing::TableData table;
  table.definition.name = "T";
  table.definition.columns = {testing::Column("n", DataType::kLong), testing::TextColumn("t")};
  table.definition.indexes = {testing::Index("n", {"n"}, true), testing::Index("t", {"t"})};
  const std::string path = testing::MakeDatabase(name, {table});
  auto db = Database::Open(path, {"", true});
  TableWriter writer(db, db->ReadTableDef("T"));
  for (long n = 1; n <= rows; ++n)
    writer.Insert({int32_t(n), std::to_string(n * 7919 % 100003) + " row " + std::to_string(n)});
  return path;
}

// An empty "T" of the same shape.
std::string EmptyFile(const std::string& name) { return NumberedFile(name, 0); }

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string AppendCommand(const std::string& from, const std::string& to) {
  return Tool() + " append " + Quote(from) + " T " + Quote(to) + " T";
}

// A command started through the shell, waited for later.
class Started {
 public:
  explicit Started(const std::string& command) {
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    if (::posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
      pid_ = -1;
  }
  ~Started() {
    if (pid_ > 0) Wait();
  }
  bool running() {
    if (pid_ <= 0 || done_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      done_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return !done_;
  }
  int Wait() {
    if (pid_ > 0 && !done_) {
      int status = 0;
      ::waitpid(pid_, &status, 0);
      done_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  bool done_ = false;
  int status_ = -1;
};

// The export lines of "T" of a file holding rows 1..rows.
std::vector<std::string> ExpectedLines(const std::vector<std::string>& source, size_t rows) {
  return {source.begin(), source.begin() + 1 + rows};
}

// A source that cannot be written (mode 0444) is appended from: it is opened
// for reading only, nothing beside it is made, and its bytes stay.
TEST(Sharing, ReadOnlySourceIsAppendedFrom) {
  const std::string source = NumberedFile("readonly-source.accdb", 500);
  const std::string target = EmptyFile("readonly-target.accdb");
  fs::permissions(source, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string before = FileBytes(source);
  auto run = RunCommand(AppendCommand(source, target));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "added 500, refused 0\n");
  EXPECT_EQ(FileBytes(source), before);
  EXPECT_FALSE(fs::exists(LogPathFor(source)));
  EXPECT_EQ(ToolExport(target, "T"), ToolExport(source, "T"));
  EXPECT_EQ(ToolCheck(target), "");
  // The source is only read, so a Mode 3 open of it in this process takes
  // no write access either, until something is written.
  auto db = Database::Open(source, {"", true});
  EXPECT_TRUE(db->file().writable());
  EXPECT_EQ(FileBytes(source), before);
}

// Run by a user who may only read the source (it belongs to root, 0644,
// in a folder the user cannot write) into a target the user owns.
TEST(Sharing, SourceTheUserMayOnlyReadIsAppendedFrom) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
  if (RunCommand("command -v setpriv").status != 0) GTEST_SKIP() << "setpriv is missing";
  constexpr int kNobody = 65534;
  const fs::path base = fs::temp_directory_path() / ("corvalin-sharing-" + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base / "theirs");
  fs::create_directories(base / "mine");
  fs::permissions(base, fs::perms(0755));
  fs::permissions(base / "theirs", fs::perms(0755));
  const std::string source = (base / "theirs" / "source.accdb").string();
  const std::string target = (base / "mine" / "target.accdb").string();
  fs::copy_file(NumberedFile("theirs.accdb", 300), source);
  fs::copy_file(EmptyFile("mine.accdb"), target);
  fs::permissions(source, fs::perms(0644));
  ASSERT_EQ(::chown((base / "mine").c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
  const std::string as_nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  // The tool itself must be reachable by that user.
  if (RunCommand(as_nobody + Tool() + " --version").status != 0) {
    fs::remove_all(base);
    GTEST_SKIP() << "the tool cannot be run as uid 65534 from where it was built";
  }
  const std::string before = FileBytes(source);
  auto run = RunCommand(as_nobody + AppendCommand(source, target));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "added 300, refused 0\n");
  EXPECT_EQ(FileBytes(source), before);
  EXPECT_FALSE(fs::exists(LogPathFor(source)));
  EXPECT_EQ(ToolExport(target, "T"), ToolExport(source, "T"));
  // Writing the source as that user is refused, naming the file.
  auto back = RunCommand(as_nobody + AppendCommand(target, source));
  EXPECT_EQ(back.status, 1);
  EXPECT_NE(back.err.find(source), std::string::npos) << back.err;
  EXPECT_EQ(FileBytes(source), before);
  fs::remove_all(base);
}

// Two runs from one source into two targets at once.
TEST(Sharing, TwoRunsFromOneSourceAtOnce) {
  const std::string source = NumberedFile("shared-source.accdb", 20000);
  const std::string first = EmptyFile("first-target.accdb");
  const std::string second = EmptyFile("second-target.accdb");
  Started a(AppendCommand(source, first) + " >/dev/null");
  Started b(AppendCommand(source, second) + " >/dev/null");
  EXPECT_EQ(a.Wait(), 0);
  EXPECT_EQ(b.Wait(), 0);
  const std::vector<std::string> rows = ToolExport(source, "T");
  ASSERT_EQ(rows.size(), 20001u);
  EXPECT_EQ(ToolExport(first, "T"), rows);
  EXPECT_EQ(ToolExport(second, "T"), rows);
}

// While an append writes, checks and exports in other processes see the
// file as some save left it: no damage, the rows an exact prefix of the
// source's; none waits long.
TEST(Sharing, ReadersDuringAnAppendSeeNoDamage) {
  constexpr long kRows = 300000;
  const std::string source = NumberedFile("big-source.accdb", kRows);
  const std::string target = EmptyFile("big-target.accdb");
  const std::vector<std::string> rows = ToolExport(source, "T");
  ASSERT_EQ(rows.size(), size_t(kRows) + 1);
  Started append(AppendCommand(source, target) + " >/dev/null");
  int checks = 0, during = 0, exports = 0;
  double longest = 0, longest_open = 0;
  // Twenty checks or more, spread over the append's whole length.
  while (checks < 20 || (append.running() && checks < 80)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const bool running = append.running();
    const auto start = Clock::now();
    EXPECT_EQ(ToolCheck(target), "") << "check " << checks;
    longest = std::max(longest, std::chrono::duration<double>(Clock::now() - start).count());
    ++checks;
    if (running && append.running()) ++during;
    // A reader in this process: its open waits at most for a checkpoint
    // under way (a few thousand pages), never for the append.
    const auto open = Clock::now();
    { auto reader = PageFile::Get(target, false); }
    longest_open = std::max(longest_open, std::chrono::duration<double>(Clock::now() - open).count());
    if (checks % 7 == 0) {
      auto seen = ToolExport(target, "T");
      ASSERT_FALSE(seen.empty());
      ASSERT_LE(seen.size(), rows.size());
      EXPECT_EQ(seen, ExpectedLines(rows, seen.size() - 1));
      ++exports;
    }
  }
  EXPECT_EQ(append.Wait(), 0);
  EXPECT_GE(during, 2) << "the append ended before the checks began: make it longer";
  // A check that waited for the append would take about as long as the
  // append's rest. Against a check of the whole file with nothing writing,
  // timed here in the same conditions (a sanitizer build on a loaded
  // machine makes every check slower), one during the append may take three
  // times as long, a checkpoint's wait included, and no more.
  const auto settled = Clock::now();
  EXPECT_EQ(ToolCheck(target), "");
  const double reference = std::chrono::duration<double>(Clock::now() - settled).count();
  EXPECT_LT(longest, std::max(30.0, 3 * reference))
      << "a check of the whole file took " << reference << " s";
  EXPECT_LT(longest_open, 5.0);
  EXPECT_EQ(ToolExport(target, "T"), rows);
  EXPECT_FALSE(fs::exists(LogPathFor(target)));
  std::fprintf(stderr, "[ sharing ] %d checks, %d during the append, %d exports; longest check "
               "%.2f s (%.2f s for the whole file after); longest open %.3f s\n", checks, during,
               exports, longest, reference, longest_open);
}

// A reader that holds the file keeps every checkpoint out: the writer's
// saves go into its synced log, its close waits a few seconds and leaves
// the log; the reader still sees the file as it was, and the next open
// with no reader left applies the log.
TEST(Sharing, WriterClosingWhileReadIsCompletedByTheNextOpen) {
  const std::string source = NumberedFile("held-source.accdb", 2000);
  const std::string target = EmptyFile("held-target.accdb");
  {
    auto reader = Database::Open(target, {});
    const auto start = Clock::now();
    auto run = RunCommand(AppendCommand(source, target));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(LogPathFor(target)));
    EXPECT_LT(seconds, 20.0);
    EXPECT_TRUE(reader->ListRows(*reader->ReadTableDef("T")).empty());
  }
  EXPECT_EQ(ToolCheck(target), "");
  EXPECT_FALSE(fs::exists(LogPathFor(target)));
  EXPECT_EQ(ToolExport(target, "T"), ToolExport(source, "T"));
}

// A reader's open waits for a checkpoint under way (here the readers' byte
// held alone, as a checkpoint holds it), and for nothing else: a live
// writer between checkpoints does not keep it out.
TEST(Sharing, ReaderWaitsForACheckpointUnderWayAndNoLonger) {
  const std::string path = NumberedFile("checkpointed.accdb", 100);
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(TryLock(fd, LockByte::kRead, true));
  Started check(Tool() + " check " + Quote(path));
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_TRUE(check.running()) << "a reader read while a checkpoint wrote the file";
  const auto released = Clock::now();
  Unlock(fd, LockByte::kRead);
  EXPECT_EQ(check.Wait(), 0);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - released).count(), 5.0);
  ASSERT_TRUE(TryLock(fd, LockByte::kWriter, true));
  const auto start = Clock::now();
  EXPECT_EQ(ToolCheck(path), "");
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);
  ::close(fd);
}

// A connection that may write, opened before another process appended to
// the file (whose close, kept out by this reader, left its log): the first
// write applies that log, finds the file changed since it was read and
// refuses the save; opened again, it adds after the other process's rows.
TEST(Sharing, FirstWriteAfterAnotherProcessWroteAsksForANewOpen) {
  const std::string source = NumberedFile("changed-source.accdb", 50);
  const std::string target = EmptyFile("changed-target.accdb");
  {
    auto db = Database::Open(target, {"", true});
    TableWriter rows(db, db->ReadTableDef("T"));
    auto run = RunCommand(AppendCommand(source, target));
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(fs::exists(LogPathFor(target)));
    try {
      rows.Insert({int32_t(51), std::string("fifty-one")});
      ADD_FAILURE() << "a save went in on what the file held before";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kErrFileLocked);
      EXPECT_NE(e.description().find("changed by another program"), std::string::npos)
          << e.description();
    }
    EXPECT_FALSE(fs::exists(LogPathFor(target)));
    auto again = Database::Open(target, {"", true});
    TableWriter(again, again->ReadTableDef("T")).Insert({int32_t(51), std::string("fifty-one")});
    EXPECT_EQ(again->ListRows(*again->ReadTableDef("T")).size(), 51u);
  }
  EXPECT_EQ(ToolCheck(target), "");
}

// In one process a reader and a writer of one file share it without
// locking each other out; another process that writes the file is refused
// at its first write, not at its open, naming the file.
TEST(Sharing, OneProcessReadsAndWritesAnotherIsRefusedAtItsFirstWrite) {
  const std::string path = NumberedFile("one-process.accdb", 10);
  const std::string other = EmptyFile("other.accdb");
  auto reader = Database::Open(path, {});
  auto writer = Database::Open(path, {"", true});
  TableWriter rows(writer, writer->ReadTableDef("T"));
  rows.Insert({int32_t(11), std::string("eleven")});
  const auto start = Clock::now();
  writer->file().Sync();
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.0);
  EXPECT_EQ(reader->ListRows(*reader->ReadTableDef("T")).size(), 11u);
  // Reading it from another process goes on; writing it is refused.
  auto read = RunCommand(AppendCommand(path, other));
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out, "added 11, refused 0\n");
  auto write = RunCommand(AppendCommand(other, path));
  EXPECT_EQ(write.status, 1);
  EXPECT_NE(write.err.find("locked by another process: " + path), std::string::npos) << write.err;
  rows.Insert({int32_t(12), std::string("twelve")});
}

}  // namespace
}  // namespace corvalin::engine
