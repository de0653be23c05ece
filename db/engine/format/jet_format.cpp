// Layout offsets of each format version.
//
//   field                         Jet3   Jet4 / ACE
//   page size                     2048   4096
//   data page: free space         0x02   0x02
//   data page: owner TDEF         0x04   0x04
//   data page: row count          0x08   0x0C
//   data page: row offset table   0x0A   0x0E
//   TDEF: row count                 12     16
//   TDEF: autonumber                16     20
//   TDEF: table type                20     40
//   TDEF: max columns               21     41
//   TDEF: variable columns          23     43
//   TDEF: columns                   25     45
//   TDEF: indexes                   27     47
//   TDEF: real indexes              31     51
//   TDEF: owned pages map           35     55
//   TDEF: free pages map            39     59
//   TDEF: first real-index entry    43     63
//   column entry size               18     25
//   real-index entry size            8     12
//   logical-index entry size        20     28
#include "db/engine/format/jet_format.h"

namespace corvalin::engine {
namespace {

constexpr JetFormat Jet3() {
  JetFormat f{};
  f.version = JetVersion::kJet3;
  f.page_size = 2048;
  f.unicode_text = false;
  f.max_row_size = 2012;
  f.data_row_count_offset = 0x08;
  f.data_rows_offset = 0x0A;
  f.data_free_space_offset = 0x02;
  f.data_owner_offset = 0x04;
  f.row_column_count_size = 1;
  f.row_var_offset_size = 1;
  f.tdef_row_count_offset = 12;
  f.tdef_autonumber_offset = 16;
  f.tdef_table_type_offset = 20;
  f.tdef_max_columns_offset = 21;
  f.tdef_var_columns_offset = 23;
  f.tdef_column_count_offset = 25;
  f.tdef_index_count_offset = 27;
  f.tdef_real_index_count_offset = 31;
  f.tdef_owned_pages_offset = 35;
  f.tdef_free_pages_offset = 39;
  f.tdef_index_entries_offset = 43;
  f.tdef_column_entry_size = 18;
  f.tdef_real_index_entry_size = 8;
  f.tdef_logical_index_entry_size = 20;
  f.tdef_name_length_size = 1;
  return f;
}

constexpr JetFormat Jet4Like(JetVersion version) {
  JetFormat f{};
  f.version = version;
  f.page_size = 4096;
  f.unicode_text = true;
  f.max_row_size = 4060;
  f.data_row_count_offset = 0x0C;
  f.data_rows_offset = 0x0E;
  f.data_free_space_offset = 0x02;
  f.data_owner_offset = 0x04;
  f.row_column_count_size = 2;
  f.row_var_offset_size = 2;
  f.tdef_row_count_offset = 16;
  f.tdef_autonumber_offset = 20;
  f.tdef_table_type_offset = 40;
  f.tdef_max_columns_offset = 41;
  f.tdef_var_columns_offset = 43;
  f.tdef_column_count_offset = 45;
  f.tdef_index_count_offset = 47;
  f.tdef_real_index_count_offset = 51;
  f.tdef_owned_pages_offset = 55;
  f.tdef_free_pages_offset = 59;
  f.tdef_index_entries_offset = 63;
  f.tdef_column_entry_size = 25;
  f.tdef_real_index_entry_size = 12;
  f.tdef_logical_index_entry_size = 28;
  f.tdef_name_length_size = 2;
  return f;
}

constexpr JetFormat kFormats[] = {
    Jet3(),
    Jet4Like(JetVersion::kJet4),
    Jet4Like(JetVersion::kAce12),
    Jet4Like(JetVersion::kAce14),
    Jet4Like(JetVersion::kAce15),
    Jet4Like(JetVersion::kAce16),
    Jet4Like(JetVersion::kAce17),
};

}  // namespace

const JetFormat& JetFormat::For(JetVersion version) {
  return kFormats[static_cast<int>(version)];
}

}  // namespace corvalin::engine
