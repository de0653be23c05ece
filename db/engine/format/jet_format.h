// The layout facts that differ between format versions, one description per
// version. Code asks the description; it never tests the version by hand.
#pragma once

#include <cstdint>

#include "db/engine/format/database.h"

namespace corvalin::engine {

struct JetFormat {
  JetVersion version;
  uint32_t page_size;      // 2048 (Jet3) or 4096
  bool unicode_text;       // Jet4+: text stored as UCS-2, maybe compressed
  uint32_t max_row_size;   // largest row that fits a data page

  // Data pages.
  uint16_t data_row_count_offset;  // number of rows on the page
  uint16_t data_rows_offset;       // start of the row offset table
  uint16_t data_free_space_offset;
  uint16_t data_owner_offset;      // TDEF page that owns this data page

  // Rows.
  uint8_t row_column_count_size;  // 1 (Jet3) or 2 bytes
  uint8_t row_var_offset_size;    // 1 (Jet3, with jump table) or 2 bytes

  // Table definition pages (see table_def.cpp for the whole layout).
  uint16_t tdef_row_count_offset;
  uint16_t tdef_autonumber_offset;
  uint16_t tdef_table_type_offset;
  uint16_t tdef_max_columns_offset;
  uint16_t tdef_var_columns_offset;
  uint16_t tdef_column_count_offset;
  uint16_t tdef_index_count_offset;
  uint16_t tdef_real_index_count_offset;
  uint16_t tdef_owned_pages_offset;
  uint16_t tdef_free_pages_offset;
  uint16_t tdef_index_entries_offset;  // first real-index entry
  uint16_t tdef_column_entry_size;     // 18 (Jet3) or 25
  uint16_t tdef_real_index_entry_size; // 8 (Jet3) or 12
  uint16_t tdef_logical_index_entry_size;  // 20 (Jet3) or 28
  uint8_t tdef_name_length_size;       // 1 (Jet3) or 2

  static const JetFormat& For(JetVersion version);
};

}  // namespace corvalin::engine
