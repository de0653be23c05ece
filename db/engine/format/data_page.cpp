// The data page.
//
// | Offset Jet3 | Offset Jet4/ACE | Size | Meaning                           |
// |-------------|-----------------|------|-----------------------------------|
// | 0           | 0               | 1    | page type 0x01                    |
// | 1           | 1               | 1    | unknown (0x01)                    |
// | 2           | 2               | 2    | free space on the page            |
// | 4           | 4               | 4    | TDEF page of the owning table     |
// | -           | 8               | 4    | unknown                           |
// | 8           | 12              | 2    | number of rows (slots)            |
// | 10          | 14              | 2×n  | row offset table                  |
//
// Each offset table entry: low 13 bits the row's start on the page, 0x8000
// deleted, 0x4000 lookup (an overflow pointer row or a relocated row). Rows
// are written from the page end downward, so row i ends where row i-1
// starts (row 0 ends at the page end). Both readers we checked against
// skip 0x4000 rows in a table scan; the caller resolves overflow pointers.
#include "db/engine/format/data_page.h"

#include <algorithm>

#include "db/engine/format/coding.h"

namespace corvalin::engine {

uint16_t DataPageRowCount(std::span<const uint8_t> page,
                          const JetFormat& format, const std::string& file,
                          uint32_t page_number) {
  if (page.size() < size_t(format.data_rows_offset) || page[0] != kDataPageType)
    throw DamagedPage(file, page_number, "not a data page");
  uint16_t count = Read16(page, format.data_row_count_offset);
  if (format.data_rows_offset + size_t(count) * 2 > page.size())
    throw DamagedPage(file, page_number, "row offset table past the page end");
  return count;
}

uint32_t DataPageOwner(std::span<const uint8_t> page, const JetFormat& format) {
  if (!Fits(page.size(), format.data_owner_offset, 4)) return 0;
  return Read32(page, format.data_owner_offset);
}

DataRowSlot DataPageRow(std::span<const uint8_t> page, const JetFormat& format,
                        uint16_t row, const std::string& file,
                        uint32_t page_number) {
  uint16_t count = DataPageRowCount(page, format, file, page_number);
  if (row >= count)
    throw DamagedPage(file, page_number,
                      "row " + std::to_string(row) + " is not on the page");
  // DataPageRowCount has checked that the offset table lies in the page.
  uint16_t entry = Read16(page, format.data_rows_offset + size_t(row) * 2);
  DataRowSlot slot;
  slot.deleted = (entry & kRowDeletedFlag) != 0;
  slot.lookup = (entry & kRowLookupFlag) != 0;
  size_t start = entry & kRowOffsetMask;
  size_t end = page.size();
  if (row > 0)
    end = Read16(page, format.data_rows_offset + size_t(row - 1) * 2) &
          kRowOffsetMask;
  size_t table_end = format.data_rows_offset + size_t(count) * 2;
  if (start < table_end || start >= end || end > page.size()) {
    // A deleted slot may keep any offset; only live rows must be sound.
    if (slot.deleted) return slot;
    throw DamagedPage(file, page_number,
                      "row " + std::to_string(row) + " has bad bounds");
  }
  slot.bytes = page.subspan(start, end - start);
  return slot;
}

void InitDataPage(std::span<uint8_t> page, const JetFormat& format, uint32_t owner) {
  std::fill(page.begin(), page.end(), 0);
  InitZeroedDataPage(page, format, owner);
}

void InitZeroedDataPage(std::span<uint8_t> page, const JetFormat& format, uint32_t owner) {
  page[0] = kDataPageType;
  page[1] = 0x01;
  Write16(page, 2, uint16_t(page.size() - format.data_rows_offset));
  Write32(page, format.data_owner_offset, owner);
}

bool RowFitsOnDataPage(std::span<const uint8_t> page, const JetFormat& format,
                       size_t size) {
  uint16_t free = Read16(page, 2);
  uint16_t count = Read16(page, format.data_row_count_offset);
  return size + 2 <= free && count < kMaxRowsPerDataPage;
}

uint16_t AddDataPageRow(std::span<uint8_t> page, const JetFormat& format,
                        std::span<const uint8_t> row) {
  uint16_t count = Read16(page, format.data_row_count_offset);
  // The lowest row start; deleted slots may keep stale offsets, so every
  // slot is looked at.
  const size_t table_end = format.data_rows_offset + size_t(count + 1) * 2;
  size_t end = page.size();
  for (uint16_t r = 0; r < count; ++r) {
    size_t off = Read16(page, format.data_rows_offset + size_t(r) * 2) & kRowOffsetMask;
    if (off >= table_end && off < end) end = off;
  }
  if (end < table_end + row.size())
    throw Error(kErrDamagedFile, "no room for a row on a data page whose free space says there is");
  size_t start = end - row.size();
  std::copy(row.begin(), row.end(), page.begin() + start);
  Write16(page, format.data_rows_offset + size_t(count) * 2, uint16_t(start));
  Write16(page, format.data_row_count_offset, uint16_t(count + 1));
  Write16(page, 2, uint16_t(Read16(page, 2) - row.size() - 2));
  return count;
}

uint16_t AddDataPageRow(PageWriteSet& pages, uint32_t number, const JetFormat& format,
                        std::span<const uint8_t> row) {
  // The header (free space, row count) and the row offsets, the new one's
  // included; then the row's own bytes.
  const size_t count = Read16(pages.View(number), format.data_row_count_offset);
  PageData& page =
      pages.Modify(number, {0, uint32_t(format.data_rows_offset + (count + 1) * 2)});
  const uint16_t added = AddDataPageRow(page, format, row);
  const uint32_t start =
      Read16(page, format.data_rows_offset + size_t(added) * 2) & kRowOffsetMask;
  pages.Modify(number, {start, uint32_t(start + row.size())});
  return added;
}

RowPointer DecodeRowPointer(uint32_t stored) {
  return RowPointer{stored >> 8, static_cast<uint8_t>(stored & 0xFF)};
}

ResolvedRow ReadRowAt(PageFile& file, const JetFormat& format,
                      uint32_t page_number, uint16_t row) {
  ResolvedRow out;
  // One hop at most in the files we know; the bound guards against loops.
  for (int hop = 0;; ++hop) {
    if (page_number == 0 || page_number >= file.page_count())
      throw DamagedPage(file.path(), page_number,
                        "a row pointer leads outside the file");
    out.page = file.Read(page_number);
    out.page_number = page_number;
    out.row = row;
    DataRowSlot slot =
        DataPageRow(*out.page, format, row, file.path(), page_number);
    // The target of an overflow pointer is flagged deleted; only the
    // first slot (the one a scan lists) must be live.
    if (hop == 0 && slot.deleted) {
      out.deleted = true;
      return out;
    }
    if (slot.bytes.empty())
      throw DamagedPage(file.path(), page_number,
                        "row " + std::to_string(row) + " has no bytes");
    if (!slot.lookup || hop > 0) {
      out.bytes = slot.bytes;
      return out;
    }
    if (hop >= kMaxOverflowHops)
      throw DamagedPage(file.path(), page_number, "overflow rows form a loop");
    if (slot.bytes.size() < 4)
      throw DamagedPage(file.path(), page_number,
                        "overflow row " + std::to_string(row) + " is cut short");
    RowPointer next = DecodeRowPointer(Read32(slot.bytes, 0));
    page_number = next.page;
    row = next.row;
  }
}

}  // namespace corvalin::engine
