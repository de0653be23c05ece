// Calculated columns: the result type from the table's properties, the
// wrapped values, and the extended Date/Time text.
#include <gtest/gtest.h>

#include "db/engine/ado/value_text.h"
#include "db/engine/error.h"
#include "db/engine/format/property_map.h"
#include "db/engine/format/value_codec.h"
#include "tests/format/format_test_pages.h"

namespace corvalin::engine {
namespace {

using Blob = std::vector<uint8_t>;

void Put16(Blob& b, size_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Blob& b, size_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
Blob Ucs2(const std::string& ascii) {
  Blob out;
  for (char c : ascii) Put16(out, static_cast<uint8_t>(c));
  return out;
}
void PutName(Blob& b, const std::string& name) {
  Blob text = Ucs2(name);
  Put16(b, text.size());
  b.insert(b.end(), text.begin(), text.end());
}
void PutChunk(Blob& b, uint16_t kind, const Blob& body) {
  Put32(b, body.size() + 6);
  Put16(b, kind);
  b.insert(b.end(), body.begin(), body.end());
}
// A properties chunk body: the object's name block, then entries of
// (name number, type, value).
Blob Block(const std::string& object,
           const std::vector<std::tuple<uint16_t, DataType, Blob>>& entries) {
  Blob name;
  if (!object.empty()) PutName(name, object);
  Blob body;
  Put32(body, name.size() + 4);
  body.insert(body.end(), name.begin(), name.end());
  for (const auto& [index, type, value] : entries) {
    Put16(body, value.size() + 8);
    body.push_back(0);  // DDL flag
    body.push_back(static_cast<uint8_t>(type));
    Put16(body, index);
    Put16(body, value.size());
    body.insert(body.end(), value.begin(), value.end());
  }
  return body;
}

// Names 0 "ResultType", 1 "Expression"; the table's block; a Currency
// result for Monthly, a Memo result for Joined, a made-up type for Odd.
Blob SampleProperties() {
  Blob blob{'M', 'R', '2', 0};
  Blob names;
  PutName(names, "ResultType");
  PutName(names, "Expression");
  PutChunk(blob, 0x80, names);
  PutChunk(blob, 0x00, Block("", {}));
  PutChunk(blob, 0x01, Block("Monthly", {{1, DataType::kMemo, Ucs2("[Salary]/12")},
                                         {0, DataType::kByte, {0x05}}}));
  PutChunk(blob, 0x01, Block("joined", {{0, DataType::kByte, {0x0C}}}));
  PutChunk(blob, 0x01, Block("Odd", {{0, DataType::kByte, {0x11}}}));
  PutChunk(blob, 0x01, Block("Plain", {{0, DataType::kByte, {0x07}}}));
  return blob;
}

ColumnDef Column(const char* name, DataType type, bool calculated) {
  ColumnDef c;
  c.name = name;
  c.type = type;
  c.calculated = calculated;
  return c;
}

TEST(CalculatedValueTest, ResultTypesComeFromTheProperties) {
  const auto blocks = ParseProperties(SampleProperties(), false, "f.accdb", "T");
  ASSERT_EQ(blocks.size(), 5u);
  EXPECT_EQ(blocks[0].name, "");
  const Property* expression = blocks[1].Find("expression");
  ASSERT_NE(expression, nullptr);
  EXPECT_EQ(expression->type, DataType::kMemo);
  EXPECT_EQ(expression->value, Ucs2("[Salary]/12"));

  TableDef t;
  t.columns = {Column("Monthly", DataType::kDouble, true),
               Column("Joined", DataType::kText, true),  // names match in any case
               Column("Odd", DataType::kLong, true),
               Column("Plain", DataType::kLong, false),
               Column("Other", DataType::kInteger, true)};
  ApplyCalculatedResultTypes(blocks, t);
  EXPECT_EQ(t.columns[0].type, DataType::kCurrency);
  EXPECT_EQ(t.columns[1].type, DataType::kMemo);
  EXPECT_EQ(t.columns[2].type, DataType::kLong);     // 0x11 is no result type
  EXPECT_EQ(t.columns[3].type, DataType::kLong);     // not calculated
  EXPECT_EQ(t.columns[4].type, DataType::kInteger);  // no properties
}

TEST(CalculatedValueTest, DamagedPropertiesAreErrorsNamingTheTable) {
  const Blob good = SampleProperties();
  auto expect_damaged = [](const Blob& blob, const char* what) {
    try {
      ParseProperties(blob, false, "f.accdb", "Orders");
      ADD_FAILURE() << what << ": no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kErrDamagedFile) << what;
      EXPECT_NE(e.description().find("Orders"), std::string::npos) << what;
      EXPECT_NE(e.description().find("f.accdb"), std::string::npos) << what;
    }
  };
  Blob b = good;
  b[0] = 'K';  // a Jet3 signature in a Jet4 file
  expect_damaged(b, "signature");
  b = good;
  b.resize(b.size() - 3);  // the last chunk cut short
  expect_damaged(b, "cut short");
  b = good;
  b[4] = 2;  // a chunk length below its own header: would never move on
  b[5] = b[6] = b[7] = 0;
  expect_damaged(b, "chunk length");
  b = {'M', 'R', '2', 0};
  PutChunk(b, 0x01, Block("X", {{7, DataType::kByte, {0x05}}}));  // no names
  expect_damaged(b, "name number");
  b = {'M', 'R', '2', 0};
  Blob body = Block("X", {});
  body.insert(body.end(), {0, 0, 0, 0, 0, 0, 0, 0});  // entry length 0
  PutChunk(b, 0x01, body);
  expect_damaged(b, "entry length");
  EXPECT_TRUE(ParseProperties(Blob{'K', 'K', 'D', 0}, true, "f.mdb", "T").empty());
}

// The wrapper around a calculated result: 16 bytes, the length, the
// result, 3 bytes.
Blob Wrap(const Blob& result) {
  Blob out(16, 0);
  Put32(out, result.size());
  out.insert(out.end(), result.begin(), result.end());
  out.insert(out.end(), 3, 0);
  return out;
}

Value Decode(DataType type, const Blob& bytes, bool calculated = true) {
  testing::MemoryPages pages({}, 4096);
  const JetFormat format = testing::TestJet4();
  ColumnDef c = Column("C", type, calculated);
  return DecodeValue(pages, format, c, bytes, ValueContext{"f.accdb", "T", "C"});
}

std::string DecimalText(const Blob& result) {
  return ado::FormatDecimal(std::get<Decimal>(Decode(DataType::kDecimal, Wrap(result))));
}

TEST(CalculatedValueTest, DecimalResultsKeepTheirWordOrder) {
  // Bytes from Access: [Salary]/52 for 1,000,000 (12 bytes: one 4-byte
  // word, then one 8-byte word), and a 28-digit value.
  EXPECT_EQ(DecimalText({0x0e, 0x00, 0x0a, 0x00, 0x00, 0x00, 0x00, 0x00, 0xec, 0x04, 0xb0,
                         0x1f, 0xe7, 0xae, 0x00, 0x00}),
            "19230.7692307692");
  EXPECT_EQ(DecimalText({0x0e, 0x00, 0x12, 0x00, 0x58, 0xe9, 0x93, 0xb6, 0x74, 0x4d, 0xea,
                         0xc8, 0xf7, 0xaa, 0x52, 0x18}),
            "56505085819.424791296572280180");
  // A length of 0 means "to the end"; a sign byte makes it negative.
  EXPECT_EQ(DecimalText({0x00, 0x00, 0x06, 0x80, 0x00, 0x00, 0x00, 0x00, 0xf8, 0xb4, 0x28,
                         0x02, 0x00, 0x00, 0x00, 0x00}),
            "-36.222200");
  // Two 8-byte words: the first is the more significant.
  EXPECT_EQ(DecimalText({0x12, 0x00, 0x00, 0x00, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0,
                         0}),
            "18446744073709551618");
  EXPECT_THROW(DecimalText({0x0e, 0x00, 0x02, 0x00, 1, 2, 3}), Error);  // cut short
}

TEST(CalculatedValueTest, FixedResultsNullsAndBooleans) {
  const Blob monthly{0x55, 0xa8, 0xab, 0x31, 0, 0, 0, 0};  // 83333.3333
  EXPECT_EQ(std::get<Currency>(Decode(DataType::kCurrency, Wrap(monthly))).scaled, 833333333);
  EXPECT_EQ(std::get<int32_t>(Decode(DataType::kLong, Wrap({12, 0, 0, 0}))), 12);
  EXPECT_EQ(std::get<bool>(Decode(DataType::kBoolean, Wrap({0xff}))), true);
  EXPECT_EQ(std::get<bool>(Decode(DataType::kBoolean, Wrap({}))), false);
  EXPECT_TRUE(IsNull(Decode(DataType::kDouble, Wrap({}))));
  EXPECT_EQ(std::get<std::string>(Decode(DataType::kText,
                                         Wrap({0xff, 0xfe, 'D', 'o', 'e'}))),
            "Doe");
  // A result whose size is not its type's is damage, not a value to guess.
  try {
    Decode(DataType::kDouble, Wrap(Blob(4, 0)));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrDamagedFile);
    EXPECT_NE(e.description().find("column C"), std::string::npos);
  }
  // A length past the wrapper's end.
  Blob bad = Wrap({1, 2, 3, 4});
  bad[16] = 200;
  EXPECT_THROW(Decode(DataType::kLong, bad), Error);
}

Blob Text(const std::string& s) { return Blob(s.begin(), s.end()); }

TEST(CalculatedValueTest, ExtendedDateTimeTextIsChecked) {
  Blob stored = Text("0000000000000737954:0000000819123456789:7");
  stored.push_back(0);
  const auto value = std::get<ExtDateTime>(Decode(DataType::kExtDateTime, stored, false));
  EXPECT_EQ(value.text, "0000000000000737954:0000000819123456789:7");
  EXPECT_EQ(ado::FormatExtDateTime(value), "2021-06-14T22:45:12.3456789");
  for (const char* bad : {"", "12:34", "0000000000000737954-0000000819123456789:7",
                          "00000000000007379x4:0000000819123456789:7"}) {
    EXPECT_THROW(Decode(DataType::kExtDateTime, Text(bad), false), Error) << bad;
  }
}

}  // namespace
}  // namespace corvalin::engine
