// What the page file's cache keeps over a checkpoint: an append writes far
// more data pages than the cache holds, and the index leaves it changes
// save after save must not be the pages that make way for them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/engine/format/data_page.h"
#include "db/engine/format/page_file.h"
#include "tests/support/bytes_storage.h"

namespace corvalin::engine {
namespace {

constexpr uint32_t kPageSize = 4096;
constexpr uint8_t kLeafPageType = 0x04;

// A file in memory that counts the pages read from it.
class CountingStorage : public testing::VectorStorage {
 public:
  CountingStorage(std::string path, std::vector<uint8_t>& bytes, int& reads)
      : VectorStorage(std::move(path), bytes), reads_(reads) {}
  size_t Read(uint64_t offset, uint8_t* const* buffers, size_t count, size_t each) override {
    reads_ += int(count);
    return VectorStorage::Read(offset, buffers, count, each);
  }

 private:
  int& reads_;
};

// A database file of `pages` zero pages in memory, with its log, open for
// writing; the file's reads are counted in file_reads.
class PageCache : public ::testing::Test {
 protected:
  std::shared_ptr<PageFile> WrittenFile(uint32_t pages) {
    file_bytes.assign(size_t(pages) * kPageSize, 0);
    std::shared_ptr<PageFile> file = PageFile::Over(
        std::make_unique<CountingStorage>("cache.db", file_bytes, file_reads),
        std::make_unique<CountingStorage>("cache.db-log", log_bytes, log_reads));
    file->Configure(kPageSize, nullptr);
    file->BeginWrite();
    leaf.assign(kPageSize, 0);
    data.assign(kPageSize, 0);
    leaf[0] = kLeafPageType;
    data[0] = kDataPageType;
    return file;
  }

  std::vector<uint8_t> file_bytes, log_bytes;
  int file_reads = 0, log_reads = 0;
  std::vector<uint8_t> leaf, data;  // a leaf and a data page to write
};

TEST_F(PageCache, LeavesChangedAmongManyNewDataPagesStayCachedOverACheckpoint) {
  std::shared_ptr<PageFile> file = WrittenFile(2);
  // Page 1 is the leaf; every save adds a data page and changes the leaf,
  // until the new pages outnumber the cache.
  for (uint32_t save = 0; save < 6000; ++save) {
    leaf[100 + save % 3000] = uint8_t(save % 251 + 1);
    data[8] = uint8_t(save);
    file->Write(file->page_count(), data);
    file->Write(1, leaf);
    file->Commit();
  }
  file->Sync();

  file_reads = 0;
  EXPECT_TRUE(std::ranges::equal(*file->Read(1), leaf));
  EXPECT_EQ(file_reads, 0) << "the leaf was read back from the file after the checkpoint";
  // The data pages are still all there, in the file.
  EXPECT_EQ(file->page_count(), 6002u);
  EXPECT_EQ(file->Read(2)->at(8), 0);
  EXPECT_EQ(file_bytes.size(), size_t(6002) * kPageSize);
}

// More leaves than a file only read may keep, changed in turn among new
// data pages over several checkpoints: a written file keeps every leaf, and
// lets the data pages it grew by go (but for the last ones written), which
// read back as they were written.
TEST_F(PageCache, AWrittenFileKeepsItsLeavesAndLetsItsNewDataPagesGo) {
  constexpr uint32_t kLeaves = 6000;  // past the 4,096 pages of a file only read
  std::shared_ptr<PageFile> file = WrittenFile(1);
  for (uint32_t n = 1; n <= kLeaves; ++n) {
    leaf[8] = uint8_t(n);
    file->Write(n, leaf);
  }
  file->Commit();
  file->Sync();

  auto leaf_bytes = [&](uint32_t n, uint32_t round) {
    std::vector<uint8_t> bytes = leaf;
    bytes[8] = uint8_t(n);
    bytes[9] = uint8_t(round + 1);
    return bytes;
  };
  constexpr uint32_t kRounds = 3;
  for (uint32_t round = 0; round < kRounds; ++round) {
    for (uint32_t n = 1; n <= kLeaves; ++n) {
      data[8] = uint8_t(n);
      data[9] = uint8_t(round);
      file->Write(file->page_count(), data);
      file->Write(n, leaf_bytes(n, round));
      file->Commit();
    }
    file->Sync();
  }

  file_reads = 0;
  for (uint32_t n = 1; n <= kLeaves; ++n)
    ASSERT_TRUE(std::ranges::equal(*file->Read(n), leaf_bytes(n, kRounds - 1))) << "leaf " << n;
  EXPECT_EQ(file_reads, 0) << "leaves were read back from the file after the checkpoints";
  const uint32_t last = file->page_count() - 1;
  EXPECT_EQ(file->Read(last)->at(8), uint8_t(kLeaves));
  EXPECT_EQ(file_reads, 0) << "the last data page written was let go";
  // One written a few hundred saves before it was let go.
  EXPECT_EQ(file->Read(last - 300)->at(8), uint8_t(kLeaves - 300));
  EXPECT_EQ(file_reads, 1) << "a data page filled long before the checkpoint stayed in memory";
  // The first data page of the first round, long let go, comes back from
  // the file as it was written.
  PagePtr first = file->Read(kLeaves + 1);
  EXPECT_GT(file_reads, 0);
  EXPECT_EQ(first->at(0), kDataPageType);
  EXPECT_EQ(first->at(8), 1);
  EXPECT_EQ(first->at(9), 0);
}

}  // namespace
}  // namespace corvalin::engine
