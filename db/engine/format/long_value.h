// Long values (Memo, OLE Object, long Binary): the 12-byte header in the
// row and the LVAL rows it points to.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/page_write_set.h"
#include "db/engine/value.h"

namespace corvalin::engine {

constexpr size_t kLongValueHeaderSize = 12;
// The high byte of a long value's length tells where its bytes are: in the
// row itself, on one LVAL row, or in a chain of LVAL rows.
constexpr uint8_t kLongValueInline = 0x80;
constexpr uint8_t kLongValueSingleRow = 0x40;
constexpr uint8_t kLongValueChain = 0x00;

// Where a long value is read from, for error descriptions.
struct ValueContext {
  std::string file;
  std::string table;
  std::string column;
};

// The whole value the header points to. Throws Error naming the table,
// column and page when any part cannot be read: never returns a shortened
// or empty value for damaged data.
Bytes ReadLongValue(PageFile& file, const JetFormat& format,
                    std::span<const uint8_t> header, const ValueContext& where);
// The same into out, reusing its storage (a reader going row after row).
void ReadLongValueInto(PageFile& file, const JetFormat& format,
                       std::span<const uint8_t> header, const ValueContext& where,
                       Bytes& out);

// The value's bytes where they lie, without a copy, for a value held in
// its row or on one LVAL row (`page` then keeps that page alive). False for
// a chain, and for anything ReadLongValue would refuse: it then gives the
// value or the error.
bool FindLongValueInPlace(PageFile& file, const JetFormat& format,
                          std::span<const uint8_t> header, PagePtr& page,
                          std::span<const uint8_t>& content);

// Where one long value column puts its LVAL rows: its usage maps (row
// pointers; 0 when the table definition has none) and the page it last
// wrote to, which is tried first.
struct LongValuePages {
  uint32_t owned_map = 0;
  uint32_t free_map = 0;
  uint32_t current_page = 0;
};

// Values up to this many bytes stay in the row when the row has room.
constexpr size_t kMaxInlineLongValue = 64;

// Stores value and returns what the row holds for it: the 12-byte header,
// followed by the value itself when it is kept inline (only when
// `room_in_row` allows). Larger values go to one LVAL row or a chain of
// them on LVAL pages, allocated through the save's page set. Throws Error
// naming the column when the value is larger than a long value can be.
std::vector<uint8_t> WriteLongValue(PageWriteSet& pages, const JetFormat& format,
                                    LongValuePages& target,
                                    std::span<const uint8_t> value,
                                    size_t room_in_row, const ValueContext& where);

}  // namespace corvalin::engine
