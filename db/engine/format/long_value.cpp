// Long values.
//
// Header in the row (all versions), 12 bytes:
// | Offset | Size | Meaning                                                  |
// |--------|------|----------------------------------------------------------|
// | 0      | 3    | total length of the value                                |
// | 3      | 1    | 0x80 inline, 0x40 one LVAL row, 0x00 a chain of LVAL rows |
// | 4      | 4    | row pointer of the first LVAL row (row in the low byte)  |
// | 8      | 4    | unknown                                                  |
// Inline: the value follows the header within the row.
// One row: the LVAL row is the value.
// Chain: each LVAL row starts with the 4-byte row pointer of the next one
// (0 on the last), then a piece of the value.
// LVAL rows are rows of ordinary data pages (type 0x01) owned by the table.
#include "db/engine/format/long_value.h"

#include <algorithm>

#include "db/engine/format/coding.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/usage_map.h"

namespace corvalin::engine {
namespace {

constexpr uint32_t kMaxLongValueLength = 0xFFFFFF;  // the 3-byte length
constexpr size_t kChainPointerSize = 4;

// The largest LVAL row: a whole page less its header, one offset entry and
// room for an overflow pointer (4076 bytes on 4 KB pages).
size_t MaxLongValueRow(const JetFormat& format) {
  return format.page_size - format.data_rows_offset - 6;
}

// A page of the column's with room for `size` bytes: its current page, or
// a new LVAL page entered in the column's maps.
uint32_t PageWithRoom(PageWriteSet& pages, const JetFormat& format,
                      LongValuePages& target, size_t size) {
  if (target.current_page != 0) {
    const PageData& p = pages.View(target.current_page);
    if (p[0] == kDataPageType && DataPageOwner(p, format) == kLongValueOwner &&
        RowFitsOnDataPage(p, format, size))
      return target.current_page;
    if (target.free_map != 0)
      SetUsageMapBit(pages, format, target.free_map, target.current_page, false,
                     UsageMapKind::kOwnership);
  }
  uint32_t page = pages.Allocate();
  InitZeroedDataPage(pages.Modify(page), format, kLongValueOwner);
  if (target.owned_map != 0)
    SetUsageMapBit(pages, format, target.owned_map, page, true, UsageMapKind::kOwnership);
  if (target.free_map != 0)
    SetUsageMapBit(pages, format, target.free_map, page, true, UsageMapKind::kOwnership);
  target.current_page = page;
  return page;
}


Error LongValueError(const ValueContext& where, uint32_t page,
                     const std::string& what) {
  return DamagedPage({.file = where.file,
                      .page = page,
                      .table = where.table,
                      .column = where.column,
                      .part = "long value"},
                     what);
}

}  // namespace

bool FindLongValueInPlace(PageFile& file, const JetFormat& format,
                          std::span<const uint8_t> header, PagePtr& page,
                          std::span<const uint8_t>& content) {
  if (header.size() < kLongValueHeaderSize) return false;
  const uint32_t length = Read24(header, 0);
  if (header[3] == kLongValueInline) {
    if (header.size() - kLongValueHeaderSize < length) return false;
    content = header.subspan(kLongValueHeaderSize, length);
    return true;
  }
  if (header[3] != kLongValueSingleRow) return false;
  const RowPointer ptr = DecodeRowPointer(Read32(header, 4));
  if (ptr.page == 0) return false;
  try {
    // A page past the end of the file or a damaged one throws;
    // ReadLongValue then tells what is wrong.
    page = file.Read(ptr.page);
    DataRowSlot slot = DataPageRow(*page, format, ptr.row, file.path(), ptr.page);
    if (slot.deleted || slot.bytes.size() < length) return false;
    content = slot.bytes.first(length);
    return true;
  } catch (const Error&) {
    return false;
  }
}

Bytes ReadLongValue(PageFile& file, const JetFormat& format,
                    std::span<const uint8_t> header, const ValueContext& where) {
  Bytes out;
  ReadLongValueInto(file, format, header, where, out);
  return out;
}

void ReadLongValueInto(PageFile& file, const JetFormat& format,
                       std::span<const uint8_t> header, const ValueContext& where,
                       Bytes& out) {
  out.clear();
  if (header.size() < kLongValueHeaderSize)
    throw LongValueError(where, 0, "the value header is cut short");
  uint32_t length = Read24(header, 0);
  uint8_t kind = header[3];
  RowPointer ptr = DecodeRowPointer(Read32(header, 4));

  if (kind == kLongValueInline) {
    if (header.size() - kLongValueHeaderSize < length)
      throw LongValueError(where, 0, "the inline value runs past the row");
    auto data = header.subspan(kLongValueHeaderSize, length);
    out.assign(data.begin(), data.end());
    return;
  }
  if (kind != kLongValueSingleRow && kind != 0)
    throw LongValueError(where, ptr.page, "unknown long value kind");

  // A value can never span more LVAL rows than the file has pages × rows;
  // the rows visited stop loops, the length check stops runaway chains.
  // A chain has a few rows (one for each 4 KB of the value): a list looked
  // through is quicker than a set for them.
  std::vector<std::pair<uint32_t, uint8_t>> visited;
  const uint32_t pages = file.page_count();
  while (true) {
    if (ptr.page == 0 || ptr.page >= pages)
      throw LongValueError(where, ptr.page, "the value points outside the file");
    const std::pair<uint32_t, uint8_t> at{ptr.page, ptr.row};
    if (std::find(visited.begin(), visited.end(), at) != visited.end())
      throw LongValueError(where, ptr.page, "the value's pages form a loop");
    visited.push_back(at);
    PagePtr page = file.Read(ptr.page);
    std::span<const uint8_t> bytes(*page);
    DataRowSlot slot;
    try {
      slot = DataPageRow(bytes, format, ptr.row, file.path(), ptr.page);
    } catch (const Error& e) {
      throw LongValueError(where, ptr.page, e.description());
    }
    if (slot.deleted)
      throw LongValueError(where, ptr.page, "the value's row is deleted");
    auto piece = slot.bytes;
    if (kind == kLongValueSingleRow) {
      if (piece.size() < length)
        throw LongValueError(where, ptr.page, "the value is shorter than its length");
      out.assign(piece.begin(), piece.begin() + length);
      return;
    }
    if (piece.size() < 4)
      throw LongValueError(where, ptr.page, "a chain row is cut short");
    // Room for the whole value at the first row: the length is not trusted
    // beyond what the file could hold.
    if (out.capacity() < length && length <= uint64_t(pages) * format.page_size)
      out.reserve(length);
    uint32_t next = Read32(piece, 0);
    size_t take = std::min<size_t>(piece.size() - 4, length - out.size());
    out.insert(out.end(), piece.begin() + 4, piece.begin() + 4 + take);
    if (out.size() >= length) return;
    if (next == 0)
      throw LongValueError(where, ptr.page, "the chain ends before the value does");
    ptr = DecodeRowPointer(next);
  }
}


std::vector<uint8_t> WriteLongValue(PageWriteSet& pages, const JetFormat& format,
                                    LongValuePages& target,
                                    std::span<const uint8_t> value,
                                    size_t room_in_row, const ValueContext& where) {
  if (value.size() > kMaxLongValueLength)
    throw Error(kErrTooLong, "the value for column " + where.column + " of table " +
                                 where.table + " is larger than 16 MB");
  std::vector<uint8_t> header(kLongValueHeaderSize, 0);
  uint32_t length = static_cast<uint32_t>(value.size());
  Write24(header, 0, length);
  if (value.size() <= kMaxInlineLongValue &&
      kLongValueHeaderSize + value.size() <= room_in_row) {
    header[3] = kLongValueInline;
    header.insert(header.end(), value.begin(), value.end());
    return header;
  }
  const size_t max_row = MaxLongValueRow(format);
  if (value.size() <= max_row) {
    uint32_t page = PageWithRoom(pages, format, target, value.size());
    uint16_t row = AddDataPageRow(pages, page, format, value);
    header[3] = kLongValueSingleRow;
    Write32(header, 4, EncodeRowPointer(page, row));
    return header;
  }
  // A chain: each row holds the pointer to the next row, then its piece.
  header[3] = kLongValueChain;
  const size_t piece = max_row - kChainPointerSize;
  std::vector<std::pair<uint32_t, uint16_t>> rows;
  for (size_t at = 0; at < value.size(); at += piece) {
    size_t n = std::min(piece, value.size() - at);
    std::vector<uint8_t> bytes(kChainPointerSize + n, 0);
    std::copy(value.begin() + at, value.begin() + at + n, bytes.begin() + kChainPointerSize);
    uint32_t page = PageWithRoom(pages, format, target, bytes.size());
    rows.emplace_back(page, AddDataPageRow(pages, page, format, bytes));
  }
  for (size_t i = 0; i + 1 < rows.size(); ++i) {
    PageData& p = pages.Modify(rows[i].first);
    size_t entry = format.data_rows_offset + size_t(rows[i].second) * 2;
    size_t start = Read16(p, entry) & kRowOffsetMask;
    Write32(p, start, EncodeRowPointer(rows[i + 1].first, rows[i + 1].second));
  }
  Write32(header, 4, EncodeRowPointer(rows[0].first, rows[0].second));
  return header;
}

}  // namespace corvalin::engine
