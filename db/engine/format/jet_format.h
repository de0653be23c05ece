// The layout facts that differ between format versions, one description per
// version. Code asks the description; it never tests the version by hand.
#pragma once

#include <cstddef>
#include <cstdint>

#include "db/engine/format/database.h"
#include "db/engine/format/table_def_layout.h"

namespace corvalin::engine {

// Where the parts of an index page lie (the table in index_page.cpp).
struct IndexPageLayout {
  size_t unknown;      // bytes after the owner that the encoder leaves zero
  size_t prev;         // previous page of the same level (ends `unknown`)
  size_t next;         // next page of the same level
  size_t tail;         // intermediate pages: the last child
  size_t prefix;       // shared prefix length
  size_t prefix_size;  // its size in bytes
  size_t mask;         // entry-end bitmap
  size_t mask_size;
  size_t entries;      // first byte of the entry area
};

struct JetFormat {
  JetVersion version;
  uint32_t page_size;      // 2048 (Jet3) or 4096
  bool unicode_text;       // Jet4+: text stored as UCS-2, maybe compressed
  uint32_t max_row_size;   // largest row that fits a data page

  // What the version is and what its files can hold.
  bool ace;                // "Standard ACE DB" (ACE12+): may be Office-encrypted
  bool jet4_provider;      // the Jet 4.0 provider opens it (Jet3, Jet4)
  bool creatable;          // new files of it can be made (Jet4, ACE12, ACE16)
  bool password_on_create; // a new file of it may get a password (Jet4)
  bool complex_columns;    // has MSysComplexColumns (ACE12+)
  bool large_numbers;      // Large Number (BigInt) columns (ACE16+)

  // Text and index keys.
  uint8_t new_text_sort_version;  // sort version of new text columns (ACE16: 1)
  bool general97_text_keys;       // Jet3: text keys in General (Access 97)
  bool legacy_text_sort_default;  // Jet4, ACE12: unversioned text columns
                                  // sort in General Legacy (later: General)
  bool legacy_decimal_keys;       // Jet3, Jet4: a descending Decimal key
                                  // restores its sign byte after flipping

  // Header page (see header_page.cpp).
  uint16_t header_masked_size;       // 126 (Jet3) or 128
  uint16_t header_sort_order_offset; // 0x3A (Jet3) or 0x6E
  uint16_t header_password_size;     // 20 bytes (Jet3) or 40 (UCS-2)
  bool header_sort_version;          // Jet4+: the sort order's version
  bool header_password_dated;        // Jet4+: XORed with the creation date

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
  uint8_t tdef_real_index_tail;        // unknown bytes after an index's flags
  bool tdef_long_value_maps;           // Jet4+: long value usage maps follow
  const tdef::ColumnLayout* tdef_column_layout;  // the column entry fields

  // Index pages.
  const IndexPageLayout* index_layout;

  static const JetFormat& For(JetVersion version);
  // The description of a version number as stored in page 0; null when the
  // number is none we know.
  static const JetFormat* ForStored(uint32_t stored_version);
};

}  // namespace corvalin::engine
