// The leaf form the in-place change keeps (index_page.cpp has the layout):
// the entry area holds the entries back to back, the first whole, every
// other one without the first `prefix` bytes it shares with the first
// entry; bit b of the entry mask is set where an entry ends b bytes into
// the area; bytes 2-3 hold the free space; every byte past the last entry
// is zero. The encoder's prefix is what the first and last entries share,
// below the shortest entry and within the prefix length field, cut to what
// every entry shares (index_page.cpp says when that is less).
#include "db/engine/format/index_leaf_patch.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "db/engine/format/coding.h"

namespace corvalin::engine {
namespace {

// Moves the bits numbered above `from` (bit b is 1 << b % 8 of byte b / 8)
// up by `by`, in a bitmap of `size` bytes whose top `by` bits are clear.
void ShiftBitsAbove(uint8_t* mask, size_t size, size_t from, size_t by) {
  if constexpr (std::endian::native == std::endian::little) {
    // As one little-endian number: bit b is bit b % 64 of word b / 64.
    constexpr size_t kMaxWords = 64;
    uint64_t words[kMaxWords];
    const size_t count = (size + 7) / 8;
    if (count <= kMaxWords) {
      words[count - 1] = 0;  // the bytes past `size` of the last word
      std::memcpy(words, mask, size);
      const size_t first = from / 64, shift_words = by / 64, shift_bits = by % 64;
      const uint64_t keep = from % 64 == 63 ? ~uint64_t(0) : (uint64_t(2) << (from % 64)) - 1;
      const uint64_t low = words[first] & keep;  // bits up to `from` stay
      words[first] &= ~keep;
      for (size_t i = count; i-- > first;) {
        uint64_t moved = 0;
        if (i >= first + shift_words) {
          size_t source = i - shift_words;
          moved = words[source] << shift_bits;
          if (shift_bits != 0 && source > first)
            moved |= words[source - 1] >> (64 - shift_bits);
        }
        words[i] = moved;
      }
      words[first] |= low;
      std::memcpy(mask, words, size);
      return;
    }
  }
  for (size_t b = size * 8; b-- > from + 1;) {
    bool set = mask[b / 8] & (1u << (b % 8));
    mask[b / 8] &= uint8_t(~(1u << (b % 8)));
    if (set && b + by < size * 8) mask[(b + by) / 8] |= uint8_t(1u << ((b + by) % 8));
  }
}

// An entry's key and row pointer, prefix restored, read where they lie:
// its first `shared` bytes at `head` (the first entry's, for an entry
// stored without them), the rest at `rest`.
struct EntryBytes {
  const uint8_t* head;
  size_t shared;
  const uint8_t* rest;
  size_t size;
  uint8_t operator[](size_t j) const { return j < shared ? head[j] : rest[j - shared]; }
};

// Entry i of the leaf as stored.
EntryBytes StoredEntry(const LeafBytes& leaf, const uint8_t* area, size_t i) {
  if (i == 0) return {area, 0, area, leaf.ends[0]};
  const size_t start = leaf.ends[i - 1];
  return {area, leaf.prefix, area + start, leaf.prefix + leaf.ends[i] - start};
}

EntryBytes WholeBytes(const std::vector<uint8_t>& whole) {
  return {whole.data(), 0, whole.data(), whole.size()};
}

// Whether the n bytes at p are all zero, eight at a time.
bool AllZero(const uint8_t* p, size_t n) {
  uint64_t any = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, p + i, 8);
    any |= word;
  }
  for (; i < n; ++i) any |= p[i];
  return any == 0;
}

// Whether what entries a and b share, cut at limit, is prefix bytes: the
// first prefix bytes agree and, short of the limit, the next ones differ.
// Each entry's first prefix bytes lie in one piece (prefix is the leaf's,
// which an entry stored without it takes from the first entry).
bool KeepsPrefix(const EntryBytes& a, const EntryBytes& b, size_t prefix, size_t limit) {
  if (prefix > limit || a.size < prefix || b.size < prefix) return false;
  const uint8_t* a_first = a.shared == 0 ? a.rest : a.head;
  const uint8_t* b_first = b.shared == 0 ? b.rest : b.head;
  if (prefix > 0 && a_first != b_first && std::memcmp(a_first, b_first, prefix) != 0)
    return false;
  if (prefix == limit) return true;
  return prefix == a.size || prefix == b.size || a[prefix] != b[prefix];
}

}  // namespace

