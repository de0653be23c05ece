// The in-place leaf change on its own: over a leaf of mixed entry sizes
// (so that entry ends cross the mask's words), every entry it adds, first
// place included, gives the bytes a re-encoding gives, and every one it
// declines leaves the page as it was.
#include "db/engine/format/index_leaf_patch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "db/engine/format/database.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/page_write_set.h"
#include "tests/support/fixture.h"

namespace corvalin::engine {
namespace {

// Keys sharing the byte 'k'; number i has i % 4 bytes of padding, so the
// entries' sizes differ.
std::vector<uint8_t> Key(int i) {
  std::vector<uint8_t> key{'k', uint8_t('0' + i / 10), uint8_t('0' + i % 10)};
  key.insert(key.end(), size_t(i % 4), uint8_t('x'));
  return key;
}

bool Before(const IndexEntry& a, const IndexEntry& b) {
  return CompareIndexEntries(a.key, a.row, b.key, b.row) < 0;
}

class LeafPatch : public ::testing::TestWithParam<JetVersion> {
 protected:
  void SetUp() override {
    const std::string file = GetParam() == JetVersion::kJet4 ? "leaf.mdb" : "leaf.accdb";
    db_ = Database::Open(testing::OneTableFile(file), {});
    pages_ = std::make_unique<PageWriteSet>(db_->file());
    for (int i = 0; i < 80; i += 2) leaf_.entries.push_back({Key(i), RowId{300u + i, 1}, 0});
  }

  // A new page holding leaf_ as EncodeIndexPage writes it, and its bytes
  // as the patcher reads them.
  uint32_t Encoded(LeafBytes& bytes) {
    pages_->Discard();
    const uint32_t n = pages_->Allocate();
    EXPECT_TRUE(EncodeIndexPage(leaf_, db_->format(), pages_->Modify(n)));
    EXPECT_TRUE(ReadLeafBytes(pages_->View(n), db_->format(), false, bytes));
    return n;
  }

  const uint8_t* Area(uint32_t n) {
    return pages_->View(n).data() + IndexPageAreasFor(db_->format()).entries;
  }

