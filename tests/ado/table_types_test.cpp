#include "db/engine/ado/table_types.h"

#include <gtest/gtest.h>

namespace corvalin::ado {
namespace {

engine::CatalogEntry Entry(int16_t type, uint32_t flags) {
  engine::CatalogEntry entry;
  entry.name = "x";
  entry.type = type;
  entry.flags = flags;
  return entry;
}

// The flags below are the ones Access wrote into the corpus files'
// MSysObjects (linkerTestV2007.accdb, queryTestV2007.accdb).
TEST(TableTypesTest, TypesAsTheJetProviderReportsThem) {
  EXPECT_EQ(TableTypeOf(Entry(1, 0)), "TABLE");
  EXPECT_EQ(TableTypeOf(Entry(1, 0x8)), "TABLE");  // a table the user hid
  EXPECT_EQ(TableTypeOf(Entry(1, 0x80000000u)), "SYSTEM TABLE");   // MSysObjects
  EXPECT_EQ(TableTypeOf(Entry(1, 0x80100000u)), "SYSTEM TABLE");   // f_..._Data
  EXPECT_EQ(TableTypeOf(Entry(1, 10)), "ACCESS TABLE");            // MSysAccessStorage
  EXPECT_EQ(TableTypeOf(Entry(6, 0x200000)), "LINK");
  EXPECT_EQ(TableTypeOf(Entry(4, 0)), "PASS-THROUGH");
  EXPECT_EQ(TableTypeOf(Entry(5, 0)), "VIEW");     // select
  EXPECT_EQ(TableTypeOf(Entry(5, 3)), "VIEW");     // ~sq_ query of a form
  EXPECT_EQ(TableTypeOf(Entry(5, 16)), "VIEW");    // crosstab
  EXPECT_EQ(TableTypeOf(Entry(5, 128)), "VIEW");   // union
  for (uint32_t action : {32u, 48u, 64u, 80u, 96u, 112u}) {
    EXPECT_EQ(TableTypeOf(Entry(5, action)), std::nullopt) << action;
  }
  EXPECT_EQ(TableTypeOf(Entry(3, 0)), std::nullopt);       // container
  EXPECT_EQ(TableTypeOf(Entry(-32768, 0)), std::nullopt);  // form
}

}  // namespace
}  // namespace corvalin::ado