bool ReadLeafBytes(const PageData& bytes, const JetFormat& format, bool known, LeafBytes& leaf) {
  const IndexPageAreas areas = IndexPageAreasFor(format);
  if (bytes.size() <= areas.entries) return false;
  const size_t area = bytes.size() - areas.entries;
  leaf.ends.clear();
  leaf.min_whole = SIZE_MAX;
  leaf.prefix = areas.prefix_size == 2 ? Read16(bytes, areas.prefix) : bytes[areas.prefix];
  leaf.next_page = Read32(bytes, areas.next);
  // Eight mask bytes at a time (most are zero): bit k of the word is bit
  // k % 8 of byte k / 8.
  for (size_t byte = 0; byte < areas.mask_size; byte += 8) {
    const size_t count = std::min<size_t>(8, areas.mask_size - byte);
    uint64_t word = 0;
    for (size_t k = 0; k < count; ++k) word |= uint64_t(bytes[areas.mask + byte + k]) << (8 * k);
    for (; word != 0; word &= word - 1) {
      const size_t bit = byte * 8 + size_t(std::countr_zero(word));
      const size_t start = leaf.ends.empty() ? 0 : leaf.ends.back();
      if (bit > area || bit <= start) return false;
      const size_t whole = bit - start + (leaf.ends.empty() ? 0 : leaf.prefix);
      if (whole < kIndexLeafTrailer) return false;
      leaf.min_whole = std::min(leaf.min_whole, whole);
      leaf.ends.push_back(uint16_t(bit));
    }
  }
  if (leaf.ends.empty() || leaf.prefix >= leaf.ends[0]) return false;
  if (known) return true;

  // The bytes are the encoder's when the entry area is the entries stored
  // with the prefix it chooses, the header holds the free space it
  // computes, and every byte it leaves zero is zero.
  const size_t n = leaf.ends.size();
  const size_t total = leaf.ends.back();
  const uint8_t* entries = bytes.data() + areas.entries;
  if (bytes[1] != 0x01 || bytes[areas.prefix + areas.prefix_size] != 0) return false;
  const size_t free = area - total;
  if (Read16(bytes, 2) != uint16_t(free)) return false;
  for (size_t i = areas.unknown; i < areas.prev; ++i)
    if (bytes[i] != 0) return false;
  if (!AllZero(entries + total, area - total)) return false;
  // The first `prefix` bytes of every entry are the first entry's, so the
  // stored prefix is the encoder's when it is at the limit or the next
  // bytes differ.
  if (n == 1) return leaf.prefix == 0;
  const size_t limit = std::min((size_t(1) << (8 * areas.prefix_size)) - 1, leaf.min_whole - 1);
  if (leaf.prefix > limit) return false;
  return leaf.prefix == limit || entries[leaf.prefix] != entries[leaf.ends[n - 2]];
}

size_t LeafLowerBound(const LeafBytes& leaf, const uint8_t* area,
                      const std::vector<uint8_t>& key, bool* equal) {
  // Every entry begins with the first entry's `prefix` bytes, so the key
  // is set against them once: m is where they first differ, within the
  // key's length. An entry's comparison then starts past its share of them.
  const size_t prefix = leaf.prefix;
  const size_t in_key = std::min(prefix, key.size());
  size_t m = 0;
  while (m < in_key && area[m] == key[m]) ++m;
  const int prefix_order = m < in_key ? (area[m] < key[m] ? -1 : 1) : 0;
  // Entry i, as stored, against the key alone, as the entries' order
  // (CompareIndexEntries) has it: key bytes, then the shorter key first.
  auto compare = [&](size_t i) {
    const size_t start = i == 0 ? prefix : leaf.ends[i - 1];
    const size_t length = prefix + (leaf.ends[i] - start) - kIndexLeafTrailer;
    const size_t n = std::min(length, key.size());
    const size_t head = std::min(n, prefix);
    if (m < head) return prefix_order;
    if (n > head) {
      int c = std::memcmp(area + start, key.data() + head, n - head);
      if (c != 0) return c < 0 ? -1 : 1;
    }
    if (length != key.size()) return length < key.size() ? -1 : 1;
    return 0;
  };
  const size_t n = leaf.ends.size();
  size_t low = 0, high = n;
  while (low < high) {
    size_t mid = (low + high) / 2;
    if (compare(mid) < 0) low = mid + 1;
    else high = mid;
  }
  *equal = low < n && compare(low) == 0;
  return low;
}

