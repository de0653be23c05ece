#include "db/engine/ado/value_json.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstdio>

#include "db/engine/ado/field_conversion.h"
#include "db/engine/error.h"

namespace corvalin::ado {
namespace {

// Shortest round-trip text; JSON has no NaN or infinity, so those are null.
template <typename F>
std::string ShortestNumber(F value) {
  if (!std::isfinite(value)) return "null";
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
void CivilFromDays(int64_t z, int64_t* year, unsigned* month, unsigned* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2);
}

// Days from 1970-01-01 to 1899-12-30.
constexpr int64_t kOleEpochFromUnix = -25569;
constexpr int64_t kMillisPerDay = 86400000;

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned char>(c));
          out += buffer;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::string FormatOleDate(double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3.0e6) return "null";
  double whole = std::trunc(days);
  auto day_number = static_cast<int64_t>(whole);
  auto millis = static_cast<int64_t>(std::llround(std::fabs(days - whole) * kMillisPerDay));
  if (millis >= kMillisPerDay) {
    millis -= kMillisPerDay;
    day_number += 1;
  }
  int64_t year;
  unsigned month, day;
  CivilFromDays(day_number + kOleEpochFromUnix, &year, &month, &day);
  const auto ms = static_cast<unsigned>(millis % 1000);
  const auto seconds = static_cast<unsigned>(millis / 1000);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02u:%02u:%02u",
                static_cast<long long>(year), month, day, seconds / 3600,
                seconds / 60 % 60, seconds % 60);
  std::string out = buffer;
  if (ms != 0) {
    std::snprintf(buffer, sizeof buffer, ".%03u", ms);
    out += buffer;
  }
  return out;
}

std::string FormatExtDateTime(const engine::ExtDateTime& value) {
  // "DDDDDDDDDDDDDDDDDDD:SSSSSSSSSSSSFFFFFFF:P": days since 0001-01-01, the
  // seconds of the day and the 100 ns units of the second, the precision.
  constexpr size_t kDigits = 19, kSecondDigits = 12, kFractionDigits = 7;
  const std::string& t = value.text;
  auto number = [&](size_t at, size_t n, int64_t* out) {
    if (at + n > t.size()) return false;
    int64_t v = 0;
    for (size_t i = at; i < at + n; ++i) {
      if (t[i] < '0' || t[i] > '9') return false;
      v = v * 10 + (t[i] - '0');
    }
    *out = v;
    return true;
  };
  int64_t days, seconds, fraction, precision;
  const size_t time_at = kDigits + 1, precision_at = 2 * kDigits + 2;
  if (!number(0, kDigits, &days) || t[kDigits] != ':' ||
      !number(time_at, kSecondDigits, &seconds) ||
      !number(time_at + kSecondDigits, kFractionDigits, &fraction) ||
      t.size() <= precision_at || t[precision_at - 1] != ':' ||
      !number(precision_at, 1, &precision) ||
      days > 3652058 || seconds >= 86400 || precision > 7) {
    return t;  // 3652058 days: 9999-12-31
  }
  // 0001-01-01 is 719162 days before 1970-01-01.
  int64_t year;
  unsigned month, day;
  CivilFromDays(days - 719162, &year, &month, &day);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02u:%02u:%02u",
                static_cast<long long>(year), month, day,
                static_cast<unsigned>(seconds / 3600),
                static_cast<unsigned>(seconds / 60 % 60),
                static_cast<unsigned>(seconds % 60));
  std::string out = buffer;
  if (fraction != 0 && precision > 0) {
    std::snprintf(buffer, sizeof buffer, "%07lld", static_cast<long long>(fraction));
    out += ".";
    out.append(buffer, static_cast<size_t>(precision));
  }
  return out;
}

std::string FormatCurrency(const engine::Currency& value) {
  const bool negative = value.scaled < 0;
  // Through unsigned so that the most negative value does not overflow.
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value.scaled)
                                : static_cast<uint64_t>(value.scaled);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%s%llu.%04llu", negative ? "-" : "",
                static_cast<unsigned long long>(magnitude / 10000),
                static_cast<unsigned long long>(magnitude % 10000));
  return buffer;
}

std::string FormatDecimal(const engine::Decimal& value) {
  // Decimal digits of the 128-bit magnitude by repeated division by ten.
  std::array<uint32_t, 4> words = value.magnitude;
  std::string digits;
  bool nonzero = true;
  while (nonzero) {
    uint64_t remainder = 0;
    nonzero = false;
    for (int i = 3; i >= 0; --i) {
      uint64_t current = (remainder << 32) | words[i];
      words[i] = static_cast<uint32_t>(current / 10);
      remainder = current % 10;
      if (words[i] != 0) nonzero = true;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + remainder));
  }
  const size_t scale = value.scale;
  if (digits.size() <= scale) digits.insert(0, scale - digits.size() + 1, '0');
  if (scale > 0) digits.insert(digits.size() - scale, ".");
  bool zero = digits.find_first_not_of("0.") == std::string::npos;
  return (value.negative && !zero ? "-" : "") + digits;
}

