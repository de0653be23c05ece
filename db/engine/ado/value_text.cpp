#include "db/engine/ado/value_text.h"

#include <array>
#include <cstdint>
#include <cmath>
#include <cstdio>

namespace corvalin::ado {
namespace {

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
  if (scale > 0) digits.insert(digits.size() - scale, 1, '.');
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

}  // namespace corvalin::ado
