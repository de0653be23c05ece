// The pages a save set keeps from one save to the next must always be the
// file's: after its own saves, after a refused one, and after another
// writer changed the same pages. Each step compares what the set shows
// with what the file itself reads.
#include "db/engine/format/page_write_set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/engine/format/database.h"
#include "tests/support/fixture.h"

namespace corvalin::engine {
namespace {

class KeptPages : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = Database::Open(testing::OneTableFile("kept.mdb"), {"", true});
    db_->BeginWrite();
    pages_ = std::make_unique<PageWriteSet>(db_->file());
    // Pages of our own to change: new ones, so that the file stays valid.
    for (int i = 0; i < 12; ++i) numbers_.push_back(pages_->Allocate());
    pages_->Commit();
  }

  // Every page of ours as the set shows it is the file's page.
  void ExpectSetShowsTheFile(PageWriteSet& set) {
    for (uint32_t n : numbers_) {
      SCOPED_TRACE("page " + std::to_string(n));
      EXPECT_EQ(set.View(n), *db_->file().Read(n));
    }
  }

  std::shared_ptr<Database> db_;
  std::unique_ptr<PageWriteSet> pages_;
  std::vector<uint32_t> numbers_;
};

TEST_F(KeptPages, SavesThatChangeMorePagesThanAreKeptReadBackAsWritten) {
  // Each save changes a page written by the one before (kept) and one
  // further off (gone from the kept ones), so both ways are taken.
  for (size_t save = 0; save < 3 * numbers_.size(); ++save) {
    const uint32_t recent = numbers_[save % numbers_.size()];
    const uint32_t far = numbers_[(save * 7 + 3) % numbers_.size()];
    pages_->Modify(recent)[100 + save] = uint8_t(save + 1);
    pages_->Modify(far)[2000 + save] = uint8_t(save + 2);
    pages_->Commit();
    ExpectSetShowsTheFile(*pages_);
    pages_->Discard();
  }
  EXPECT_EQ(db_->file().Read(numbers_[5])->at(100 + 5), 6);
}

// Pages a thousand and more apart take each other's place among the kept
// ones: whichever a save finds, it sees the file's bytes.
TEST_F(KeptPages, PagesThatTakeEachOthersPlaceReadBackAsWritten) {
  constexpr int kFar = 2100;  // more pages than the set keeps, twice over
  std::vector<uint32_t> far;
  for (int i = 0; i < kFar; ++i) far.push_back(pages_->Allocate());
  pages_->Commit();
  for (int round = 0; round < 2; ++round) {
    for (size_t i = 0; i < far.size(); i += 97) {
      pages_->Modify(far[i])[8 + round] = uint8_t(i % 251 + 1);
      pages_->Modify(numbers_[i % numbers_.size()])[600 + round] = uint8_t(round + 1);
      pages_->Commit();
    }
  }
  numbers_.insert(numbers_.end(), far.begin(), far.end());
  ExpectSetShowsTheFile(*pages_);
  EXPECT_EQ(pages_->View(far[97 * 3])[9], uint8_t(97 * 3 % 251 + 1));
}

TEST_F(KeptPages, ARefusedSaveLeavesTheKeptPagesAsTheFileHasThem) {
  pages_->Modify(numbers_[0])[10] = 0xAA;
  pages_->Commit();
  pages_->Modify(numbers_[0])[10] = 0xBB;  // kept page, now changed
  pages_->Modify(numbers_[1])[10] = 0xCC;
  pages_->Discard();
  ExpectSetShowsTheFile(*pages_);
  EXPECT_EQ(pages_->View(numbers_[0])[10], 0xAA);
  EXPECT_EQ(pages_->View(numbers_[1])[10], 0x00);
}

TEST_F(KeptPages, AnotherWritersChangeIsSeenAndKept) {
  pages_->Modify(numbers_[0])[10] = 0x11;
  pages_->Commit();
  {
    PageWriteSet other(db_->file());
    other.Modify(numbers_[0])[20] = 0x22;
    other.Commit();
  }
  ExpectSetShowsTheFile(*pages_);
  pages_->Discard();
  pages_->Modify(numbers_[0])[30] = 0x33;
  pages_->Commit();
  const PagePtr page = db_->file().Read(numbers_[0]);
  EXPECT_EQ(page->at(10), 0x11);
  EXPECT_EQ(page->at(20), 0x22);  // not lost to a stale copy
  EXPECT_EQ(page->at(30), 0x33);
}

}  // namespace
}  // namespace corvalin::engine