  std::shared_ptr<Database> db_;
  std::unique_ptr<PageWriteSet> pages_;
  IndexPage leaf_;
  LeafPatchScratch scratch_;
};

TEST_P(LeafPatch, EntriesAddedInPlaceGiveTheBytesOfAReencoding) {
  const JetFormat& format = db_->format();
  size_t patched = 0, declined = 0;
  // Every odd key goes between two present ones; "k0" goes first and keeps
  // the prefix every entry shares ("k"), so the old first entry is stored
  // without it; "a" (first) and "z" (last) change that prefix, so they
  // cannot go in place.
  std::vector<std::vector<uint8_t>> keys;
  for (int i = 1; i < 80; i += 2) keys.push_back(Key(i));
  keys.push_back({'k', '0'});
  keys.push_back({'a'});
  keys.push_back({'z'});
  for (const std::vector<uint8_t>& key : keys) {
    SCOPED_TRACE(std::string(key.begin(), key.end()));
    LeafBytes bytes;
    const uint32_t n = Encoded(bytes);
    const IndexEntry added{key, RowId{0x012345, 7}, 0};
    const size_t expected = size_t(
        std::lower_bound(leaf_.entries.begin(), leaf_.entries.end(), added, Before) -
        leaf_.entries.begin());
    bool equal = true;
    const size_t at = LeafLowerBound(bytes, Area(n), key, &equal);
    EXPECT_EQ(at, expected);
    EXPECT_FALSE(equal);

    IndexPage with = leaf_;
    with.entries.insert(with.entries.begin() + at, added);
    PageData reencoded(format.page_size);
    ASSERT_TRUE(EncodeIndexPage(with, format, reencoded));
    const PageData before = pages_->View(n);
    if (PatchLeaf(*pages_, format, n, bytes, at, key, added.row, scratch_)) {
      ++patched;
      EXPECT_EQ(pages_->View(n), reencoded);
      LeafBytes again;
      ASSERT_TRUE(ReadLeafBytes(pages_->View(n), format, false, again));
      EXPECT_EQ(again.ends, bytes.ends);
      EXPECT_EQ(again.prefix, bytes.prefix);
      EXPECT_EQ(again.min_whole, bytes.min_whole);
    } else {
      ++declined;
      EXPECT_EQ(pages_->View(n), before);
    }
  }
  EXPECT_GE(patched, 31u);   // "k0" among them
  EXPECT_GE(declined, 2u);  // "a" and "z" at least
}

TEST_P(LeafPatch, KeysPresentAreFoundAndAbsentOnesPlaced) {
  LeafBytes bytes;
  const uint32_t n = Encoded(bytes);
  ASSERT_GT(bytes.prefix, 0u);  // the keys share "k"
  for (size_t i = 0; i < leaf_.entries.size(); ++i) {
    bool equal = false;
    EXPECT_EQ(LeafLowerBound(bytes, Area(n), leaf_.entries[i].key, &equal), i);
    EXPECT_TRUE(equal);
  }
  // Keys shorter than the shared prefix, within it, and past it.
  for (const char* text : {"", "a", "k", "k0", "k5", "k99", "l", "z"}) {
    SCOPED_TRACE(text);
    const std::vector<uint8_t> key(text, text + std::strlen(text));
    const IndexEntry probe{key, RowId{}, 0};
    const size_t expected = size_t(
        std::lower_bound(leaf_.entries.begin(), leaf_.entries.end(), probe, Before) -
        leaf_.entries.begin());
    bool equal = true;
    EXPECT_EQ(LeafLowerBound(bytes, Area(n), key, &equal), expected);
    EXPECT_FALSE(equal);
  }
}

// Entries of a few keys each repeated, as a category or a date is: a new
// row takes its place among its key's entries by its row pointer, and
// goes in as a re-encoding would have it. The pointers cross a 64K page
// boundary, so that the page's shared prefix reaches into them or not.
TEST_P(LeafPatch, ARepeatedKeyTakesItsRowsPlaceAmongItsEquals) {
  const JetFormat& format = db_->format();
  leaf_.entries.clear();
  const std::vector<std::vector<uint8_t>> keys{{'k', 'a'}, {'k', 'b'}, {'k', 'b', 'b'}};
  for (const auto& key : keys)
    for (uint32_t page : {0x00FFF0u, 0x00FFF1u, 0x010002u, 0x010100u})
      for (uint16_t row : {uint16_t(0), uint16_t(7)})
        leaf_.entries.push_back({key, {page, row}, 0});
  std::sort(leaf_.entries.begin(), leaf_.entries.end(), Before);
  size_t patched = 0;
  for (const auto& key : keys) {
    for (RowId row : {RowId{0x00FFF0, 3}, RowId{0x010002, 7}, RowId{0x010100, 9},
                      RowId{0x000001, 0}, RowId{0x200000, 0}}) {
      SCOPED_TRACE(std::string(key.begin(), key.end()) + " " + std::to_string(row.page) + "/" +
                   std::to_string(row.row));
      LeafBytes bytes;
      const uint32_t n = Encoded(bytes);
      const IndexEntry added{key, row, 0};
      const size_t expected = size_t(
          std::lower_bound(leaf_.entries.begin(), leaf_.entries.end(), added, Before) -
          leaf_.entries.begin());
      const size_t at = LeafLowerBound(bytes, Area(n), key, row);
      ASSERT_EQ(at, expected);
      IndexPage with = leaf_;
      with.entries.insert(with.entries.begin() + at, added);
      PageData reencoded(format.page_size);
      ASSERT_TRUE(EncodeIndexPage(with, format, reencoded));
      const PageData before = pages_->View(n);
      if (PatchLeaf(*pages_, format, n, bytes, at, key, row, scratch_)) {
        ++patched;
        EXPECT_EQ(pages_->View(n), reencoded);
      } else {
        EXPECT_EQ(pages_->View(n), before);
      }
    }
  }
  EXPECT_GE(patched, 10u);
}

// A leaf of one entry has no prefix; a new first entry sharing bytes with
// it would give it one, so only one sharing none goes in place.
TEST_P(LeafPatch, ALeafOfOneEntryTakesAFirstEntryOnlyWithoutAPrefix) {
  const JetFormat& format = db_->format();
  leaf_.entries.resize(1);
  for (const std::vector<uint8_t>& key : {std::vector<uint8_t>{'a'}, std::vector<uint8_t>{'k'}}) {
    LeafBytes bytes;
    const uint32_t n = Encoded(bytes);
    IndexPage with = leaf_;
    with.entries.insert(with.entries.begin(), IndexEntry{key, RowId{9, 1}, 0});
    PageData reencoded(format.page_size);
    ASSERT_TRUE(EncodeIndexPage(with, format, reencoded));
    const PageData before = pages_->View(n);
    const bool patched = PatchLeaf(*pages_, format, n, bytes, 0, key, RowId{9, 1}, scratch_);
    EXPECT_EQ(patched, key[0] == 'a');
    EXPECT_EQ(pages_->View(n), patched ? reencoded : before);
  }
}

// Entries sort by key, then row. A key that begins the others (an empty
// Binary value's is its flag byte alone) lets the first and last entries
// share bytes of its row pointer: an entry of that key with a row on
// another page goes between them without sharing them. It is declined in
// place, and the page encoded with it keeps every entry as it is.
TEST_P(LeafPatch, AnEntryBetweenTheEndsThatDiffersWithinTheirPrefixIsKeptWhole) {
  const JetFormat& format = db_->format();
  const std::vector<uint8_t> shortest{0x7f};
  leaf_.entries = {{shortest, RowId{5, 1}, 0}, {{0x7f, 0x00, 0x00, 0x33}, RowId{6, 1}, 0}};
  LeafBytes bytes;
  const uint32_t n = Encoded(bytes);
  ASSERT_EQ(bytes.prefix, 3u);  // the key byte and the row pointer's first two
  const RowId far{0x010a, 4};   // page 266: its pointer begins 00 01
  bool equal = true;
  EXPECT_EQ(LeafLowerBound(bytes, Area(n), shortest, &equal), 0u);
  const PageData before = pages_->View(n);
  EXPECT_FALSE(PatchLeaf(*pages_, format, n, bytes, 1, shortest, far, scratch_));
  EXPECT_EQ(pages_->View(n), before);

  IndexPage with = leaf_;
  with.entries.insert(with.entries.begin() + 1, IndexEntry{shortest, far, 0});
  PageData encoded(format.page_size);
  ASSERT_TRUE(EncodeIndexPage(with, format, encoded));
  const IndexPage back = DecodeIndexPage(encoded, format, "leaf", n);
  ASSERT_EQ(back.entries.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back.entries[i].key, with.entries[i].key) << i;
    EXPECT_EQ(back.entries[i].row, with.entries[i].row) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, LeafPatch,
                         ::testing::Values(JetVersion::kJet4, JetVersion::kAce12));

}  // namespace
}  // namespace corvalin::engine
