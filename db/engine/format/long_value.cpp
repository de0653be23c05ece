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

#include <set>

#include "db/engine/format/data_page.h"

namespace corvalin::engine {
namespace {

constexpr uint8_t kInline = 0x80;
constexpr uint8_t kSingleRow = 0x40;

uint32_t Get32(std::span<const uint8_t> p, size_t at) {
  return uint32_t(p[at]) | uint32_t(p[at + 1]) << 8 |
         uint32_t(p[at + 2]) << 16 | uint32_t(p[at + 3]) << 24;
}

Error LongValueError(const ValueContext& where, uint32_t page,
                     const std::string& what) {
  return Error(kErrDamagedFile,
               "cannot read the long value of column " + where.column +
                   " of table " + where.table + " (page " +
                   std::to_string(page) + " of file " + where.file +
                   "): " + what);
}

}  // namespace

Bytes ReadLongValue(PageFile& file, const JetFormat& format,
                    std::span<const uint8_t> header, const ValueContext& where) {
  if (header.size() < kLongValueHeaderSize)
    throw LongValueError(where, 0, "the value header is cut short");
  uint32_t length = header[0] | header[1] << 8 | header[2] << 16;
  uint8_t kind = header[3];
  RowPointer ptr = DecodeRowPointer(Get32(header, 4));

  if (kind == kInline) {
    if (header.size() - kLongValueHeaderSize < length)
      throw LongValueError(where, 0, "the inline value runs past the row");
    auto data = header.subspan(kLongValueHeaderSize, length);
    return Bytes(data.begin(), data.end());
  }
  if (kind != kSingleRow && kind != 0)
    throw LongValueError(where, ptr.page, "unknown long value kind");

  Bytes out;
  // A value can never span more LVAL rows than the file has pages × rows;
  // the visited set stops loops, the length check stops runaway chains.
  std::set<std::pair<uint32_t, uint8_t>> visited;
  while (true) {
    if (ptr.page == 0 || ptr.page >= file.page_count())
      throw LongValueError(where, ptr.page, "the value points outside the file");
    if (!visited.insert({ptr.page, ptr.row}).second)
      throw LongValueError(where, ptr.page, "the value's pages form a loop");
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
    if (kind == kSingleRow) {
      if (piece.size() < length)
        throw LongValueError(where, ptr.page, "the value is shorter than its length");
      return Bytes(piece.begin(), piece.begin() + length);
    }
    if (piece.size() < 4)
      throw LongValueError(where, ptr.page, "a chain row is cut short");
    uint32_t next = Get32(piece, 0);
    size_t take = std::min<size_t>(piece.size() - 4, length - out.size());
    out.insert(out.end(), piece.begin() + 4, piece.begin() + 4 + take);
    if (out.size() >= length) return out;
    if (next == 0)
      throw LongValueError(where, ptr.page, "the chain ends before the value does");
    ptr = DecodeRowPointer(next);
  }
}

}  // namespace corvalin::engine
