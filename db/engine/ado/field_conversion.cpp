#include "db/engine/ado/field_conversion.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

#include "db/engine/ado/value_text.h"
#include "db/engine/error.h"
#include "db/engine/format/coding.h"

namespace corvalin::ado {
namespace {

using engine::DataType;
using engine::Value;

struct Context {
  const engine::ColumnDef& column;
  const std::string& table;
  [[noreturn]] void Mismatch(const std::string& what) const {
    throw engine::Error(engine::kErrTypeMismatch,
                        "cannot put " + what + " into column " + column.name + " of table " +
                            table + " (" + engine::DataTypeName(column.type) + ")");
  }
  [[noreturn]] void Overflow() const {
    throw engine::Error(engine::kErrTooLong, "the number is out of the range of column " +
                                                 column.name + " of table " + table + " (" +
                                                 engine::DataTypeName(column.type) + ")");
  }
};

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

long double DecimalToNumber(const engine::Decimal& d) {
  long double x = 0;
  for (int w = 3; w >= 0; --w) x = x * 4294967296.0L + d.magnitude[w];
  for (int i = 0; i < d.scale; ++i) x /= 10;
  return d.negative ? -x : x;
}

std::optional<double> ParseDate(const std::string& text) { return ParseOleDate(text); }

// The number a value stands for, or nullopt for what holds no number.
std::optional<long double> Number(const Value& v, const Context& where) {
  if (auto* b = std::get_if<bool>(&v)) return *b ? -1.0L : 0.0L;  // VB's True is -1
  if (auto* x = std::get_if<uint8_t>(&v)) return *x;
  if (auto* x = std::get_if<int16_t>(&v)) return *x;
  if (auto* x = std::get_if<int32_t>(&v)) return *x;
  if (auto* x = std::get_if<int64_t>(&v)) return static_cast<long double>(*x);
  if (auto* x = std::get_if<float>(&v)) return *x;
  if (auto* x = std::get_if<double>(&v)) return *x;
  if (auto* x = std::get_if<engine::Currency>(&v)) return x->scaled / 10000.0L;
  if (auto* x = std::get_if<engine::DateTime>(&v)) return x->days;
  if (auto* x = std::get_if<engine::Decimal>(&v)) return DecimalToNumber(*x);
  if (auto* x = std::get_if<std::string>(&v)) {
    std::string t = Trim(*x);
    if (t == "True" || t == "true" || t == "Yes") return -1.0L;
    if (t == "False" || t == "false" || t == "No") return 0.0L;
    if (t.empty()) where.Mismatch("an empty text");
    char* end = nullptr;
    long double n = std::strtold(t.c_str(), &end);
    if (end && *end == 0 && std::isfinite(n)) return n;
    if (auto d = ParseDate(t)) return *d;
    where.Mismatch("the text \"" + *x + "\"");
  }
  return std::nullopt;
}

// Round half to even, as VB's integer conversions do.
long double RoundEven(long double x) {
  long double r = std::nearbyint(x);
  return r;
}

template <typename T>
T Integer(const Value& v, const Context& where, long double lo, long double hi) {
  auto n = Number(v, where);
  if (!n) where.Mismatch("this value");
  long double r = RoundEven(*n);
  if (r < lo || r > hi) where.Overflow();
  return static_cast<T>(r);
}

std::string NumberText(long double x) {
  double d = static_cast<double>(x);
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, res.ptr);
}

std::string AsText(const Value& v, const Context& where) {
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  if (auto* b = std::get_if<bool>(&v)) return *b ? "True" : "False";
  if (auto* d = std::get_if<engine::DateTime>(&v)) {
    std::string t = FormatOleDate(d->days);
    t[10] = ' ';
    if (t.size() >= 19 && t.compare(11, 8, "00:00:00") == 0 && t.size() == 19) t.resize(10);
    return t;
  }
  if (auto* e = std::get_if<engine::ExtDateTime>(&v)) return FormatExtDateTime(*e);
  if (auto* c = std::get_if<engine::Currency>(&v)) {
    std::string t = FormatCurrency(*c);  // "-12.3400": drop the idle zeros
    while (!t.empty() && t.back() == '0') t.pop_back();
    if (!t.empty() && t.back() == '.') t.pop_back();
    return t;
  }
  if (auto* d = std::get_if<engine::Decimal>(&v)) return FormatDecimal(*d);
  if (auto* g = std::get_if<engine::Guid>(&v)) return FormatGuid(*g);
  if (std::holds_alternative<engine::Bytes>(v)) where.Mismatch("binary data");
  if (std::holds_alternative<engine::ComplexKey>(v)) where.Mismatch("an attachment key");
  if (auto* f = std::get_if<float>(&v)) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, *f);
    return std::string(buf, res.ptr);
  }
  if (auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  auto n = Number(v, where);
  if (!n) where.Mismatch("this value");
  return NumberText(*n);
}

