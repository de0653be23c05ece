// Index pages: decoding a hand-made page, damaged pages, and walking every
// index of every plain corpus file: one entry per row, in key order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"
#include "tests/support/corpus.h"

namespace corvalin::engine {
namespace {

namespace fs = std::filesystem;
constexpr uint8_t kIgnoreNulls = 0x02;

// A Jet4 leaf with two entries sharing a 2-byte prefix.
std::vector<uint8_t> TwoEntryLeaf() {
  std::vector<uint8_t> p(4096, 0);
  p[0] = kIndexLeafPageType;
  p[1] = 0x01;
  p[4] = 7;  // owner
  p[24] = 2;  // prefix length
  const uint8_t first[] = {0x7F, 0x41, 0x42, 0x00, 0x00, 0x09, 0x03};
  const uint8_t second[] = {0x43, 0x00, 0x00, 0x0A, 0x00};  // 7F 41 shared
  std::memcpy(&p[480], first, sizeof first);
  std::memcpy(&p[480 + sizeof first], second, sizeof second);
  size_t end1 = sizeof first, end2 = end1 + sizeof second;
  p[27 + end1 / 8] |= uint8_t(1u << (end1 % 8));
  p[27 + end2 / 8] |= uint8_t(1u << (end2 % 8));
  return p;
}

TEST(IndexPage, DecodesEntriesRestoringTheSharedPrefix) {
  auto page = TwoEntryLeaf();
  IndexPage ip = DecodeIndexPage(page, JetFormat::For(JetVersion::kJet4), "f", 5);
  ASSERT_TRUE(ip.leaf);
  EXPECT_EQ(ip.owner, 7u);
  ASSERT_EQ(ip.entries.size(), 2u);
  EXPECT_EQ(ip.entries[0].key, (std::vector<uint8_t>{0x7F, 0x41, 0x42}));
  EXPECT_EQ(ip.entries[0].row, (RowId{9, 3}));
  EXPECT_EQ(ip.entries[1].key, (std::vector<uint8_t>{0x7F, 0x41, 0x43}));
  EXPECT_EQ(ip.entries[1].row, (RowId{10, 0}));
}

TEST(IndexPage, DamagedPagesAreRefusedNamingThePage) {
  const JetFormat& f = JetFormat::For(JetVersion::kJet4);
  auto expect_damaged = [&](std::vector<uint8_t> p) {
    try {
      DecodeIndexPage(p, f, "x.mdb", 12);
      ADD_FAILURE() << "accepted a damaged page";
    } catch (const Error& e) {
      EXPECT_NE(e.description().find("12"), std::string::npos) << e.description();
    }
  };
  auto p = TwoEntryLeaf();
  p[0] = 0x01;  // a data page
  expect_damaged(p);
  p = TwoEntryLeaf();
  p[24] = 40;  // prefix longer than the first entry
  expect_damaged(p);
  p = TwoEntryLeaf();
  p[27 + 452] = 0x80;  // an entry ending past the page
  expect_damaged(p);
  p = TwoEntryLeaf();
  std::fill(p.begin() + 27, p.begin() + 480, 0);
  p[27] = 0x02;  // a one-byte entry, shorter than its row pointer
  expect_damaged(p);
  expect_damaged(std::vector<uint8_t>(100, 0x04));
}

// Long text keys that share more than 255 bytes: a Jet3 page records at
// most 255 of them as its prefix, a Jet4 page all.
TEST(IndexPage, SharedPrefixFitsItsLengthField) {
  for (JetVersion version : {JetVersion::kJet3, JetVersion::kJet4}) {
    const JetFormat& format = JetFormat::For(version);
    IndexPage page;
    page.owner = 9;
    for (uint8_t last : {1, 2, 3}) {
      IndexEntry e;
      e.key.assign(300, 0x61);
      e.key.insert(e.key.begin(), 0x7F);
      e.key.push_back(last);
      e.row = {uint32_t(40 + last), last};
      page.entries.push_back(e);
    }
    std::vector<uint8_t> out(format.page_size);
    ASSERT_TRUE(EncodeIndexPage(page, format, out));
    IndexPage back = DecodeIndexPage(out, format, "memory.mdb", 5);
    EXPECT_EQ(back.prefix_length, version == JetVersion::kJet3 ? 255 : 301);
    ASSERT_EQ(back.entries.size(), page.entries.size());
    for (size_t i = 0; i < page.entries.size(); ++i) {
      EXPECT_EQ(back.entries[i].key, page.entries[i].key);
      EXPECT_EQ(back.entries[i].row, page.entries[i].row);
    }
  }
}

TEST(IndexPage, EveryCorpusIndexHoldsOneEntryPerRowInKeyOrder) {
  CORVALIN_REQUIRE_CORPUS();
  size_t files = 0, indexes = 0, entries = 0;
  for (const auto& de : fs::recursive_directory_iterator(testing::CorpusDir())) {
    std::string path = de.path().string();
    if (!de.is_regular_file() || path.find("/encrypted/") != std::string::npos) continue;
    if (de.path().extension() != ".mdb" && de.path().extension() != ".accdb") continue;
    std::shared_ptr<Database> db;
    try {
      db = Database::Open(path, {});
    } catch (const Error&) {
      continue;  // passworded or encrypted: covered by the opening tests
    }
    SCOPED_TRACE(path);
    ++files;
    auto file = PageFile::Get(path, false);
    const JetFormat& format = JetFormat::For(db->version());
    for (const CatalogEntry& c : db->Catalog()) {
      if ((c.type & 0x7FFF) != 1) continue;
      auto table = db->ReadTableDef(c.name);
      std::vector<RowId> rows = db->ListRows(*table);
      std::set<std::pair<uint32_t, uint16_t>> expected;
      for (RowId r : rows) expected.insert({r.page, r.row});
      std::set<int32_t> seen_real;
      for (const IndexDef& index : table->indexes) {
        if (!seen_real.insert(index.real_index_number).second) continue;
        SCOPED_TRACE(c.name + "." + index.name);
        std::vector<IndexEntry> got = ReadIndexEntries(*file, format, index);
        ++indexes;
        entries += got.size();
        std::set<std::pair<uint32_t, uint16_t>> found;
        for (const IndexEntry& e : got) found.insert({e.row.page, e.row.row});
        EXPECT_EQ(found.size(), got.size()) << "a row appears twice";
        if (index.flags & kIgnoreNulls) {
          // Rows whose indexed columns are all Null have no entry.
          EXPECT_TRUE(std::includes(expected.begin(), expected.end(),
                                    found.begin(), found.end()));
        } else {
          EXPECT_EQ(found, expected);
        }
        for (size_t i = 1; i < got.size(); ++i) {
          if (got[i - 1].key > got[i].key) {
            ADD_FAILURE() << "entry " << i << " out of key order";
            break;
          }
        }
      }
    }
  }
  EXPECT_GT(indexes, 0u);
  std::printf("index walk: %zu entries in %zu indexes of %zu files\n", entries,
              indexes, files);
}

// Every index page of the Access 97 files, decoded and encoded again: the
// same entries and links, and where we choose the shared prefix Access
// chose (it often stores none where one would fit), the very same bytes:
// header, free space, entry-end bitmap and entries.
TEST(IndexPage, Jet3PagesEncodeAsAccessWroteThem) {
  CORVALIN_REQUIRE_CORPUS();
  constexpr size_t kJet3Prefix = 20;
  size_t pages = 0, identical = 0, intermediate = 0;
  for (const auto& de : fs::directory_iterator(fs::path(testing::CorpusDir()) / "V1997")) {
    const std::string path = de.path().string();
    auto db = Database::Open(path, {});
    const JetFormat& format = db->format();
    for (uint32_t n = 1; n < db->file().page_count(); ++n) {
      PagePtr stored = db->file().Read(n);
      if ((*stored)[0] != kIndexLeafPageType && (*stored)[0] != kIndexNodePageType) continue;
      SCOPED_TRACE(path + " page " + std::to_string(n));
      ++pages;
      IndexPage page = DecodeIndexPage(*stored, format, path, n);
      intermediate += !page.leaf;
      std::vector<uint8_t> ours(format.page_size);
      ASSERT_TRUE(EncodeIndexPage(page, format, ours));
      IndexPage again = DecodeIndexPage(ours, format, path, n);
      EXPECT_EQ(again.leaf, page.leaf);
      EXPECT_EQ(again.owner, page.owner);
      EXPECT_EQ(again.prev_page, page.prev_page);
      EXPECT_EQ(again.next_page, page.next_page);
      EXPECT_EQ(again.tail_page, page.tail_page);
      ASSERT_EQ(again.entries.size(), page.entries.size());
      for (size_t i = 0; i < page.entries.size(); ++i) {
        EXPECT_EQ(again.entries[i].key, page.entries[i].key);
        EXPECT_EQ(again.entries[i].row, page.entries[i].row);
        EXPECT_EQ(again.entries[i].child_page, page.entries[i].child_page);
      }
      if (ours[kJet3Prefix] != (*stored)[kJet3Prefix]) continue;
      const size_t used = format.page_size - (ours[2] | ours[3] << 8);
      EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + used, stored->begin()));
      ++identical;
    }
  }
  EXPECT_GT(intermediate, 0u);
  EXPECT_GT(identical, 50u);
  std::printf("Access 97 index pages: %zu of %zu encoded byte for byte\n", identical, pages);
}

}  // namespace
}  // namespace corvalin::engine
