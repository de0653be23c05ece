// Index pages: the nodes and leaves of an index b-tree.
//
// | Field                 | Jet3 | Jet4/ACE | Size                          |
// |-----------------------|------|----------|-------------------------------|
// | page type             | 0    | 0        | 1 (0x03 intermediate, 0x04 leaf) |
// | unknown (0x01)        | 1    | 1        | 1                             |
// | free space            | 2    | 2        | 2                             |
// | owner (TDEF page)     | 4    | 4        | 4                             |
// | unknown               | -    | 8        | 4                             |
// | previous page         | 8    | 12       | 4, same level                 |
// | next page             | 12   | 16       | 4, same level                 |
// | tail page             | 16   | 20       | 4, intermediate: last child   |
// | shared prefix length  | 20   | 24       | 1 (Jet3) / 2                  |
// | unknown (0x01)        | 21   | 26       | 1                             |
// | entry-end bitmap      | 22   | 27       | 226 / 453                     |
// | entries               | 248  | 480      | to the end of the page        |
//
// Header numbers are little-endian; entry bytes are big-endian. Bit n of the
// bitmap (low bit first in each byte) marks the end of an entry n bytes into
// the entry area. The first entry is stored whole; every later one leaves
// out the prefix-length bytes it shares with the first.
//
// Entry: key bytes (the column keys, see index_key.cpp), data page (3),
// data row (1), and on intermediate pages the child page (4). An
// intermediate entry carries the last key of its child's subtree.
#include "db/engine/format/index_page.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <set>

#include "db/engine/error.h"
#include "db/engine/format/coding.h"
#include "db/engine/format/data_page.h"