engine::Decimal ToDecimal(const Value& v, const Context& where) {
  engine::Decimal d;
  d.precision = where.column.precision ? where.column.precision : 18;
  d.scale = where.column.scale;
  if (auto* x = std::get_if<engine::Decimal>(&v); x && x->scale == d.scale) {
    d.negative = x->negative;
    d.magnitude = x->magnitude;
  } else {
    auto n = Number(v, where);
    if (!n) where.Mismatch("this value");
    long double scaled = *n;
    for (int i = 0; i < d.scale; ++i) scaled *= 10;
    scaled = RoundEven(scaled);
    d.negative = scaled < 0;
    long double mag = std::fabs(scaled);
    if (mag >= 7.9228162514264337593543950336e28L) where.Overflow();
    for (int w = 0; w < 4; ++w) {
      long double q = std::floor(mag / 4294967296.0L);
      d.magnitude[w] = static_cast<uint32_t>(mag - q * 4294967296.0L);
      mag = q;
    }
  }
  // The column's precision bounds the digits.
  long double limit = 1;
  for (int i = 0; i < d.precision; ++i) limit *= 10;
  engine::Decimal check = d;
  check.negative = false;
  check.scale = 0;
  if (DecimalToNumber(check) >= limit) where.Overflow();
  if (d.magnitude == std::array<uint32_t, 4>{}) d.negative = false;
  return d;
}

}  // namespace

Value ConvertForColumn(const Value& value, const engine::ColumnDef& column,
                       const std::string& table) {
  if (engine::IsNull(value)) return value;
  Context where{column, table};
  switch (column.type) {
    case DataType::kBoolean: {
      auto n = Number(value, where);
      if (!n) where.Mismatch("this value");
      return *n != 0;
    }
    case DataType::kByte: return Integer<uint8_t>(value, where, 0, 255);
    case DataType::kInteger: return Integer<int16_t>(value, where, -32768, 32767);
    case DataType::kLong:
      return Integer<int32_t>(value, where, -2147483648.0L, 2147483647.0L);
    case DataType::kBigInt:
      if (auto* i = std::get_if<int64_t>(&value)) return *i;
      return Integer<int64_t>(value, where, -9223372036854775808.0L, 9223372036854775807.0L);
    case DataType::kCurrency: {
      if (auto* c = std::get_if<engine::Currency>(&value)) return *c;
      auto n = Number(value, where);
      if (!n) where.Mismatch("this value");
      long double scaled = RoundEven(*n * 10000);
      if (std::fabs(scaled) > 9.2233720368547758e18L) where.Overflow();
      return engine::Currency{static_cast<int64_t>(scaled)};
    }
    case DataType::kSingle: {
      auto n = Number(value, where);
      if (!n) where.Mismatch("this value");
      if (std::fabs(*n) > 3.402823466e38L) where.Overflow();
      return static_cast<float>(*n);
    }
    case DataType::kDouble: {
      if (auto* d = std::get_if<double>(&value)) return *d;
      auto n = Number(value, where);
      if (!n) where.Mismatch("this value");
      return static_cast<double>(*n);
    }
    case DataType::kDateTime: {
      if (auto* d = std::get_if<engine::DateTime>(&value)) return *d;
      if (auto* s = std::get_if<std::string>(&value)) {
        if (auto d = ParseDate(Trim(*s))) return engine::DateTime{*d};
      }
      if (std::holds_alternative<bool>(value)) where.Mismatch("a Yes/No value");
      auto n = Number(value, where);
      if (!n) where.Mismatch("this value");
      return engine::DateTime{static_cast<double>(*n)};
    }
    case DataType::kText:
    case DataType::kMemo:
      return AsText(value, where);
    case DataType::kBinary:
    case DataType::kOle:
      if (auto* b = std::get_if<engine::Bytes>(&value)) return *b;
      where.Mismatch("a value that is not binary data");
    case DataType::kReplicationId: {
      if (auto* g = std::get_if<engine::Guid>(&value)) return *g;
      if (auto* s = std::get_if<std::string>(&value)) {
        // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": the first three groups are
        // stored little-endian.
        std::string t = Trim(*s);
        unsigned a, b, c, d[8];
        if (std::sscanf(t.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &a, &b, &c, &d[0],
                        &d[1], &d[2], &d[3], &d[4], &d[5], &d[6], &d[7]) == 11) {
          engine::Guid g;
          engine::Write32(g.bytes, 0, a);
          engine::Write16(g.bytes, 4, uint16_t(b));
          engine::Write16(g.bytes, 6, uint16_t(c));
          for (int i = 0; i < 8; ++i) g.bytes[8 + i] = uint8_t(d[i]);
          return g;
        }
      }
      where.Mismatch("a value that is not a Replication ID");
    }
    case DataType::kDecimal: return ToDecimal(value, where);
    case DataType::kExtDateTime:
      if (auto* e = std::get_if<engine::ExtDateTime>(&value)) return *e;
      where.Mismatch("a value that is not an extended date/time");
    case DataType::kComplex:
      if (auto* k = std::get_if<engine::ComplexKey>(&value)) return *k;
      where.Mismatch("this value");
    default:
      where.Mismatch("any value");
  }
}

