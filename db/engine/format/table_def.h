// A table definition as read from its TDEF page chain: columns and indexes.
// The layout of the TDEF pages themselves is described in table_def.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvalin::engine {

// Column type codes as the file stores them.
enum class DataType : uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,
  kLong = 0x04,
  kCurrency = 0x05,
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C,
  kUnknown0D = 0x0D,
  kReplicationId = 0x0F,
  kDecimal = 0x10,
  kUnknown11 = 0x11,
  kComplex = 0x12,
  kBigInt = 0x13,
  kExtDateTime = 0x14,
};

// "Boolean", "Long", "Text", ...
const char* DataTypeName(DataType type);

struct ColumnDef {
  std::string name;
  DataType type = DataType::kText;
  uint16_t column_id = 0;     // the column's number, stable across changes
  uint16_t column_index = 0;  // the column's ordinal position in the table
  uint16_t var_index = 0;     // slot in the variable-length offset table
  uint16_t fixed_offset = 0;  // offset in the fixed-length area of a row
  uint16_t length = 0;        // storage size in bytes (text: size × 2 on Jet4+)
  uint8_t flags = 0;          // raw column flags
  uint8_t precision = 0;      // Decimal
  uint8_t scale = 0;          // Decimal
  uint16_t sort_order = 0;    // text columns: collation (Jet4+) / code page
  uint16_t code_page = 0;     // Jet3 text columns
  uint8_t sort_version = 0;   // Jet4+ text columns: collation version
  bool fixed = false;         // stored in the fixed-length area
  bool autonumber = false;
  bool guid_autonumber = false;
  bool compressed_unicode = false;
  bool hyperlink = false;
  bool calculated = false;    // ACE 2010 calculated column (stored value)
  bool required = false;      // from the column's properties, when known
};

struct IndexColumn {
  uint16_t column_id = 0;
  bool ascending = true;
};

// A logical index (what the user made) over a physical index (the b-tree).
struct IndexDef {
  std::string name;
  int32_t index_number = 0;       // logical index number
  int32_t real_index_number = 0;  // the physical index it uses
  std::vector<IndexColumn> columns;
  uint32_t first_page = 0;        // root page of the b-tree
  uint32_t used_pages = 0;        // the index's usage map (row/page pointer)
  uint8_t flags = 0;              // unique 0x01, ignore nulls 0x02, required 0x08
  uint8_t index_type = 0;         // 1 primary key, 2 foreign key
  bool primary = false;
  bool unique = false;
  bool foreign = false;
};

// The LVAL pages of one long value column (Memo, OLE, long Binary): its
// own owned-pages and free-space usage maps (row pointers).
struct LongValueMaps {
  uint16_t column_id = 0;
  uint32_t owned_map = 0;
  uint32_t free_map = 0;
};

struct TableDef {
  std::string name;
  uint32_t page = 0;             // first TDEF page
  uint32_t row_count = 0;        // as recorded in the definition
  uint32_t next_autonumber = 0;  // the last Long AutoNumber given (0: none yet)
  uint8_t table_type = 0;        // 0x4E user table, 0x53 system table
  uint16_t max_columns = 0;
  uint16_t var_columns = 0;
  uint32_t owned_pages_map = 0;  // row pointer of the owned-pages usage map
  uint32_t free_pages_map = 0;   // row pointer of the free-space usage map
  // Columns in ordinal position (column_index) order.
  std::vector<ColumnDef> columns;
  std::vector<IndexDef> indexes;
  std::vector<LongValueMaps> long_value_maps;  // Jet4+, when recorded
};

}  // namespace corvalin::engine