namespace corvalin::engine {
namespace {

constexpr size_t kRowPointerSize = 4;
constexpr size_t kChildPointerSize = 4;

}  // namespace

void DecodeIndexPage(std::span<const uint8_t> page, const JetFormat& format,
                     const std::string& file, uint32_t page_number, IndexPage& out) {
  const IndexPageLayout& lay = *format.index_layout;
  if (page.size() <= lay.entries)
    throw DamagedPage(file, page_number, "index page too short");
  if (page[0] != kIndexNodePageType && page[0] != kIndexLeafPageType)
    throw DamagedPage(file, page_number, "not an index page");
  out.leaf = page[0] == kIndexLeafPageType;
  const DamagedAt where{.file = file, .page = page_number};
  out.owner = Read32(page, 4, where);
  out.prev_page = Read32(page, lay.prev, where);
  out.next_page = Read32(page, lay.next, where);
  out.tail_page = Read32(page, lay.tail, where);
  out.prefix_length = lay.prefix_size == 2 ? Read16(page, lay.prefix, where)
                                           : Read8(page, lay.prefix, where);

  const size_t area = page.size() - lay.entries;
  const size_t trailer = kRowPointerSize + (out.leaf ? 0 : kChildPointerSize);
  std::span<const uint8_t> data = page.subspan(lay.entries);
  size_t count = 0;
  for (size_t i = 0; i < lay.mask_size;) {
    // Eight bytes at a time where the mask has them.
    uint64_t word = 0;
    const size_t n = std::min<size_t>(8, lay.mask_size - i);
    std::memcpy(&word, &page[lay.mask + i], n);
    count += size_t(std::popcount(word));
    i += n;
  }
  out.entries.reserve(count + 1);  // room for the entry a writer adds
  size_t used = 0;                 // entries of out filled so far
  size_t prefix = 0;
  size_t start = 0;
  // The set bits of the mask, lowest first.
  for (size_t byte = 0; byte < lay.mask_size; ++byte) {
    for (unsigned bits = page[lay.mask + byte]; bits != 0; bits &= bits - 1) {
      const size_t bit = byte * 8 + size_t(std::countr_zero(bits));
      if (bit > area || bit <= start)
        throw DamagedPage(file, page_number, "index entry outside the page");
      std::span<const uint8_t> stored = data.subspan(start, bit - start);
      start = bit;
      if (used == 0) {
        if (out.prefix_length > stored.size())
          throw DamagedPage(file, page_number, "index prefix longer than its entry");
      } else {
        prefix = out.prefix_length;
      }
      // The entry is the first entry's prefix, then its stored bytes.
      const size_t whole = prefix + stored.size();
      if (whole < trailer) throw DamagedPage(file, page_number, "index entry too short");
      auto byte_at = [&](size_t i) { return i < prefix ? data[i] : stored[i - prefix]; };
      const size_t key_size = whole - trailer;
      // An entry out already has keeps its key's room.
      if (used == out.entries.size()) out.entries.emplace_back();
      IndexEntry& e = out.entries[used++];
      e.key.resize(key_size);
      const size_t from_prefix = std::min(prefix, key_size);
      std::copy(data.begin(), data.begin() + from_prefix, e.key.begin());
      std::copy(stored.begin(), stored.begin() + (key_size - from_prefix),
                e.key.begin() + from_prefix);
      uint8_t t[8];
      for (size_t i = 0; i < trailer; ++i) t[i] = byte_at(key_size + i);
      e.row.page = Read24BE(t, 0);
      e.row.row = t[3];
      e.child_page = out.leaf ? 0 : Read32BE(t, 4);
    }
  }
  out.entries.resize(used);
}

IndexPage DecodeIndexPage(std::span<const uint8_t> page, const JetFormat& format,
                          const std::string& file, uint32_t page_number) {
  IndexPage out;
  DecodeIndexPage(page, format, file, page_number, out);
  return out;
}

namespace {

// An entry's trailer as stored: row pointer (big-endian page, row), and on
// intermediate pages the child page.
size_t TrailerBytes(const IndexEntry& e, bool leaf, uint8_t* t) {
  std::span<uint8_t, 8> bytes(t, 8);
  Write24BE(bytes, 0, e.row.page);
  bytes[3] = uint8_t(e.row.row);
  if (leaf) return kRowPointerSize;
  Write32BE(bytes, 4, e.child_page);
  return kRowPointerSize + kChildPointerSize;
}

// The shared prefix the encoder chooses for entries, and the size of the
// entry area they then fill: what the first and last entries share. Entries
// are sorted by key, then row, so within the shortest key what the first
// and last share, all share; past it (a key that begins another, as an
// empty Binary value's does) a row pointer may differ, and the prefix is
// then cut to what every entry shares. The prefix stays shorter than every
// entry, so each entry keeps a byte and its end bit; on Jet3 pages its
// length field is one byte, and long text keys can share more than it can
// say.
struct EntryArea {
  size_t prefix = 0;
  size_t total = 0;
};
EntryArea MeasureEntries(std::span<const IndexEntry> entries, bool leaf,
                         const IndexPageLayout& lay) {
  const size_t trailer = kRowPointerSize + (leaf ? 0 : kChildPointerSize);
  EntryArea area;
  size_t whole = 0;
  for (const auto& e : entries) whole += e.key.size() + trailer;
  if (entries.size() > 1) {
    uint8_t ta[8], tb[8];
    TrailerBytes(entries.front(), leaf, ta);
    TrailerBytes(entries.back(), leaf, tb);
    auto byte_at = [](const IndexEntry& e, const uint8_t* t, size_t i) {
      return i < e.key.size() ? e.key[i] : t[i - e.key.size()];
    };
    size_t limit = (size_t(1) << (8 * lay.prefix_size)) - 1;
    size_t shortest_key = SIZE_MAX;
    for (const auto& e : entries) {
      limit = std::min(limit, e.key.size() + trailer - 1);
      shortest_key = std::min(shortest_key, e.key.size());
    }
    while (area.prefix < limit && byte_at(entries.front(), ta, area.prefix) ==
                                      byte_at(entries.back(), tb, area.prefix))
      ++area.prefix;
    if (area.prefix > shortest_key) {
      uint8_t te[8];
      for (const auto& e : entries.subspan(1, entries.size() - 2)) {
        TrailerBytes(e, leaf, te);
        size_t shared = 0;
        while (shared < area.prefix && byte_at(e, te, shared) == byte_at(entries.front(), ta, shared))
          ++shared;
        area.prefix = shared;
      }
    }
  }
  area.total = whole - (entries.empty() ? 0 : area.prefix * (entries.size() - 1));
  return area;
}

bool AreaFits(const EntryArea& area, const IndexPageLayout& lay, size_t page_size) {
  return lay.entries + area.total <= page_size && area.total < lay.mask_size * 8;
}

}  // namespace

bool IndexEntriesFit(std::span<const IndexEntry> entries, bool leaf, const JetFormat& format) {
  const IndexPageLayout& lay = *format.index_layout;
  return AreaFits(MeasureEntries(entries, leaf, lay), lay, format.page_size);
}

bool EncodeIndexPage(const IndexPage& page, const JetFormat& format,
                     std::span<uint8_t> out) {
  const IndexPageLayout& lay = *format.index_layout;
  const auto& entries = page.entries;
  const EntryArea measured = MeasureEntries(entries, page.leaf, lay);
  const size_t prefix = measured.prefix;
  if (!AreaFits(measured, lay, out.size())) return false;

  std::fill(out.begin(), out.end(), 0);
  out[0] = page.leaf ? kIndexLeafPageType : kIndexNodePageType;
  out[1] = 0x01;
  Write32(out, 4, page.owner);
  Write32(out, lay.prev, page.prev_page);
  Write32(out, lay.next, page.next_page);
  Write32(out, lay.tail, page.tail_page);
  if (lay.prefix_size == 2)
    Write16(out, lay.prefix, uint16_t(prefix));
  else
    Write8(out, lay.prefix, uint8_t(prefix));
  // Access sets the byte after the prefix length on intermediate pages.
  out[lay.prefix + lay.prefix_size] = page.leaf ? 0 : 1;
  uint8_t* area = out.data() + lay.entries;
  size_t at = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const IndexEntry& e = entries[i];
    uint8_t t[8];
    const size_t trailer = TrailerBytes(e, page.leaf, t);
    size_t skip = i == 0 ? 0 : prefix;
    if (skip < e.key.size()) {
      std::memcpy(area + at, e.key.data() + skip, e.key.size() - skip);
      at += e.key.size() - skip;
      skip = 0;
    } else {
      skip -= e.key.size();
    }
    std::memcpy(area + at, t + skip, trailer - skip);
    at += trailer - skip;
    out[lay.mask + at / 8] |= uint8_t(1u << (at % 8));
  }
  size_t free = out.size() - lay.entries - at;
  Write16(out, 2, uint16_t(free));
  return true;
}

IndexPageAreas IndexPageAreasFor(const JetFormat& format) { return *format.index_layout; }

std::vector<IndexEntry> ReadIndexEntries(PageFile& file, const JetFormat& format,
                                         const IndexDef& index) {
  std::set<uint32_t> visited;
  auto load = [&](uint32_t number) {
    if (number == 0 || number >= file.page_count() || !visited.insert(number).second)
      throw DamagedPage(file.path(), number,
                        "index " + index.name + " leads to a bad or repeated page");
    PagePtr p = file.Read(number);
    return DecodeIndexPage(*p, format, file.path(), number);
  };
  uint32_t number = index.first_page;
  IndexPage page = load(number);
  while (!page.leaf) {
    number = page.entries.empty() ? page.tail_page : page.entries.front().child_page;
    page = load(number);
  }
  std::vector<IndexEntry> out;
  for (;;) {
    for (IndexEntry& e : page.entries) out.push_back(std::move(e));
    if (page.next_page == 0) break;
    uint32_t next = page.next_page;
    page = load(next);
    if (!page.leaf)
      throw DamagedPage(file.path(), next,
                        "the leaf chain of index " + index.name + " reaches a non-leaf page");
  }
  return out;
}

}  // namespace corvalin::engine