namespace {

// out = the value of type T in v, when v holds one; a text or bytes out
// already holds takes the copy into its own storage.
template <typename T>
bool CopySame(const Value& v, Value& out) {
  const T* x = std::get_if<T>(&v);
  if (!x) return false;
  if (T* same = std::get_if<T>(&out)) {
    *same = *x;
  } else {
    out.emplace<T>(*x);
  }
  return true;
}

// A value in the column's own type needs no conversion (the general path
// would give the same value back), but for a Single that is infinite,
// which the general path refuses.
bool CopyOwnType(const Value& value, DataType type, Value& out) {
  switch (type) {
    case DataType::kBoolean: return CopySame<bool>(value, out);
    case DataType::kByte: return CopySame<uint8_t>(value, out);
    case DataType::kInteger: return CopySame<int16_t>(value, out);
    case DataType::kLong: return CopySame<int32_t>(value, out);
    case DataType::kBigInt: return CopySame<int64_t>(value, out);
    case DataType::kCurrency: return CopySame<engine::Currency>(value, out);
    case DataType::kSingle: {
      const float* f = std::get_if<float>(&value);
      return f && !std::isinf(*f) && CopySame<float>(value, out);
    }
    case DataType::kDouble: return CopySame<double>(value, out);
    case DataType::kDateTime: return CopySame<engine::DateTime>(value, out);
    case DataType::kText:
    case DataType::kMemo: return CopySame<std::string>(value, out);
    case DataType::kBinary:
    case DataType::kOle: return CopySame<engine::Bytes>(value, out);
    case DataType::kReplicationId: return CopySame<engine::Guid>(value, out);
    case DataType::kExtDateTime: return CopySame<engine::ExtDateTime>(value, out);
    case DataType::kComplex: return CopySame<engine::ComplexKey>(value, out);
    default: return false;
  }
}

}  // namespace

void ConvertForColumn(const Value& value, const engine::ColumnDef& column,
                      const std::string& table, Value& out) {
  if (engine::IsNull(value)) {
    out = engine::Null{};
    return;
  }
  if (CopyOwnType(value, column.type, out)) return;
  out = ConvertForColumn(value, column, table);
}

}  // namespace corvalin::ado
