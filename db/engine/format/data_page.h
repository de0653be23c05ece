// A data page (type 0x01): the rows of one table, or long values (LVAL).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "db/engine/error.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/page_write_set.h"

namespace corvalin::engine {

constexpr uint8_t kDataPageType = 0x01;
constexpr uint16_t kRowDeletedFlag = 0x8000;
constexpr uint16_t kRowLookupFlag = 0x4000;  // overflow pointer or its target
constexpr uint16_t kRowOffsetMask = 0x1FFF;

struct DataRowSlot {
  bool deleted = false;
  bool lookup = false;               // 0x4000: overflow pointer or target
  std::span<const uint8_t> bytes;    // empty when deleted
};

// Number of rows in the row offset table. Throws when the page is not a
// data page or its offset table runs past the page.
uint16_t DataPageRowCount(std::span<const uint8_t> page,
                          const JetFormat& format, const std::string& file,
                          uint32_t page_number);

// The TDEF page that owns the data page.
uint32_t DataPageOwner(std::span<const uint8_t> page, const JetFormat& format);

// Slot `row` of the page: its flags and its bytes (a row ends where the row
// before it begins; row 0 ends at the page end). Throws on bad bounds.
DataRowSlot DataPageRow(std::span<const uint8_t> page, const JetFormat& format,
                        uint16_t row, const std::string& file,
                        uint32_t page_number);

// The write side.
// Long value pages carry "LVAL" where data pages name their table.
constexpr uint32_t kLongValueOwner = 0x4C41564C;
// Access puts at most 255 rows on a data page (a row pointer's row byte).
constexpr uint16_t kMaxRowsPerDataPage = 255;

// Makes page an empty data page of owner (a TDEF page or kLongValueOwner).
void InitDataPage(std::span<uint8_t> page, const JetFormat& format, uint32_t owner);
// The same for a page known to be all zeros (as PageWriteSet::Allocate
// gives it): only the header is written.
void InitZeroedDataPage(std::span<uint8_t> page, const JetFormat& format, uint32_t owner);

// Whether a row of `size` bytes fits: its bytes and its offset entry within
// the recorded free space, and a free row number.
bool RowFitsOnDataPage(std::span<const uint8_t> page, const JetFormat& format,
                       size_t size);

// Adds the row below the lowest row of the page and returns its number.
// The caller has checked RowFitsOnDataPage.
uint16_t AddDataPageRow(std::span<uint8_t> page, const JetFormat& format,
                        std::span<const uint8_t> row);
// The same on page `number` of a save, which learns the bytes it changes.
uint16_t AddDataPageRow(PageWriteSet& pages, uint32_t number, const JetFormat& format,
                        std::span<const uint8_t> row);

// A row pointer as stored in overflow rows and long values: row number in
// the low byte, page number in the upper three bytes.
struct RowPointer {
  uint32_t page = 0;
  uint8_t row = 0;
};
RowPointer DecodeRowPointer(uint32_t stored);
constexpr uint32_t EncodeRowPointer(uint32_t page, uint16_t row) {
  return page << 8 | (row & 0xFF);
}

// A row read through its (page, slot) id, overflow pointers followed. The
// page is kept alive with the bytes. deleted is true (and bytes empty) when
// the slot itself is deleted.
struct ResolvedRow {
  PagePtr page;
  uint32_t page_number = 0;  // where the bytes are
  uint16_t row = 0;
  bool deleted = false;
  std::span<const uint8_t> bytes;
};
constexpr int kMaxOverflowHops = 4;
ResolvedRow ReadRowAt(PageFile& file, const JetFormat& format,
                      uint32_t page_number, uint16_t row);

}  // namespace corvalin::engine
