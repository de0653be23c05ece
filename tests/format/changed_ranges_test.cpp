// A writer that tells the save set which bytes of a page it changes lets
// the file look at those bytes alone, so a claim that misses a changed byte
// would lose it. These tests hold the set's ranges to what Commit hands the
// file, and the writers that claim ranges (the leaf patcher, the data page
// row adder) to their claims, on pages already in the file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/engine/format/data_page.h"
#include "db/engine/format/database.h"
#include "db/engine/format/index_leaf_patch.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/page_write_set.h"
#include "tests/format/format_test_pages.h"
#include "tests/support/fixture.h"

namespace corvalin::engine {
namespace {

// Pages in memory that note how each page came to them, and every byte a
// ranged write changed outside its ranges.
class ClaimsFile : public testing::MemoryPages {
 public:
  explicit ClaimsFile(uint32_t pages) : MemoryPages(std::vector<uint8_t>(pages * 4096), 4096) {}

  void Write(uint32_t n, std::span<const uint8_t> page) override {
    whole.push_back(n);
    MemoryPages::Write(n, page);
  }
  void WriteChanged(uint32_t n, std::span<const uint8_t> page,
                    std::span<const ByteRange> changed) override {
    ranged.emplace_back(n, std::vector<ByteRange>(changed.begin(), changed.end()));
    const uint8_t* old = Page(n);
    size_t at = 0;
    for (const ByteRange& r : changed) {
      EXPECT_LE(at, r.from) << "ranges out of order on page " << n;
      EXPECT_LT(r.from, r.to);
      at = r.to;
    }
    for (size_t i = 0; i < page.size(); ++i) {
      const bool claimed = std::any_of(changed.begin(), changed.end(), [&](const ByteRange& r) {
        return i >= r.from && i < r.to;
      });
      if (!claimed && page[i] != old[i]) ++unclaimed;
    }
    MemoryPages::Write(n, page);
  }

  std::vector<uint32_t> whole;
  std::vector<std::pair<uint32_t, std::vector<ByteRange>>> ranged;
  size_t unclaimed = 0;
};

TEST(ChangedRanges, TheSetHandsOverItsRangesSortedAndJoinedOrThePageWhole) {
  ClaimsFile file(8);
  PageWriteSet pages(file);
  pages.Modify(1, {300, 310});
  pages.Modify(1, {10, 20});
  pages.Modify(1, {20, 30});    // touches the one before: joined
  pages.Modify(1, {305, 400});  // overlaps
  pages.Modify(1, {4000, 5000})[4095] = 1;  // clipped at the page's end
  pages.Modify(2, {8, 9})[8] = 1;
  pages.Modify(2)[100] = 1;  // and whole after all
  for (uint32_t k = 0; k < 20; ++k) pages.Modify(3, {k * 100, k * 100 + 1});  // too many
  const uint32_t added = pages.Allocate();
  pages.Modify(added, {0, 1})[0] = 1;
  pages.Commit();

  EXPECT_EQ(file.whole, (std::vector<uint32_t>{added, 2, 3}));
  ASSERT_EQ(file.ranged.size(), 1u);
  EXPECT_EQ(file.ranged[0].first, 1u);
  EXPECT_EQ(file.ranged[0].second,
            (std::vector<ByteRange>{{10, 30}, {300, 400}, {4000, 4096}}));
  EXPECT_EQ(file.unclaimed, 0u);

  // The next save starts afresh with the same pages, now kept.
  file.whole.clear();
  file.ranged.clear();
  pages.Modify(1, {50, 60})[55] = 2;
  pages.Commit();
  EXPECT_TRUE(file.whole.empty());
  ASSERT_EQ(file.ranged.size(), 1u);
  EXPECT_EQ(file.ranged[0].second, (std::vector<ByteRange>{{50, 60}}));
}

// Keys of mixed sizes sharing a first byte, so the leaf has a prefix.
std::vector<uint8_t> Key(int i) {
  std::vector<uint8_t> key{'n', uint8_t('0' + i / 100), uint8_t('0' + i / 10 % 10),
                           uint8_t('0' + i % 10)};
  key.insert(key.end(), size_t(i % 5), uint8_t('y'));
  return key;
}

class Claims : public ::testing::TestWithParam<JetVersion> {
 protected:
  void SetUp() override {
    const std::string name = GetParam() == JetVersion::kJet4 ? "claims.mdb" : "claims.accdb";
    db_ = Database::Open(testing::OneTableFile(name), {});
  }
  std::shared_ptr<Database> db_;
};

TEST_P(Claims, ALeafPatchedInPlaceChangesOnlyWhatItClaims) {
  const JetFormat& format = db_->format();
  size_t patched = 0;
  // Every place in the leaf, the first included, with a page in the file.
  for (int place = 0; place <= 30; ++place) {
    SCOPED_TRACE("place " + std::to_string(place));
    ClaimsFile file(2);
    PageWriteSet pages(file);
    IndexPage leaf;
    for (int i = 0; i < 30; ++i) leaf.entries.push_back({Key(10 * i + 5), RowId{400u + i, 2}, 0});
    ASSERT_TRUE(EncodeIndexPage(leaf, format, pages.Modify(1)));
    pages.Commit();
    LeafBytes bytes;
    ASSERT_TRUE(ReadLeafBytes(pages.View(1), format, false, bytes));
    std::vector<uint8_t> key = Key(10 * place + (place % 2 ? 1 : 9));
    bool equal = false;
    const size_t at = LeafLowerBound(
        bytes, pages.View(1).data() + IndexPageAreasFor(format).entries, key, &equal);
    LeafPatchScratch scratch;
    if (!PatchLeaf(pages, format, 1, bytes, at, key, RowId{0x00ABCD, 3}, scratch)) continue;
    ++patched;
    file.whole.clear();
    pages.Commit();
    EXPECT_TRUE(file.whole.empty());
    EXPECT_EQ(file.ranged.size(), 1u);
    EXPECT_EQ(file.unclaimed, 0u);
  }
  EXPECT_GE(patched, 25u);
}

TEST_P(Claims, RowsAddedToADataPageChangeOnlyWhatTheyClaim) {
  const JetFormat& format = db_->format();
  ClaimsFile file(2);
  PageWriteSet pages(file);
  InitDataPage(pages.Modify(1), format, 77);
  pages.Commit();
  // Rows of growing sizes, a save each, until the page is full.
  size_t rows = 0;
  for (size_t size = 7;; size += 13) {
    const std::vector<uint8_t> row(size, uint8_t(size));
    if (!RowFitsOnDataPage(pages.View(1), format, row.size())) break;
    const uint16_t number = AddDataPageRow(pages, 1, format, row);
    EXPECT_EQ(number, rows);
    pages.Commit();
    ++rows;
  }
  EXPECT_GT(rows, 10u);
  EXPECT_EQ(file.ranged.size(), rows);
  EXPECT_EQ(file.unclaimed, 0u);
  // The rows read back as written.
  const PagePtr page = file.Read(1);
  for (uint16_t r = 0; r < rows; ++r) {
    DataRowSlot slot = DataPageRow(*page, format, r, file.path(), 1);
    ASSERT_EQ(slot.bytes.size(), 7 + 13 * size_t(r));
    EXPECT_EQ(slot.bytes[0], uint8_t(slot.bytes.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, Claims, ::testing::Values(JetVersion::kJet4, JetVersion::kAce12),
                         [](const auto& info) {
                           return info.param == JetVersion::kJet4 ? "Jet4" : "Ace12";
                         });

}  // namespace
}  // namespace corvalin::engine
