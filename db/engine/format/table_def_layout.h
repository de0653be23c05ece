// The layout of table definition (TDEF) pages, shared by the code that reads
// them (table_def.cpp, whose header describes the whole layout) and the code
// that writes new ones (table_def_writer.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvalin::engine::tdef {

// Every page of the chain: type, 0x01, free space (2), next page (4). The
// definition continues on the next page from byte kPageHeaderSize on.
constexpr uint8_t kPageType = 0x02;
constexpr size_t kFreeSpaceOffset = 2;
constexpr size_t kNextPageOffset = 4;
constexpr size_t kPageHeaderSize = 8;
// Jet4+: the definition's length (4 bytes, from the start of the first page)
// and the number that precedes the counters, every column entry and every
// logical index entry.
constexpr size_t kLengthOffset = 8;
constexpr size_t kMagicOffset = 12;
constexpr uint32_t kTableMagic = 1625;
// Jet4+: the first byte after the AutoNumber counter; Access sets it.
constexpr size_t kAutoNumberEnabledOffset = 24;

constexpr uint8_t kUserTable = 0x4E;
constexpr uint8_t kSystemTable = 0x53;

// Column entry fields.
struct ColumnLayout {
  size_t number, var_index, column_index, sort_order, sort_version, code_page,
      precision, scale, flags, ext_flags, fixed_offset, length;
  size_t index_skip;  // the unknown 4 bytes in Jet4 index records
};
constexpr ColumnLayout kJet3Layout{1, 3, 5, 9, SIZE_MAX, 11, 11, 12, 13, SIZE_MAX, 14, 16, 0};
constexpr ColumnLayout kJet4Layout{5, 7, 9, 11, 14, SIZE_MAX, 11, 12, 15, 16, 21, 23, 4};
constexpr size_t kColumnMagicOffset = 1;  // Jet4+: kTableMagic

constexpr uint8_t kColumnFixed = 0x01;
constexpr uint8_t kColumnUpdatable = 0x02;  // set on every column Access makes
constexpr uint8_t kColumnAutoNumber = 0x04;
constexpr uint8_t kColumnGuidAutoNumber = 0x40;
constexpr uint8_t kColumnHyperlink = 0x80;
constexpr uint8_t kExtCompressedUnicode = 0x01;
constexpr uint8_t kExtCalculated = 0xC0;

// Real index column blocks: 10 column slots (number 2, order 1), unused
// slots hold kUnusedColumn. Jet4+ blocks begin with kIndexMagic.
constexpr uint16_t kUnusedColumn = 0xFFFF;
constexpr int kIndexColumnSlots = 10;
constexpr uint32_t kIndexMagic = 1923;
constexpr uint8_t kColumnAscending = 0x01;
constexpr size_t kJet4RealIndexBlockSize = 52;
constexpr size_t kJet4IndexFlagsOffset = 46;  // within the block

constexpr uint8_t kIndexUnique = 0x01;
constexpr uint8_t kIndexIgnoreNulls = 0x02;
constexpr uint8_t kIndexRequired = 0x08;
constexpr uint8_t kIndexJet4 = 0x80;  // set on every index Jet4+ makes
constexpr uint8_t kPrimaryKeyIndex = 1;
constexpr uint32_t kNoRelatedIndex = 0xFFFFFFFF;

// Jet4+ long value column usage maps: column number 2, owned map 4, free
// map 4; the list ends with kUnusedColumn.
constexpr size_t kLongValueMapEntrySize = 10;

}  // namespace corvalin::engine::tdef
