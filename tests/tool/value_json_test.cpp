#include "db/tool/value_json.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "db/engine/ado/value_text.h"
#include "db/engine/error.h"

namespace corvalin::tool {
namespace {

using ado::FormatOleDate;
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
  // Years outside 0..9999 keep printf's forms; numbers that are no date are null.
  EXPECT_EQ(FormatOleDate(-2999999), "-6314-04-11T00:00:00");
  EXPECT_EQ(FormatOleDate(2999999.5), "10113-09-18T12:00:00");
  EXPECT_EQ(FormatOleDate(3.1e6), "null");
  // Appended after what a line holds already; a null date leaves no quote.
  std::string line = "[1,";
  AppendJson(line, Value{engine::DateTime{0.0 / 0.0}});
  line += ',';
  AppendJson(line, Value{engine::DateTime{0.5}});
  EXPECT_EQ(line, "[1,null,\"1899-12-30T12:00:00\"");
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
  // Long texts are scanned a block at a time: an escape is found wherever
  // it falls in one, the last character included.
  for (const auto& [escape, escaped] : std::vector<std::pair<char, std::string>>{
           {'"', "\\\""}, {'\\', "\\\\"}, {'\n', "\\n"}, {'\x1F', "\\u001f"}}) {
    for (size_t at = 0; at < 40; ++at) {
      std::string text = std::string(40, 'x') + "\xC3\xA9";
      text[at] = escape;
      EXPECT_EQ(ToJson(Value{text}), "\"" + std::string(at, 'x') + escaped +
                                         std::string(39 - at, 'x') + "\xC3\xA9\"")
          << at;
    }
  }
  EXPECT_EQ(ToJson(Value{engine::Bytes{0x00, 0xAB, 0x10}}), "\"0x00ab10\"");
  engine::Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(ToJson(Value{g}), "\"{03020100-0504-0706-0809-0A0B0C0D0E0F}\"");
}

// What an export prints reads back as the same value, for every type a
// schema's rows can hold.
TEST(ValueJsonTest, ExportFormsReadBack) {
  struct Case {
    engine::DataType type;
    Value value;
    uint8_t scale = 0;
  };
  engine::Decimal big;
  big.precision = 28;
  big.scale = 4;
  big.negative = true;
  big.magnitude = {0xFFFFFFFF, 0xFFFFFFFF, 0x0FFFFFFF, 0};  // beyond a double's digits
  engine::Guid guid;
  for (int i = 0; i < 16; ++i) guid.bytes[i] = uint8_t(i * 17);
  const Case cases[] = {
      {engine::DataType::kBoolean, true},
      {engine::DataType::kByte, uint8_t{200}},
      {engine::DataType::kInteger, int16_t{-32768}},
      {engine::DataType::kLong, int32_t{2147483647}},
      {engine::DataType::kBigInt, int64_t{-9007199254740993}},
      {engine::DataType::kSingle, 1.1f},
      {engine::DataType::kDouble, 0.1 + 0.2},
      {engine::DataType::kCurrency, engine::Currency{INT64_MIN}},
      {engine::DataType::kCurrency, engine::Currency{-5}},
      {engine::DataType::kDecimal, big, 4},
      {engine::DataType::kDateTime, engine::DateTime{45000.5}},
      {engine::DataType::kDateTime, engine::DateTime{-700.25}},
      {engine::DataType::kDateTime, engine::DateTime{36526 + 0.5 + 0.123 / 86400}},
      {engine::DataType::kText, std::string("Zoë \"quoted\"\n\u00e9\U0001F600")},
      {engine::DataType::kOle, engine::Bytes{0x00, 0xAB, 0xFF}},
      {engine::DataType::kReplicationId, guid},
      {engine::DataType::kLong, engine::Null{}},
  };
  for (const auto& c : cases) {
    engine::ColumnDef column;
    column.name = "c";
    column.type = c.type;
    column.precision = 28;
    column.scale = c.scale;
    const std::string json = ToJson(c.value);
    Value back = FromJson(ParseJson(json), column, "t");
    if (c.type == engine::DataType::kDateTime) {
      EXPECT_NEAR(std::get<engine::DateTime>(back).days, std::get<engine::DateTime>(c.value).days,
                  1e-8)
          << json;
    } else {
      EXPECT_EQ(back, c.value) << json;
    }
  }
}

TEST(ValueJsonTest, FormsThatDoNotFitTheColumnAreRefused) {
  engine::ColumnDef column;
  column.name = "Amount";
  auto refused = [&](engine::DataType type, const std::string& json, int32_t number) {
    column.type = type;
    column.scale = 2;
    try {
      FromJson(ParseJson(json), column, "Orders");
      ADD_FAILURE() << json << " was taken";
    } catch (const engine::Error& e) {
      EXPECT_EQ(e.number(), number) << json;
      EXPECT_NE(e.description().find("Amount"), std::string::npos) << e.description();
    }
  };
  refused(engine::DataType::kByte, "256", engine::kErrTooLong);
  refused(engine::DataType::kLong, "1.5", engine::kErrTypeMismatch);
  refused(engine::DataType::kLong, "\"12\"", engine::kErrTypeMismatch);
  refused(engine::DataType::kBoolean, "1", engine::kErrTypeMismatch);
  refused(engine::DataType::kCurrency, "\"1.23456\"", engine::kErrTypeMismatch);
  refused(engine::DataType::kCurrency, "\"922337203685477.5808\"", engine::kErrTooLong);
  refused(engine::DataType::kDecimal, "\"1.234\"", engine::kErrTypeMismatch);
  refused(engine::DataType::kDateTime, "\"2021-02-30x\"", engine::kErrTypeMismatch);
  refused(engine::DataType::kBinary, "\"0xabc\"", engine::kErrTypeMismatch);
  refused(engine::DataType::kBinary, "\"0xzz\"", engine::kErrTypeMismatch);
}

TEST(JsonReaderTest, DocumentsAndTheirFaults) {
  JsonValue v = ParseJson(" {\"a\": [1, -2.5e3, true, null, \"x\\u00e9\\ud83d\\ude00\"],\n \"b\": {}} ");
  ASSERT_EQ(v.kind, JsonValue::Kind::kObject);
  const JsonValue* a = v.Find("a");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->items.size(), 5u);
  EXPECT_EQ(a->items[1].text, "-2.5e3");
  EXPECT_TRUE(a->items[2].boolean);
  EXPECT_TRUE(a->items[3].IsNull());
  EXPECT_EQ(a->items[4].text, "x\u00e9\U0001F600");
  EXPECT_EQ(v.Find("b")->line, 2);
  EXPECT_EQ(v.Find("c"), nullptr);

  auto fault = [](const std::string& text, const std::string& where) {
    try {
      ParseJson(text);
      ADD_FAILURE() << text << " was read";
    } catch (const engine::Error& e) {
      EXPECT_EQ(e.number(), engine::kErrSyntax);
      EXPECT_NE(e.description().find(where), std::string::npos) << e.description();
    }
  };
  fault("", "line 1, column 1");
  fault("[1,\n 2,,]", "line 2, column 4");
  fault("{\"a\" 1}", "':'");
  fault("\"open", "closing quote");
  fault("01", "more after its end");
  fault("[\"\\ud800\"]", "surrogate");
  fault("\"tab\there\"", "control character");
  fault(std::string(100, '[') + std::string(100, ']'), "deeper");
}

}  // namespace
}  // namespace corvalin::tool
