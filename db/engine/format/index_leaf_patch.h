// An index leaf read and changed as bytes: where its entries end, a key's
// place among them, and a new entry added in place. The page layout is in
// index_page.cpp; the b-tree that decides which leaf takes an entry is in
// index_writer.cpp.
//
// A leaf is changed in place only when it is exactly what EncodeIndexPage
// writes for its entries, and only in a way that gives the bytes a
// re-encoding would: the file is the same whichever path an entry took.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "db/engine/format/index_page.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_write_set.h"

namespace corvalin::engine {

// A leaf entry ends in its row pointer: data page (3 bytes), row (1).
constexpr size_t kIndexLeafTrailer = 4;

// A leaf page as stored, with where each entry ends: enough to find a
// key's place and to add an entry in place.
struct LeafBytes {
  std::vector<uint16_t> ends;  // entry i ends ends[i] bytes into the entry area
  size_t prefix = 0;           // the page's shared prefix length
  size_t min_whole = 0;        // the shortest entry, key and row pointer
  uint32_t next_page = 0;
};

// Reads a leaf's entry ends from its bytes. Unless `known` (the bytes are
// what EncodeIndexPage wrote), also checks that they are exactly what it
// would write for the entries they hold. False for an empty leaf and for
// anything else.
bool ReadLeafBytes(const PageData& bytes, const JetFormat& format, bool known, LeafBytes& leaf);

// The first entry of the leaf whose key is not below `key` (the entries'
// order, CompareIndexEntries, without row pointers); ends.size() when
// every key is below it. `area` is the page's entry area. Sets *equal to
// whether that entry's key is `key`.
size_t LeafLowerBound(const LeafBytes& leaf, const uint8_t* area,
                      const std::vector<uint8_t>& key, bool* equal);

// The first entry of the leaf not below (key, row) in the entries' order
// (CompareIndexEntries): among entries of an equal key, the rows decide.
size_t LeafLowerBound(const LeafBytes& leaf, const uint8_t* area,
                      const std::vector<uint8_t>& key, RowId row);

// Buffers the patcher reuses from save to save.
struct LeafPatchScratch {
  std::vector<uint8_t> whole;
};

// Adds (key, row) as entry `position` of leaf page `number`, whose bytes
// `leaf` describes, when the page keeps its shared prefix and has room:
// the entries after it move up by its stored size, their end bits with
// them, the free space shrinks by as much, and `leaf` follows. Returns
// false, the page untouched, otherwise. At position 0 the new entry is
// stored whole and the old first one loses the prefix, when the prefix
// stays.
bool PatchLeaf(PageWriteSet& pages, const JetFormat& format, uint32_t number, LeafBytes& leaf,
               size_t position, const std::vector<uint8_t>& key, RowId row,
               LeafPatchScratch& scratch);

}  // namespace corvalin::engine