size_t LeafLowerBound(const LeafBytes& leaf, const uint8_t* area,
                      const std::vector<uint8_t>& key, RowId row) {
  bool equal = false;
  size_t low = LeafLowerBound(leaf, area, key, &equal);
  if (!equal) return low;
  // From low on no key is below `key`; an entry whose key is `key` is
  // below (key, row) when its row pointer is, and as the pointer is stored
  // big-endian, its bytes sort as the rows do.
  const uint8_t pointer[kIndexLeafTrailer] = {uint8_t(row.page >> 16), uint8_t(row.page >> 8),
                                              uint8_t(row.page), uint8_t(row.row)};
  auto below = [&](size_t i) {
    const EntryBytes entry = StoredEntry(leaf, area, i);
    if (entry.size != key.size() + kIndexLeafTrailer) return false;
    for (size_t j = 0; j < key.size(); ++j)
      if (entry[j] != key[j]) return false;
    for (size_t j = 0; j < kIndexLeafTrailer; ++j)
      if (entry[key.size() + j] != pointer[j]) return entry[key.size() + j] < pointer[j];
    return false;
  };
  size_t high = leaf.ends.size();
  while (low < high) {
    const size_t mid = (low + high) / 2;
    if (below(mid)) low = mid + 1;
    else high = mid;
  }
  return low;
}

bool PatchLeaf(PageWriteSet& pages, const JetFormat& format, uint32_t number, LeafBytes& leaf,
               size_t position, const std::vector<uint8_t>& key, RowId row,
               LeafPatchScratch& scratch) {
  const size_t n = leaf.ends.size();
  if (n == 0 || position > n) return false;
  const IndexPageAreas areas = IndexPageAreasFor(format);
  const uint8_t* area = pages.View(number).data() + areas.entries;
  std::vector<uint8_t>& whole = scratch.whole;
  whole.assign(key.begin(), key.end());
  // The row pointer, big-endian so that entries sort as bytes.
  Append24BE(whole, row.page);
  Append8(whole, uint8_t(row.row));
  // The prefix EncodeIndexPage would choose: what the first and last
  // entries share, below the shortest entry's size. A new first entry
  // keeps the old prefix only when it shares it with the last one; the
  // old first entry, which shares it too, is then stored without it.
  const bool first_place = position == 0;
  const EntryBytes first = first_place ? WholeBytes(whole) : StoredEntry(leaf, area, 0);
  const EntryBytes last = position < n ? StoredEntry(leaf, area, n - 1) : WholeBytes(whole);
  const size_t limit = std::min(leaf.min_whole, whole.size()) - 1;
  if (!KeepsPrefix(first, last, leaf.prefix, limit)) return false;
  // Entries sort by key, then row: one whose key begins the others' keys
  // (an empty Binary value's) falls between the first and the last yet may
  // differ from both within the prefix, in its row pointer.
  if (!first_place && position < n &&
      !KeepsPrefix(first, WholeBytes(whole), leaf.prefix, leaf.prefix))
    return false;
  // The entries grow by the new one's stored size either way: at the first
  // place it is stored whole and the old first entry loses the prefix.
  const size_t stored = whole.size() - leaf.prefix;
  const size_t total = leaf.ends[n - 1];
  if (areas.entries + total + stored > format.page_size ||
      total + stored >= areas.mask_size * 8)
    return false;

  const size_t start = first_place ? 0 : leaf.ends[position - 1];
  // What changes: the free space, the mask from the new entry's start on,
  // and the entries from there to their new end.
  pages.Modify(number, {2, 4});
  pages.Modify(number, {uint32_t(areas.mask + start / 8),
                        uint32_t(areas.mask + (total + stored) / 8 + 1)});
  PageData& page = pages.Modify(number, {uint32_t(areas.entries + start),
                                         uint32_t(areas.entries + total + stored)});
  uint8_t* entries = page.data() + areas.entries;
  uint8_t* mask = page.data() + areas.mask;
  size_t end;  // where the new entry ends
  if (first_place) {
    const size_t old_first = leaf.ends[0];
    std::memmove(entries + old_first + stored, entries + old_first, total - old_first);
    std::memmove(entries + whole.size(), entries + leaf.prefix, old_first - leaf.prefix);
    std::memcpy(entries, whole.data(), whole.size());
    end = whole.size();
  } else {
    std::memmove(entries + start + stored, entries + start, total - start);
    std::memcpy(entries + start, whole.data() + leaf.prefix, stored);
    end = start + stored;
  }
  // Only the mask bytes up to the new end of the entries hold set bits.
  ShiftBitsAbove(mask, (total + stored) / 8 + 1, start, stored);
  mask[end / 8] |= uint8_t(1u << (end % 8));
  for (size_t i = position; i < n; ++i) leaf.ends[i] = uint16_t(leaf.ends[i] + stored);
  leaf.ends.insert(leaf.ends.begin() + position, uint16_t(end));
  size_t free = format.page_size - areas.entries - (total + stored);
  Write16(page, 2, uint16_t(free));
  leaf.min_whole = std::min(leaf.min_whole, whole.size());
  return true;
}

}  // namespace corvalin::engine
