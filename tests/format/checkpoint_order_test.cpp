// The order in which a checkpoint writes the database file decides what
// another program sees if the writer dies midway: the pages the file grows
// by go first (nothing in the file leads to them yet), and only then the
// older pages that do lead to them.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/engine/format/page_file.h"
#include "tests/support/bytes_storage.h"

namespace corvalin::engine {
namespace {

constexpr uint32_t kPageSize = 4096;

// A file in memory that notes the page of every write, in order.
class RecordingStorage : public testing::VectorStorage {
 public:
  RecordingStorage(std::string path, std::vector<uint8_t>& bytes, std::vector<uint32_t>& pages)
      : VectorStorage(std::move(path), bytes), pages_(pages) {}
  void Write(uint64_t offset, std::span<const uint8_t> data) override {
    for (uint64_t at = offset; at < offset + data.size(); at += kPageSize)
      pages_.push_back(uint32_t(at / kPageSize));
    VectorStorage::Write(offset, data);
  }

 private:
  std::vector<uint32_t>& pages_;
};

TEST(CheckpointOrder, PagesTheFileGrowsByAreWrittenBeforeTheOlderOnes) {
  std::vector<uint8_t> file_bytes(10 * kPageSize, 0), log_bytes;
  std::vector<uint32_t> written, log_written;
  std::shared_ptr<PageFile> file = PageFile::Over(
      std::make_unique<RecordingStorage>("order.db", file_bytes, written),
      std::make_unique<RecordingStorage>("order.db-log", log_bytes, log_written));
  file->Configure(kPageSize, nullptr);
  file->BeginWrite();

  // Two checkpoints, each after saves that change older pages (among them
  // the last page the file had) and add pages after it.
  std::vector<uint8_t> page(kPageSize, 0);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("checkpoint " + std::to_string(round));
    const uint32_t old_count = file->page_count();
    for (uint32_t save = 0; save < 5; ++save) {
      page[64] = uint8_t(10 * round + save + 1);
      file->Write(file->page_count(), page);
      file->Write(1 + save % 3, page);
      file->Write(old_count - 1, page);
      file->Commit();
    }
    written.clear();
    file->Sync();
    ASSERT_EQ(written.size(), 5u + 4u);
    // Each part in page order, the new pages first.
    EXPECT_EQ(written, (std::vector<uint32_t>{old_count, old_count + 1, old_count + 2,
                                               old_count + 3, old_count + 4, 1, 2, 3,
                                               old_count - 1}));
  }
  EXPECT_EQ(file_bytes.size(), 20u * kPageSize);
}

}  // namespace
}  // namespace corvalin::engine
