#include "db/engine/ado/value_json.h"

#include <gtest/gtest.h>

namespace corvalin::ado {
namespace {

using engine::Value;

TEST(ValueJsonTest, ScalarForms) {
  EXPECT_EQ(ToJson(Value{engine::Null{}}), "null");
  EXPECT_EQ(ToJson(Value{true}), "true");
  EXPECT_EQ(ToJson(Value{uint8_t{255}}), "255");
  EXPECT_EQ(ToJson(Value{int16_t{-32768}}), "-32768");
  EXPECT_EQ(ToJson(Value{int64_t{-9007199254740993}}), "-9007199254740993");
  EXPECT_EQ(ToJson(Value{1.1f}), "1.1");
  EXPECT_EQ(ToJson(Value{0.1 + 0.2}), "0.30000000000000004");
  EXPECT_EQ(ToJson(Value{engine::ComplexKey{42}}), "42");
}

TEST(ValueJsonTest, CurrencyAndDecimalAreDecimalStrings) {
  EXPECT_EQ(ToJson(Value{engine::Currency{123400}}), "\"12.3400\"");
  EXPECT_EQ(ToJson(Value{engine::Currency{-5}}), "\"-0.0005\"");
  EXPECT_EQ(ToJson(Value{engine::Currency{INT64_MIN}}), "\"-922337203685477.5808\"");
  engine::Decimal d;
  d.scale = 2;
  d.negative = true;
  d.magnitude = {12345, 0, 0, 0};
  EXPECT_EQ(ToJson(Value{d}), "\"-123.45\"");
  d.magnitude = {5, 0, 0, 0};
  d.scale = 4;
  EXPECT_EQ(ToJson(Value{d}), "\"-0.0005\"");
  d.negative = false;
  d.scale = 0;
  d.magnitude = {0, 0, 1, 0};  // 2^64
  EXPECT_EQ(ToJson(Value{d}), "\"18446744073709551616\"");
}

TEST(ValueJsonTest, OleDatesAsAccessShowsThem) {
  EXPECT_EQ(FormatOleDate(0), "1899-12-30T00:00:00");
  EXPECT_EQ(FormatOleDate(2.5), "1900-01-01T12:00:00");
  // Before the epoch the time of day is still a positive fraction.
  EXPECT_EQ(FormatOleDate(-1.25), "1899-12-29T06:00:00");
  EXPECT_EQ(FormatOleDate(-0.5), "1899-12-30T12:00:00");
  EXPECT_EQ(FormatOleDate(36526 + 0.5 + 0.123 / 86400), "2000-01-01T12:00:00.123");
  EXPECT_EQ(FormatOleDate(-657434), "0100-01-01T00:00:00");
  EXPECT_EQ(FormatOleDate(2958465.99999999), "9999-12-31T23:59:59.999");
  // A time that rounds up to midnight moves to the next day.
  EXPECT_EQ(FormatOleDate(1.9999999999), "1900-01-01T00:00:00");
}

TEST(ValueJsonTest, ExtendedDatesInTheDateTimeForm) {
  auto json = [](const char* text) { return ToJson(Value{engine::ExtDateTime{text}}); };
  EXPECT_EQ(json("0000000000000000000:0000000000000000000:7"), "\"0001-01-01T00:00:00\"");
  EXPECT_EQ(json("0000000000000737592:0000000000000000000:7"), "\"2020-06-17T00:00:00\"");
  // The fraction in the stored precision, and only when there is one.
  EXPECT_EQ(json("0000000000000036323:0000000459001234567:7"),
            "\"0100-06-14T12:45:00.1234567\"");
  EXPECT_EQ(json("0000000000000036323:0000000459001000000:7"),
            "\"0100-06-14T12:45:00.1000000\"");
  EXPECT_EQ(json("0000000000003652058:0000000863999999999:7"),
            "\"9999-12-31T23:59:59.9999999\"");
  // Text that holds no such date is shown as stored, never as a made-up date.
  EXPECT_EQ(json("0000000000003652059:0000000000000000000:7"),
            "\"0000000000003652059:0000000000000000000:7\"");
  EXPECT_EQ(json("0000000000000000000:0000000864000000000:7"),
            "\"0000000000000000000:0000000864000000000:7\"");
  EXPECT_EQ(json("garbage"), "\"garbage\"");
}

TEST(ValueJsonTest, TextBytesAndGuids) {
  EXPECT_EQ(ToJson(Value{std::string("a\"b\\c\n\x01 é")}), "\"a\\\"b\\\\c\\n\\u0001 é\"");
  EXPECT_EQ(ToJson(Value{engine::Bytes{0x00, 0xAB, 0x10}}), "\"0x00ab10\"");
  engine::Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(ToJson(Value{g}), "\"{03020100-0504-0706-0809-0A0B0C0D0E0F}\"");
}

}  // namespace
}  // namespace corvalin::ado
