#include "db/tool/value_json.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "db/engine/ado/field_conversion.h"
#include "db/engine/ado/value_text.h"
#include "db/engine/error.h"

namespace corvalin::tool {

using ado::AppendCurrency;
using ado::AppendOleDate;
using ado::ConvertForColumn;
using ado::FormatCurrency;
using ado::FormatDecimal;
using ado::FormatExtDateTime;
using ado::FormatGuid;
using ado::FormatOleDate;
using ado::ParseOleDate;

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

}  // namespace


void AppendJsonString(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  const char* const data = text.data();
  const size_t size = text.size();
  size_t run = 0;  // start of the characters that need no escape
  for (size_t i = 0; i < size; ++i) {
#if defined(__SSE2__)
    // Sixteen characters at a time while none of them needs an escape.
    while (i + 16 <= size) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
      const __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
      const __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
      const int escape = _mm_movemask_epi8(_mm_or_si128(control, _mm_or_si128(quote, backslash)));
      if (escape != 0) {
        i += size_t(__builtin_ctz(unsigned(escape)));
        break;
      }
      i += 16;
    }
    if (i >= size) break;
#endif
    const auto c = static_cast<unsigned char>(data[i]);
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
  out.append(text, run, size - run);
  out += '"';
}

std::string JsonString(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  AppendJsonString(out, text);
  return out;
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

}  // namespace corvalin::tool
