// The bounded byte coding: the byte order of every width, and reads and
// writes that would leave their span, which must give the damaged-page error
// naming the file, the page and what was read, and change nothing.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "db/engine/error.h"
#include "db/engine/format/coding.h"

namespace corvalin::engine {
namespace {

TEST(Coding, EveryWidthInItsByteOrder) {
  std::vector<uint8_t> b(32, 0);
  Write16(b, 1, 0x0102);
  Write24(b, 3, 0x030405);
  Write32(b, 6, 0x06070809);
  Write64(b, 10, 0x0A0B0C0D0E0F1011);
  Write24BE(b, 18, 0x121314);
  Write32BE(b, 21, 0x15161718);
  const std::vector<uint8_t> expected = {
      0,    0x02, 0x01, 0x05, 0x04, 0x03, 0x09, 0x08, 0x07, 0x06, 0x11,
      0x10, 0x0F, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A, 0x12, 0x13, 0x14, 0x15,
      0x16, 0x17, 0x18, 0,    0,    0,    0,    0,    0,    0};
  EXPECT_EQ(b, expected);
  EXPECT_EQ(Read16(b, 1), 0x0102);
  EXPECT_EQ(Read24(b, 3), 0x030405u);
  EXPECT_EQ(Read32(b, 6), 0x06070809u);
  EXPECT_EQ(Read64(b, 10), 0x0A0B0C0D0E0F1011u);
  EXPECT_EQ(Read24BE(b, 18), 0x121314u);
  EXPECT_EQ(Read32BE(b, 21), 0x15161718u);

  std::vector<uint8_t> appended;
  Append8(appended, 0);
  Append16(appended, 0x0102);
  Append24(appended, 0x030405);
  Append32(appended, 0x06070809);
  Append64(appended, 0x0A0B0C0D0E0F1011);
  EXPECT_TRUE(std::equal(appended.begin(), appended.end(), expected.begin()));
}

TEST(Coding, AReadPastTheEndNamesFilePageAndWhat) {
  const std::vector<uint8_t> page(16, 0xAB);
  const DamagedAt where{.file = "a.mdb", .page = 7};
  EXPECT_EQ(Read32(page, 12, where), 0xABABABABu);  // the last four bytes
  EXPECT_EQ(ReadBytes(page, 16, 0, where).size(), 0u);
  const size_t huge = std::numeric_limits<size_t>::max();
  for (size_t at : {size_t(13), size_t(16), size_t(17), huge - 1}) {
    try {
      Read32(page, at, where, "the owner");
      ADD_FAILURE() << "read 4 bytes at " << at << " of 16";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kErrDamagedFile);
      EXPECT_EQ(e.description().rfind("damaged page 7 of file a.mdb: the owner", 0), 0u)
          << e.description();
    }
  }
  EXPECT_THROW(ReadBytes(page, 8, huge, where), Error);
  // Without a place the error still says what ran out.
  try {
    Read64(page, 9);
    ADD_FAILURE() << "read 8 bytes at 9 of 16";
  } catch (const Error& e) {
    EXPECT_EQ(e.description(), "damaged data: it ends too early (8 bytes at offset 9 of 16)");
  }

  ByteReader reader(page, {.file = "b.accdb", .page = 3, .table = "T", .column = "C"});
  try {
    reader.U16(15, "the length");
    ADD_FAILURE() << "read past the end";
  } catch (const Error& e) {
    EXPECT_EQ(e.description(),
              "damaged page 3 of file b.accdb (column C of table T): the length "
              "runs past the end (2 bytes at offset 15 of 16)");
  }
}

TEST(Coding, AWritePastTheEndChangesNothing) {
  std::vector<uint8_t> page(8, 0);
  ByteWriter writer(page, {.file = "a.mdb", .page = 2});
  EXPECT_THROW(writer.U32(5, 0xFFFFFFFF), Error);
  EXPECT_THROW(Write64(page, 1, ~uint64_t(0)), Error);
  EXPECT_EQ(page, std::vector<uint8_t>(8, 0));
}

TEST(Coding, TheDamagedPageErrorLeavesOutWhatIsUnknown) {
  EXPECT_EQ(DamagedPage("f.mdb", 4, "not a data page").description(),
            "damaged page 4 of file f.mdb: not a data page");
  EXPECT_EQ(DamagedPage(DamagedAt{.file = "f.mdb", .table = "T"}, "x").description(),
            "damaged file f.mdb (table T): x");
  EXPECT_EQ(DamagedPage(DamagedAt{}, "x").description(), "damaged data: x");
  EXPECT_EQ(DamagedPage({.file = "f.mdb", .page = 9, .table = "T", .part = "definition"},
                        "it ends too early")
                .description(),
            "damaged definition of table T (page 9 of file f.mdb): it ends too early");
  EXPECT_EQ(DamagedPage({.file = "f.mdb", .table = "T", .column = "C", .part = "value"}, "x")
                .description(),
            "damaged value of column C of table T (file f.mdb): x");
}

}  // namespace
}  // namespace corvalin::engine
