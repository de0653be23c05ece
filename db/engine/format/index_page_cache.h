// Index pages kept from save to save, decoded and as leaf bytes, so that
// adding a row does not decode the pages on its path again.
#pragma once

#include <cstdint>
#include <vector>

#include "db/engine/format/index_leaf_patch.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/page_table.h"
#include "db/engine/format/page_write_set.h"

namespace corvalin::engine {

// The cache is used only while nobody else has written to the file since
// its last save (Begin checks); a failed save must Clear it. Leaf bytes
// are kept only for pages whose bytes are exactly what EncodeIndexPage
// writes for their entries, so that a change in place gives the bytes a
// re-encoding would.
class IndexPageCache {
 public:
  // Before a save.
  void Begin(PageFile& file);
  // The page as this save sees it, decoded.
  IndexPage& Get(PageWriteSet& pages, const JetFormat& format, uint32_t number);
  // The leaf as this save sees it, or null when it is not a leaf in the
  // form EncodeIndexPage writes (the first change then re-encodes it).
  LeafBytes* Leaf(PageWriteSet& pages, const JetFormat& format, uint32_t number);
  // The page's new content, stored by this save (encoded by EncodeIndexPage).
  void Stored(uint32_t number, const IndexPage& page);
  void Stored(uint32_t number, IndexPage&& page);
  // 1 when the cache knows page `number` is a leaf, 0 when it knows it is
  // not, -1 when it does not know.
  int KnownLeaf(uint32_t number) const;
  // The page's next-page field was changed in place.
  void NextChanged(uint32_t number, uint32_t next);
  // The leaf was changed in place (its LeafBytes with it).
  void Patched(uint32_t number);
  // After the save's pages are written.
  void Committed(PageFile& file) { Matches(file); }
  void Clear() {
    slots_.clear();
    known_.clear();
    decoded_leaves_.clear();
  }

  // Buffers the b-tree code reuses from save to save.
  struct Scratch {
    PageData page;
    LeafPatchScratch leaf;
  };
  Scratch scratch_;

 private:
  enum class LeafState { kUnknown, kCanonical, kKnownCanonical, kOther };
  struct Slot {
    bool decoded = false;
    IndexPage page;
    LeafState leaf_state = LeafState::kUnknown;
    LeafBytes leaf;
  };
  // Leaves no longer decoded hand their page to spare_.
  void Release(IndexPage& page);
  // KnownLeaf's answer for the slot of page number (null: none), kept in
  // known_ after every change of a slot.
  static int8_t Known(const Slot* slot);
  void Note(uint32_t number, const Slot* slot);

  // The cache now holds the file as it is (its write and reload counts).
  void Matches(const PageFile& file) {
    write_count_ = file.write_count();
    reloads_ = file.reloads();
  }
  PageTable<Slot> slots_;
  // KnownLeaf by page number, a byte each: every descent asks it at each
  // level, and the slots themselves are big and scattered.
  std::vector<int8_t> known_;
  std::vector<IndexPage> spare_;  // decoded pages whose room is reused
  std::vector<uint32_t> decoded_leaves_;  // this save's, released at the next Begin
  uint64_t write_count_ = UINT64_MAX;
  uint64_t reloads_ = UINT64_MAX;
};

}  // namespace corvalin::engine