std::string FormatGuid(const engine::Guid& value) {
  const auto& b = value.bytes;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return buffer;
}

std::string ToJson(const engine::Value& value) {
  struct Visitor {
    std::string operator()(const engine::Null&) const { return "null"; }
    std::string operator()(bool v) const { return v ? "true" : "false"; }
    std::string operator()(uint8_t v) const { return std::to_string(v); }
    std::string operator()(int16_t v) const { return std::to_string(v); }
    std::string operator()(int32_t v) const { return std::to_string(v); }
    std::string operator()(int64_t v) const { return std::to_string(v); }
    std::string operator()(const engine::Currency& v) const {
      return "\"" + FormatCurrency(v) + "\"";
    }
    std::string operator()(float v) const { return ShortestNumber(v); }
    std::string operator()(double v) const { return ShortestNumber(v); }
    std::string operator()(const engine::DateTime& v) const {
      std::string text = FormatOleDate(v.days);
      return text == "null" ? text : "\"" + text + "\"";
    }
    std::string operator()(const std::string& v) const { return JsonString(v); }
    std::string operator()(const engine::Bytes& v) const {
      static const char kHex[] = "0123456789abcdef";
      std::string out = "\"0x";
      for (uint8_t byte : v) {
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
      }
      return out + "\"";
    }
    std::string operator()(const engine::Guid& v) const { return "\"" + FormatGuid(v) + "\""; }
    std::string operator()(const engine::Decimal& v) const {
      return "\"" + FormatDecimal(v) + "\"";
    }
    std::string operator()(const engine::ComplexKey& v) const { return std::to_string(v.id); }
    std::string operator()(const engine::ExtDateTime& v) const {
      return JsonString(FormatExtDateTime(v));
    }
  };
  return std::visit(Visitor{}, value);
}

std::optional<double> ParseOleDate(const std::string& text) {
  int y, mo, d, h = 0, mi = 0, consumed = 0;
  double s = 0;
  char sep = 0;
  int n = std::sscanf(text.c_str(), "%d-%d-%d%n%c%d:%d:%lf%n", &y, &mo, &d, &consumed, &sep, &h,
                      &mi, &s, &consumed);
  if ((n != 3 && n != 7) || static_cast<size_t>(consumed) != text.size()) return std::nullopt;
  if (n == 7 && sep != ' ' && sep != 'T') return std::nullopt;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 ||
      s >= 60 || y < 100 || y > 9999)
    return std::nullopt;
  // Days from 1899-12-30 (civil-from-days arithmetic).
  auto days_from_civil = [](long yy, unsigned m, unsigned dd) {
    yy -= m <= 2;
    long era = (yy >= 0 ? yy : yy - 399) / 400;
    unsigned yoe = unsigned(yy - era * 400);
    unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + long(doe) - 719468;
  };
  long days = days_from_civil(y, unsigned(mo), unsigned(d)) - days_from_civil(1899, 12, 30);
  double time = (h * 3600 + mi * 60 + s) / 86400.0;
  // Before 1899-12-30 the fraction still counts forward from midnight.
  return days >= 0 ? days + time : days - time;
}

namespace {

struct JsonContext {
  const JsonValue& json;
  const engine::ColumnDef& column;
  const std::string& table;
  [[noreturn]] void Mismatch() const {
    throw engine::Error(engine::kErrTypeMismatch,
                        std::string("cannot put ") + JsonKindName(json.kind) +
                            (json.text.empty() ? "" : " (" + json.text.substr(0, 40) + ")") +
                            " into column " + column.name + " of table " + table + " (" +
                            engine::DataTypeName(column.type) + ")");
  }
  [[noreturn]] void Overflow() const {
    throw engine::Error(engine::kErrTooLong, "the number " + json.text.substr(0, 40) +
                                                 " is out of the range of column " +
                                                 column.name + " of table " + table);
  }
};

int64_t JsonInteger(const JsonContext& c, int64_t lo, int64_t hi) {
  if (c.json.kind != JsonValue::Kind::kNumber) c.Mismatch();
  int64_t v = 0;
  auto [end, err] = std::from_chars(c.json.text.data(), c.json.text.data() + c.json.text.size(), v);
  if (err == std::errc::result_out_of_range) c.Overflow();
  if (err != std::errc() || end != c.json.text.data() + c.json.text.size()) c.Mismatch();
  if (v < lo || v > hi) c.Overflow();
  return v;
}

template <typename F>
F JsonFloat(const JsonContext& c) {
  if (c.json.kind != JsonValue::Kind::kNumber) c.Mismatch();
  F v = 0;
  auto [end, err] = std::from_chars(c.json.text.data(), c.json.text.data() + c.json.text.size(), v);
  if (err == std::errc::result_out_of_range) c.Overflow();
  if (err != std::errc() || end != c.json.text.data() + c.json.text.size()) c.Mismatch();
  return v;
}

// A decimal text ("-12.3400", or a JSON number without exponent) exactly,
// as a magnitude scaled to `scale` places; false when it is not such a text,
// has more places than `scale` or does not fit 96 bits.
bool ExactDecimal(const std::string& text, unsigned scale, bool* negative,
                  std::array<uint32_t, 4>* magnitude) {
  size_t i = 0;
  *negative = !text.empty() && text[0] == '-';
  if (*negative) ++i;
  std::array<uint32_t, 4> words{};
  auto times_ten_plus = [&](unsigned digit) {
    uint64_t carry = digit;
    for (auto& w : words) {
      uint64_t x = uint64_t(w) * 10 + carry;
      w = uint32_t(x);
      carry = x >> 32;
    }
    return carry == 0 && words[3] == 0;
  };
  bool digits = false, point = false;
  unsigned places = 0;
  for (; i < text.size(); ++i) {
    char ch = text[i];
    if (ch == '.' && !point) {
      point = true;
      continue;
    }
    if (ch < '0' || ch > '9') return false;
    digits = true;
    if (point && ++places > scale) {
      if (ch != '0') return false;  // a place the column cannot keep
      continue;
    }
    if (!times_ten_plus(unsigned(ch - '0'))) return false;
  }
  if (!digits) return false;
  for (; places < scale; ++places)
    if (!times_ten_plus(0)) return false;
  *magnitude = words;
  return true;
}

}  // namespace

