// What the page file's cache keeps over a checkpoint: an append writes far
// more data pages than the cache holds, and the index leaves it changes
// save after save must not be the pages that make way for them.
#include <gtest/gtest.h>

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

TEST(PageCache, LeavesChangedAmongManyNewDataPagesStayCachedOverACheckpoint) {
  std::vector<uint8_t> file_bytes(2 * kPageSize), log_bytes;
  int file_reads = 0, log_reads = 0;
  std::shared_ptr<PageFile> file = PageFile::Over(
      std::make_unique<CountingStorage>("cache.db", file_bytes, file_reads),
      std::make_unique<CountingStorage>("cache.db-log", log_bytes, log_reads));
  file->Configure(kPageSize, nullptr);
  file->BeginWrite();

  // Page 1 is the leaf; every save adds a data page and changes the leaf,
  // until the new pages outnumber the cache.
  std::vector<uint8_t> leaf(kPageSize, 0), data(kPageSize, 0);
  leaf[0] = kLeafPageType;
  data[0] = kDataPageType;
  for (uint32_t save = 0; save < 6000; ++save) {
    leaf[100 + save % 3000] = uint8_t(save % 251 + 1);
    data[8] = uint8_t(save);
    file->Write(file->page_count(), data);
    file->Write(1, leaf);
    file->Commit();
  }
  file->Sync();

  file_reads = 0;
  EXPECT_EQ(*file->Read(1), leaf);
  EXPECT_EQ(file_reads, 0) << "the leaf was read back from the file after the checkpoint";
  // The data pages are still all there, in the file.
  EXPECT_EQ(file->page_count(), 6002u);
  EXPECT_EQ(file->Read(2)->at(8), 0);
  EXPECT_EQ(file_bytes.size(), size_t(6002) * kPageSize);
}

}  // namespace
}  // namespace corvalin::engine
