// B-tree index pages (leaf 0x04, intermediate 0x03) and the walk of one
// index in key order. The page layout is described in index_page.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "db/engine/format/database.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/table_def.h"

namespace corvalin::engine {

constexpr uint8_t kIndexNodePageType = 0x03;
constexpr uint8_t kIndexLeafPageType = 0x04;

struct IndexEntry {
  std::vector<uint8_t> key;  // the column keys, prefix already restored
  RowId row;                 // the row this entry stands for
  uint32_t child_page = 0;   // intermediate pages: the subtree's page
};

struct IndexPage {
  bool leaf = true;
  uint32_t owner = 0;       // the TDEF page of the table
  uint32_t prev_page = 0;   // same level, 0 at the start
  uint32_t next_page = 0;   // same level, 0 at the end
  uint32_t tail_page = 0;   // intermediate pages: the last child
  uint16_t prefix_length = 0;  // bytes every entry shares with the first
  std::vector<IndexEntry> entries;
};

// Decodes one index page. Throws Error naming file and page when the page
// is not an index page or an entry runs outside it.
IndexPage DecodeIndexPage(std::span<const uint8_t> page, const JetFormat& format,
                          const std::string& file, uint32_t page_number);
// The same into out, whose entries and their keys' room are reused (out's
// content is unspecified after an Error).
void DecodeIndexPage(std::span<const uint8_t> page, const JetFormat& format,
                     const std::string& file, uint32_t page_number, IndexPage& out);

// The order of entries: key bytes, then the row pointer. Inline, as every
// descent of a b-tree runs through it: keys mostly differ in their first
// bytes, which are compared here before memcmp is called for the rest.
inline int CompareIndexEntries(const std::vector<uint8_t>& key_a, RowId row_a,
                               const std::vector<uint8_t>& key_b, RowId row_b) {
  const size_t n = std::min(key_a.size(), key_b.size());
  constexpr size_t kHead = 8;
  size_t i = 0;
  for (const size_t head = std::min(n, kHead); i < head; ++i)
    if (key_a[i] != key_b[i]) return key_a[i] < key_b[i] ? -1 : 1;
  if (n > i) {
    int c = std::memcmp(key_a.data() + i, key_b.data() + i, n - i);
    if (c != 0) return c < 0 ? -1 : 1;
  }
  if (key_a.size() != key_b.size()) return key_a.size() < key_b.size() ? -1 : 1;
  if (row_a.page != row_b.page) return row_a.page < row_b.page ? -1 : 1;
  if (row_a.row != row_b.row) return row_a.row < row_b.row ? -1 : 1;
  return 0;
}

// Writes page (its entries in order) over `out`, a whole page, choosing
// the shared prefix as the longest one common to every entry. Returns
// false, leaving out unusable, when the entries do not fit one page.
bool EncodeIndexPage(const IndexPage& page, const JetFormat& format,
                     std::span<uint8_t> out);

// Whether EncodeIndexPage would fit these entries (sorted) on one page of
// the kind `leaf` says, without writing them.
bool IndexEntriesFit(std::span<const IndexEntry> entries, bool leaf, const JetFormat& format);

// Where the parts of an index page lie, for code that changes an encoded
// page in place (the format's index_layout).
using IndexPageAreas = IndexPageLayout;
IndexPageAreas IndexPageAreasFor(const JetFormat& format);

// Every leaf entry of the index in key order: down the first children from
// the root to the first leaf, then along the leaf chain. Throws Error on a
// loop, a page of the wrong kind or a page outside the file.
std::vector<IndexEntry> ReadIndexEntries(PageFile& file, const JetFormat& format,
                                         const IndexDef& index);

}  // namespace corvalin::engine
