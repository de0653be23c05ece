// The log's file writes its large appends past the kernel's cache, and the
// database file the pages it grows by: what a later read of the file finds
// must be exactly what was written, whatever the offsets and lengths, and
// the writes must land in the file that was opened even when its name has
// moved on.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "db/engine/format/storage.h"
#include "tests/support/corpus.h"

namespace corvalin::engine {
namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  std::unique_ptr<Storage> file = PosixStorage(path, fd, false);
  std::vector<uint8_t> bytes(file->Size());
  EXPECT_EQ(file->Read(0, bytes), bytes.size());
  return bytes;
}

std::unique_ptr<Storage> OpenAppendStorage(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  EXPECT_GE(fd, 0);
  return PosixAppendStorage(path, fd);
}

TEST(AppendStorage, ReadsBackWhatAnyMixOfWritesLeft) {
  const std::string path = testing::TempDir() + "/append-storage.log";
  std::unique_ptr<Storage> file = OpenAppendStorage(path);
  std::vector<uint8_t> model;
  AlignedBytes aligned;
  std::mt19937 random(20261209);
  uint64_t end = 0;
  for (int k = 0; k < 70; ++k) {
    // Mostly records appended one after another at odd offsets, some of
    // them large; now and then a rewrite from near the start (a new
    // generation of the log) or a small head.
    size_t length = random() % 3 == 0 ? 1 + random() % 4000 : 200000 + random() % 2500000;
    uint64_t at = end;
    if (k % 17 == 16) at = 40;
    if (k % 23 == 22) at = random() % 8192, length = 4096 * (1 + random() % 300);
    std::vector<uint8_t> bytes(length);
    for (uint8_t& b : bytes) b = uint8_t(random());
    if (k % 2 == 0) {
      file->Write(at, bytes);
    } else {
      // From memory aligned as the file is: written without a copy.
      std::span<uint8_t> place = aligned.For(at, length);
      std::copy(bytes.begin(), bytes.end(), place.begin());
      file->Write(at, place);
    }
    if (model.size() < at + length) model.resize(at + length);
    std::copy(bytes.begin(), bytes.end(), model.begin() + ptrdiff_t(at));
    end = at + length;
    if (k % 10 == 9) {
      ASSERT_EQ(ReadAll(path), model) << "after write " << k;
    }
  }
  file->Sync();
  file.reset();
  EXPECT_EQ(ReadAll(path), model);
  std::remove(path.c_str());
}

TEST(AppendStorage, WritesTheFileOpenedWhenItsNameHasMoved) {
  const std::string path = testing::TempDir() + "/append-storage-moved.log";
  const std::string moved = path + ".moved";
  std::unique_ptr<Storage> file = OpenAppendStorage(path);
  ASSERT_EQ(std::rename(path.c_str(), moved.c_str()), 0);
  // Something else now goes by the first name.
  int other = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(other, 0);
  ::close(other);
  std::vector<uint8_t> bytes(1 << 20, 0x5a);
  file->Write(1000, bytes);
  file.reset();
  EXPECT_EQ(ReadAll(path).size(), 0u);
  const std::vector<uint8_t> written = ReadAll(moved);
  ASSERT_EQ(written.size(), 1000u + bytes.size());
  EXPECT_TRUE(std::all_of(written.begin() + 1000, written.end(), [](uint8_t b) { return b == 0x5a; }));
  std::remove(path.c_str());
  std::remove(moved.c_str());
}

// A checkpoint writes the pages a file grows by past the cache, mixed with
// cached writes of its older pages, reads of them in between, and pages of
// 2 KB (Access 97) that direct writes cannot take at every offset.
TEST(AppendStorage, PagesWrittenPastTheCacheReadBackAmongCachedOnes) {
  const std::string path = testing::TempDir() + "/past-cache.mdb";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  std::unique_ptr<Storage> file = PosixStorage(path, fd, true);
  std::vector<uint8_t> model;
  std::mt19937 random(1209);
  for (int k = 0; k < 40; ++k) {
    const size_t each = k % 5 == 4 ? 2048 : 4096;
    const size_t count = 1 + random() % 400;  // up to more than one piece of 1 MB
    const uint64_t pages_now = model.size() / each;
    // Mostly pages the file grows by; now and then older ones again.
    const uint64_t first = k % 3 == 2 && pages_now > 0 ? random() % pages_now : pages_now;
    std::vector<std::vector<uint8_t>> pages(count, std::vector<uint8_t>(each));
    std::vector<const uint8_t*> buffers;
    for (auto& page : pages) {
      for (uint8_t& b : page) b = uint8_t(random());
      buffers.push_back(page.data());
    }
    if (k % 2 == 0)
      file->WriteAllPastCache(first * each, buffers.data(), count, each);
    else
      file->WriteAll(first * each, buffers.data(), count, each);
    if (model.size() < (first + count) * each) model.resize((first + count) * each);
    for (size_t i = 0; i < count; ++i)
      std::copy(pages[i].begin(), pages[i].end(), model.begin() + ptrdiff_t((first + i) * each));
    // Read through the same descriptor as the page file does.
    std::vector<uint8_t> back(model.size());
    ASSERT_EQ(file->Read(0, back), back.size());
    ASSERT_EQ(back, model) << "after write " << k;
  }
  file->Sync();
  file.reset();
  EXPECT_EQ(ReadAll(path), model);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace corvalin::engine
