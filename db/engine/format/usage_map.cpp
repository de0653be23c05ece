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

#include <algorithm>

#include "db/engine/format/coding.h"
#include "db/engine/format/data_page.h"

namespace corvalin::engine {
namespace {

// A bit for a page past the end of the file means the file was cut short
// (or the map is damaged): the pages it names are lost, and reading on
// would hand out a table with rows silently missing.
void AddBits(const uint8_t* bits, size_t length, uint64_t first, PageFile& file,
             uint32_t map_page, std::vector<uint32_t>& pages) {
  const uint32_t page_count = file.page_count();
  for (size_t i = 0; i < length; ++i) {
    if (bits[i] == 0) continue;
    for (int b = 0; b < 8; ++b) {
      if (!(bits[i] & (1 << b))) continue;
      uint64_t page = first + i * 8 + b;
      if (page >= page_count) {
        throw DamagedPage(file.path(), map_page,
                          "the usage map lists page " + std::to_string(page) +
                              ", past the end of the file (" +
                              std::to_string(page_count) + " pages)");
      }
      pages.push_back(static_cast<uint32_t>(page));
    }
  }
}

// Byte range of row `row` on a data page (offset table entries as in
// data_page.cpp).
std::pair<size_t, size_t> RowRange(const PageData& page, const JetFormat& format,
                                   uint16_t row, const std::string& file,
                                   uint32_t page_number) {
  DataRowSlot slot = DataPageRow(page, format, row, file, page_number);
  if (slot.deleted || slot.bytes.empty())
    throw DamagedPage(file, page_number, "usage map row is missing");
  size_t start = static_cast<size_t>(slot.bytes.data() - page.data());
  return {start, start + slot.bytes.size()};
}

// Pages the file has now or will have after this save.
uint32_t PagesInUse(PageWriteSet& pages) {
  return pages.file().page_count() + uint32_t(pages.allocated().size());
}

// A new reference map page (type 0x05, 0x01, two zero bytes, then bits)
// covering pages first .. first + per_page - 1. Global maps mark every page
// past the file's end free.
uint32_t NewMapPage(PageWriteSet& pages, uint64_t first, uint64_t per_page,
                    UsageMapKind kind) {
  uint32_t number = pages.Allocate();
  PageData& p = pages.Modify(number);
  p[0] = kUsageMapPageType;
  p[1] = 0x01;
  if (kind == UsageMapKind::kGlobalFree) {
    uint64_t in_use = PagesInUse(pages);
    for (uint64_t i = 0; i < per_page; ++i) {
      if (first + i >= in_use) p[4 + i / 8] |= uint8_t(1u << (i % 8));
    }
  }
  return number;
}

}  // namespace

void SetUsageMapBit(PageWriteSet& pages, const JetFormat& format,
                    uint32_t map_row, uint32_t page, bool set,
                    UsageMapKind kind) {
  const std::string& file = pages.file().path();
  RowPointer ptr = DecodeRowPointer(map_row);
  if (ptr.page == 0 || ptr.page >= PagesInUse(pages))
    throw DamagedPage(file, ptr.page, "usage map outside the file");
  // The map row's page as this save sees it, until the code below changes
  // it (Modify gives another buffer): looked up once.
  const PageData& view = pages.View(ptr.page);
  auto [start, end] = RowRange(view, format, ptr.row, file, ptr.page);
  const uint64_t per_page = uint64_t(format.page_size - 4) * 8;

  if (view[start] == kInlineMap) {
    if (end - start < 5) throw DamagedPage(file, ptr.page, "usage map too short");
    uint32_t first = Read32(view, start + 1);
    uint64_t bits = uint64_t(end - start - 5) * 8;
    if (page >= first && page - first < bits) {
      PageData& p = pages.Modify(ptr.page);
      uint8_t& byte = p[start + 5 + (page - first) / 8];
      uint8_t bit = uint8_t(1u << ((page - first) % 8));
      byte = set ? (byte | bit) : (byte & ~bit);
      return;
    }
    // Out of the window: an owner's map has nothing to clear there, and a
    // global map already counts the page free.
    bool nothing_to_do = kind == UsageMapKind::kOwnership ? !set : set;
    if (nothing_to_do) return;

    // Turn the inline map into a reference map over the same row.
    std::vector<uint32_t> marked;
    for (uint64_t i = 0; i < bits; ++i) {
      if (view[start + 5 + i / 8] & (1u << (i % 8))) marked.push_back(first + uint32_t(i));
    }
    size_t slots = (end - start - 1) / 4;
    {
      PageData& p = pages.Modify(ptr.page);
      p[start] = kReferenceMap;
      std::fill(p.begin() + start + 1, p.begin() + end, 0);
    }
    if (kind == UsageMapKind::kGlobalFree) {
      // Keep the old window's free pages; everything else up to the file's
      // end is in use, everything after it free (NewMapPage).
      for (size_t j = 0; j < slots && j * per_page < PagesInUse(pages); ++j) {
        uint32_t mp = NewMapPage(pages, j * per_page, per_page, kind);
        Write32(pages.Modify(ptr.page), start + 1 + j * 4, mp);
      }
      for (uint64_t i = 0; i < bits; ++i) {
        uint64_t pg = first + i;
        bool free = std::find(marked.begin(), marked.end(), uint32_t(pg)) != marked.end();
        if (pg < PagesInUse(pages) && free)
          SetUsageMapBit(pages, format, map_row, uint32_t(pg), true, kind);
      }
    } else {
      for (uint32_t pg : marked) SetUsageMapBit(pages, format, map_row, pg, true, kind);
    }
    SetUsageMapBit(pages, format, map_row, page, set, kind);
    return;
  }

  if (view[start] != kReferenceMap)
    throw DamagedPage(file, ptr.page, "unknown usage map type");
  size_t slots = (end - start - 1) / 4;
  uint64_t j = page / per_page;
  if (j >= slots) {
    if (kind == UsageMapKind::kOwnership ? !set : set) return;
    throw Error(kErrIo, "file " + file + " has grown past what its usage maps can describe");
  }
  uint32_t map_page = Read32(view, start + 1 + j * 4);
  if (map_page == 0) {
    if (kind == UsageMapKind::kOwnership ? !set : set) return;
    map_page = NewMapPage(pages, j * per_page, per_page, kind);
    Write32(pages.Modify(ptr.page), start + 1 + j * 4, map_page);
  }
  if (map_page >= PagesInUse(pages) || pages.View(map_page)[0] != kUsageMapPageType)
    throw DamagedPage(file, map_page, "not a usage map page");
  PageData& p = pages.Modify(map_page);
  uint64_t i = page - j * per_page;
  uint8_t& byte = p[4 + i / 8];
  uint8_t bit = uint8_t(1u << (i % 8));
  byte = set ? (byte | bit) : (byte & ~bit);
}

std::vector<uint8_t> NewInlineUsageMap(uint32_t first_page,
                                       const std::vector<uint32_t>& pages) {
  std::vector<uint8_t> row(5 + kNewInlineMapBytes, 0);
  row[0] = kInlineMap;
  Write32(row, 1, first_page);
  for (uint32_t p : pages) {
    uint32_t bit = p - first_page;
    row[5 + bit / 8] |= uint8_t(1 << (bit % 8));
  }
  return row;
}

std::vector<uint32_t> ReadUsageMap(PageFile& file, const JetFormat& format,
                                   uint32_t map_row) {
  RowPointer ptr = DecodeRowPointer(map_row);
  ResolvedRow row = ReadRowAt(file, format, ptr.page, ptr.row);
  std::vector<uint32_t> pages;
  // Every map a definition names exists; a deleted one would make its
  // owner look empty.
  if (row.deleted || row.bytes.empty())
    throw DamagedPage(file.path(), ptr.page, "usage map row " + std::to_string(ptr.row) +
                                                 " is deleted");
  const uint8_t* map = row.bytes.data();
  size_t size = row.bytes.size();
  uint32_t page_count = file.page_count();
  if (map[0] == kInlineMap) {
    if (size < 5) throw DamagedPage(file.path(), ptr.page, "usage map too short");
    AddBits(map + 5, size - 5, Read32(row.bytes, 1), file, ptr.page, pages);
    return pages;
  }
  if (map[0] != kReferenceMap) {
    throw DamagedPage(file.path(), ptr.page, "unknown usage map type");
  }
  const uint64_t per_page = static_cast<uint64_t>(format.page_size - 4) * 8;
  for (size_t j = 0; 1 + j * 4 + 4 <= size; ++j) {
    uint32_t map_page = Read32(row.bytes, 1 + j * 4);
    if (map_page == 0) continue;
    if (map_page >= page_count) {
      throw DamagedPage(file.path(), map_page, "usage map page past the end");
    }
    PagePtr bits = file.Read(map_page);
    if ((*bits)[0] != kUsageMapPageType) {
      throw DamagedPage(file.path(), map_page, "not a usage map page");
    }
    AddBits(bits->data() + 4, bits->size() - 4, j * per_page, file, map_page, pages);
  }
  return pages;
}

}  // namespace corvalin::engine
