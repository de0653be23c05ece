#include "db/engine/ado/value_json.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "db/engine/ado/field_conversion.h"
#include "db/engine/error.h"

namespace corvalin::ado {
namespace {

// Shortest round-trip text; JSON has no NaN or infinity, so those are null.
template <typename F>
void AppendShortestNumber(std::string& out, F value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[64];
  out.append(buffer,
             static_cast<size_t>(std::to_chars(buffer, buffer + sizeof buffer, value).ptr - buffer));
}

// Civil date from days since 1970-01-01 (proleptic Gregorian calendar), for
// days from 8 million before it on (both date forms stay well within). The day
// count is shifted by whole 400-year eras so that the arithmetic is unsigned
// (and cheap: every division is by a constant).
void CivilFromDays(int64_t z, int64_t* year, unsigned* month, unsigned* day) {
  constexpr uint32_t kShiftEras = 50;
  const auto n = static_cast<uint32_t>(z + 719468 + int64_t{kShiftEras} * 146097);
  const uint32_t era = n / 146097;
  const uint32_t doe = n - era * 146097;
  const uint32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const uint32_t mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = int64_t{yoe} + (int64_t{era} - kShiftEras) * 400 + (*month <= 2);
}

// "00" to "99", for printing two digits at a time.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Days from 1970-01-01 to 1899-12-30.
constexpr int64_t kOleEpochFromUnix = -25569;
constexpr int64_t kMillisPerDay = 86400000;

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  size_t run = 0;  // start of the characters that need no escape
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text, run, i - run);
    run = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
  }
  out.append(text, run, text.size() - run);
  out += '"';
}

std::string JsonString(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  AppendJsonString(out, text);
  return out;
}

bool AppendOleDate(std::string& out, double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3.0e6) return false;
  auto day_number = static_cast<int64_t>(days);  // toward zero
  const double fraction = std::fabs(days - static_cast<double>(day_number)) * kMillisPerDay;
  // Rounded half away from zero; the fraction's own part is exact.
  auto millis = static_cast<int64_t>(fraction);
  if (fraction - static_cast<double>(millis) >= 0.5) ++millis;
  if (millis >= kMillisPerDay) {
    millis -= kMillisPerDay;
    day_number += 1;
  }
  int64_t year;
  unsigned month, day;
  CivilFromDays(day_number + kOleEpochFromUnix, &year, &month, &day);
  const auto time = static_cast<uint32_t>(millis);  // below a day's 86,400,000
  const uint32_t ms = time % 1000;
  const uint32_t seconds = time / 1000;
  if (year >= 0 && year <= 9999) {
    char buffer[24];
    char* p = buffer;
    auto two = [&p](unsigned v) {
      std::memcpy(p, kDigitPairs + 2 * v, 2);
      p += 2;
    };
    two(static_cast<unsigned>(year) / 100);
    two(static_cast<unsigned>(year) % 100);
    *p++ = '-';
    two(month);
    *p++ = '-';
    two(day);
    *p++ = 'T';
    two(seconds / 3600);
    *p++ = ':';
    two(seconds / 60 % 60);
    *p++ = ':';
    two(seconds % 60);
    if (ms != 0) {
      *p++ = '.';
      *p++ = char('0' + ms / 100);
      two(ms % 100);
    }
    out.append(buffer, static_cast<size_t>(p - buffer));
    return true;
  }
  // Years before 0 and past 9999: printf's padding rules, sign included.
  char buffer[48];
  int n = std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02u:%02u:%02u",
                        static_cast<long long>(year), month, day, seconds / 3600,
                        seconds / 60 % 60, seconds % 60);
  out.append(buffer, static_cast<size_t>(n));
  if (ms != 0) {
    n = std::snprintf(buffer, sizeof buffer, ".%03u", ms);
    out.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

std::string FormatOleDate(double days) {
  std::string out;
  return AppendOleDate(out, days) ? out : "null";
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

void AppendCurrency(std::string& out, const engine::Currency& value) {
  const bool negative = value.scaled < 0;
  // Through unsigned so that the most negative value does not overflow.
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value.scaled)
                                : static_cast<uint64_t>(value.scaled);
  char buffer[40];
  char* p = buffer;
  if (negative) *p++ = '-';
  p = std::to_chars(p, buffer + sizeof buffer, magnitude / 10000).ptr;
  const auto places = static_cast<unsigned>(magnitude % 10000);
  *p++ = '.';
  *p++ = char('0' + places / 1000);
  *p++ = char('0' + places / 100 % 10);
  *p++ = char('0' + places / 10 % 10);
  *p++ = char('0' + places % 10);
  out.append(buffer, static_cast<size_t>(p - buffer));
}

std::string FormatCurrency(const engine::Currency& value) {
  std::string out;
  AppendCurrency(out, value);
  return out;
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

void AppendJson(std::string& out, const engine::Value& value) {
  struct Visitor {
    std::string& out;
    void Integer(int64_t v) const {
      char buffer[24];
      const char* end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
      out.append(buffer, static_cast<size_t>(end - buffer));
    }
    void operator()(const engine::Null&) const { out += "null"; }
    void operator()(bool v) const { out += v ? "true" : "false"; }
    void operator()(uint8_t v) const { Integer(v); }
    void operator()(int16_t v) const { Integer(v); }
    void operator()(int32_t v) const { Integer(v); }
    void operator()(int64_t v) const { Integer(v); }
    void operator()(const engine::Currency& v) const {
      out += '"';
      AppendCurrency(out, v);
      out += '"';
    }
    void operator()(float v) const { AppendShortestNumber(out, v); }
    void operator()(double v) const { AppendShortestNumber(out, v); }
    void operator()(const engine::DateTime& v) const {
      const size_t at = out.size();
      out += '"';
      if (AppendOleDate(out, v.days)) {
        out += '"';
      } else {
        out.resize(at);
        out += "null";
      }
    }
    void operator()(const std::string& v) const { AppendJsonString(out, v); }
    void operator()(const engine::Bytes& v) const {
      static const char kHex[] = "0123456789abcdef";
      out += "\"0x";
      for (uint8_t byte : v) {
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
      }
      out += '"';
    }
    void operator()(const engine::Guid& v) const { out += "\"" + FormatGuid(v) + "\""; }
    void operator()(const engine::Decimal& v) const { out += "\"" + FormatDecimal(v) + "\""; }
    void operator()(const engine::ComplexKey& v) const { Integer(v.id); }
    void operator()(const engine::ExtDateTime& v) const {
      AppendJsonString(out, FormatExtDateTime(v));
    }
  };
  std::visit(Visitor{out}, value);
}

std::string ToJson(const engine::Value& value) {
  std::string out;
  AppendJson(out, value);
  return out;
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
