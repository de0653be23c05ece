// Usage maps, stored as one row of a data page.
//
//   type 0, inline map
//   | offset | size | field                                   |
//   | 0      | 1    | map type (0)                            |
//   | 1      | 4    | first page the bitmap describes         |
//   | 5      | ...  | bitmap: bit i set = page first + i used |
//
//   type 1, reference map
//   | 0      | 1    | map type (1)                            |
//   | 1      | 4*n  | page numbers of map pages (0 = none)    |
//   map page: | 0 | 1 | page type 0x05 | 4 .. end | bitmap      |
//   map page j covers pages j*(page_size-4)*8 onwards.
#include "db/engine/format/usage_map.h"

#include "db/engine/format/data_page.h"

namespace corvalin::engine {
namespace {

constexpr uint8_t kInlineMap = 0;
constexpr uint8_t kReferenceMap = 1;
constexpr uint8_t kUsageMapPageType = 0x05;

uint32_t U32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void AddBits(const uint8_t* bits, size_t length, uint64_t first,
             uint32_t page_count, std::vector<uint32_t>& pages) {
  for (size_t i = 0; i < length; ++i) {
    if (bits[i] == 0) continue;
    for (int b = 0; b < 8; ++b) {
      if (!(bits[i] & (1 << b))) continue;
      uint64_t page = first + i * 8 + b;
      if (page < page_count) pages.push_back(static_cast<uint32_t>(page));
    }
  }
}

}  // namespace

std::vector<uint32_t> ReadUsageMap(PageFile& file, const JetFormat& format,
                                   uint32_t map_row) {
  RowPointer ptr = DecodeRowPointer(map_row);
  ResolvedRow row = ReadRowAt(file, format, ptr.page, ptr.row);
  std::vector<uint32_t> pages;
  if (row.deleted || row.bytes.empty()) return pages;
  const uint8_t* map = row.bytes.data();
  size_t size = row.bytes.size();
  uint32_t page_count = file.page_count();
  if (map[0] == kInlineMap) {
    if (size < 5) throw DamagedPage(file.path(), ptr.page, "usage map too short");
    AddBits(map + 5, size - 5, U32(map + 1), page_count, pages);
    return pages;
  }
  if (map[0] != kReferenceMap) {
    throw DamagedPage(file.path(), ptr.page, "unknown usage map type");
  }
  const uint64_t per_page = static_cast<uint64_t>(format.page_size - 4) * 8;
  for (size_t j = 0; 1 + j * 4 + 4 <= size; ++j) {
    uint32_t map_page = U32(map + 1 + j * 4);
    if (map_page == 0) continue;
    if (map_page >= page_count) {
      throw DamagedPage(file.path(), map_page, "usage map page past the end");
    }
    PagePtr bits = file.Read(map_page);
    if ((*bits)[0] != kUsageMapPageType) {
      throw DamagedPage(file.path(), map_page, "not a usage map page");
    }
    AddBits(bits->data() + 4, bits->size() - 4, j * per_page, page_count, pages);
  }
  return pages;
}

}  // namespace corvalin::engine