engine::Value FromJson(const JsonValue& json, const engine::ColumnDef& column,
                       const std::string& table) {
  using engine::DataType;
  using Kind = JsonValue::Kind;
  if (json.kind == Kind::kNull) return engine::Null{};
  JsonContext c{json, column, table};
  switch (column.type) {
    case DataType::kBoolean:
      if (json.kind != Kind::kBoolean) c.Mismatch();
      return json.boolean;
    case DataType::kByte: return static_cast<uint8_t>(JsonInteger(c, 0, 255));
    case DataType::kInteger: return static_cast<int16_t>(JsonInteger(c, -32768, 32767));
    case DataType::kLong:
      return static_cast<int32_t>(JsonInteger(c, INT32_MIN, INT32_MAX));
    case DataType::kBigInt: return JsonInteger(c, INT64_MIN, INT64_MAX);
    case DataType::kSingle: return JsonFloat<float>(c);
    case DataType::kDouble: return JsonFloat<double>(c);
    case DataType::kCurrency: {
      if (json.kind != Kind::kString && json.kind != Kind::kNumber) c.Mismatch();
      bool negative;
      std::array<uint32_t, 4> m;
      if (!ExactDecimal(json.text, 4, &negative, &m)) c.Mismatch();
      uint64_t magnitude = uint64_t(m[1]) << 32 | m[0];
      if (m[2] || m[3] || magnitude > (negative ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1))
        c.Overflow();
      return engine::Currency{negative ? int64_t(0 - magnitude) : int64_t(magnitude)};
    }
    case DataType::kDecimal: {
      if (json.kind != Kind::kString && json.kind != Kind::kNumber) c.Mismatch();
      engine::Decimal d;
      d.precision = column.precision ? column.precision : 18;
      d.scale = column.scale;
      if (!ExactDecimal(json.text, d.scale, &d.negative, &d.magnitude)) c.Mismatch();
      if (d.magnitude == std::array<uint32_t, 4>{}) d.negative = false;
      return ConvertForColumn(d, column, table);  // the precision check
    }
    case DataType::kDateTime: {
      if (json.kind != Kind::kString) c.Mismatch();
      auto days = ParseOleDate(json.text);
      if (!days) c.Mismatch();
      return engine::DateTime{*days};
    }
    case DataType::kText:
    case DataType::kMemo:
      if (json.kind != Kind::kString) c.Mismatch();
      return json.text;
    case DataType::kBinary:
    case DataType::kOle: {
      const std::string& t = json.text;
      if (json.kind != Kind::kString || t.size() < 2 || t.compare(0, 2, "0x") != 0 ||
          t.size() % 2 != 0)
        c.Mismatch();
      engine::Bytes bytes;
      bytes.reserve(t.size() / 2 - 1);
      auto nibble = [&](char h) -> int {
        if (h >= '0' && h <= '9') return h - '0';
        if (h >= 'a' && h <= 'f') return h - 'a' + 10;
        if (h >= 'A' && h <= 'F') return h - 'A' + 10;
        c.Mismatch();
      };
      for (size_t i = 2; i < t.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(nibble(t[i]) << 4 | nibble(t[i + 1])));
      return bytes;
    }
    case DataType::kReplicationId:
      if (json.kind != Kind::kString) c.Mismatch();
      return ConvertForColumn(json.text, column, table);
    default:
      c.Mismatch();
  }
}

}  // namespace corvalin::ado
