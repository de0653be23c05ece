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
//   header: masked block           126    128
//   header: sort order            0x3A   0x6E
//   header: password bytes          20     40 (UCS-2, XORed with the date)
//
// What each version can hold and how its keys sort:
//
//   fact                       Jet3  Jet4  ACE12  ACE14  ACE15  ACE16  ACE17
//   "Standard ACE DB"           -     -     x      x      x      x      x
//   Jet 4.0 provider opens it   x     x     -      -      -      -      -
//   new files can be made       -     x     x      -      -      x      -
//   password on new files       -     x     -      -      -      -      -
//   MSysComplexColumns          -     -     x      x      x      x      x
//   Large Number columns        -     -     -      -      -      x      x
//   new text sort version       -     0     0      0      0      1      0
//   text keys: General 97       x     -     -      -      -      -      -
//   unversioned text: Legacy    -     x     x      -      -      -      -
//   legacy Decimal keys         x     x     -      -      -      -      -
#include "db/engine/format/jet_format.h"

#include <iterator>

namespace corvalin::engine {
namespace {

//   index page field              Jet3   Jet4 / ACE
//   previous / next / tail page   8/12/16  12/16/20
//   shared prefix length          20 (1)   24 (2)
//   entry-end bitmap              22 (226) 27 (453)
//   entries                       248      480
constexpr IndexPageLayout kJet3Index{8, 8, 12, 16, 20, 1, 22, 226, 248};
constexpr IndexPageLayout kJet4Index{8, 12, 16, 20, 24, 2, 27, 453, 480};
static_assert(kJet3Index.mask + kJet3Index.mask_size == kJet3Index.entries);
static_assert(kJet4Index.mask + kJet4Index.mask_size == kJet4Index.entries);

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
  f.tdef_real_index_tail = 0;
  f.tdef_long_value_maps = false;
  f.tdef_column_layout = &tdef::kJet3Layout;
  f.index_layout = &kJet3Index;
  f.ace = false;
  f.jet4_provider = true;
  f.creatable = false;
  f.password_on_create = false;
  f.complex_columns = false;
  f.large_numbers = false;
  f.new_text_sort_version = 0;
  f.general97_text_keys = true;
  f.legacy_text_sort_default = false;
  f.legacy_decimal_keys = true;
  f.header_masked_size = 126;
  f.header_sort_order_offset = 0x3A;
  f.header_password_size = 20;
  f.header_sort_version = false;
  f.header_password_dated = false;
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
  f.tdef_real_index_tail = 5;
  f.tdef_long_value_maps = true;
  f.tdef_column_layout = &tdef::kJet4Layout;
  f.index_layout = &kJet4Index;
  const bool jet4 = version == JetVersion::kJet4;
  f.ace = !jet4;
  f.jet4_provider = jet4;
  f.creatable = jet4 || version == JetVersion::kAce12 || version == JetVersion::kAce16;
  f.password_on_create = jet4;
  f.complex_columns = !jet4;
  f.large_numbers = version >= JetVersion::kAce16;
  f.new_text_sort_version = version == JetVersion::kAce16 ? 1 : 0;
  f.general97_text_keys = false;
  f.legacy_text_sort_default = jet4 || version == JetVersion::kAce12;
  f.legacy_decimal_keys = jet4;
  f.header_masked_size = 128;
  f.header_sort_order_offset = 0x6E;
  f.header_password_size = 40;
  f.header_sort_version = true;
  f.header_password_dated = true;
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

const JetFormat* JetFormat::ForStored(uint32_t stored_version) {
  return stored_version < std::size(kFormats) ? &kFormats[stored_version] : nullptr;
}

}  // namespace corvalin::engine
