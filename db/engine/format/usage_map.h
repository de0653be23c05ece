// Usage maps: which pages belong to a table (or are free).
#pragma once

#include <cstdint>
#include <vector>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/page_write_set.h"

namespace corvalin::engine {

// The pages of the usage map whose row the row pointer `map_row` names, in
// ascending page order. Pages past the end of the file are left out.
// Throws Error kErrDamagedFile when the map itself is malformed.
std::vector<uint32_t> ReadUsageMap(PageFile& file, const JetFormat& format,
                                   uint32_t map_row);

// What a set bit means: the page belongs to the map's owner (a table's
// pages, a table's pages with free space, a long value column's pages), or,
// in the file's global map on page 1, the page is free.
enum class UsageMapKind { kOwnership, kGlobalFree };

// The global map's row: page 1, row 0.
// The first byte of a map tells its kind: a bitmap inline in the row, or
// pointers to map pages (type 0x05) that hold the bitmap.
constexpr uint8_t kInlineMap = 0;
constexpr uint8_t kReferenceMap = 1;
constexpr uint8_t kUsageMapPageType = 0x05;

constexpr uint32_t kGlobalUsageMapRow = 1u << 8;

// A new inline map row: type, first page, then kNewInlineMapBytes bitmap
// bytes (the size Access gives the maps of a new table: 512 pages), with
// the bits of `pages` set (each must lie in the window).
constexpr size_t kNewInlineMapBytes = 64;
std::vector<uint8_t> NewInlineUsageMap(uint32_t first_page,
                                       const std::vector<uint32_t>& pages);

// Sets or clears the bit of `page` in the map stored at `map_row`, through
// the save's page set. An inline map whose window does not reach the page
// becomes a reference map (same row, map pages allocated as needed). Pages
// past a global map's window count as free, so the new page's bit is
// always made explicit there. Throws Error when the map cannot describe the
// page (the file is larger than the map can ever cover) or is malformed.
void SetUsageMapBit(PageWriteSet& pages, const JetFormat& format,
                    uint32_t map_row, uint32_t page, bool set,
                    UsageMapKind kind);

}  // namespace corvalin::engine
