// A column value as the engine hands it out and takes it in: the variant that
// ADO's Field.Value carries. Each alternative matches one Access column type.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace corvalin::engine {

struct Null {
  bool operator==(const Null&) const = default;
};

// Currency: a 64-bit integer scaled by 10,000 (four decimal places).
struct Currency {
  int64_t scaled = 0;
  bool operator==(const Currency&) const = default;
};

// Date/Time: days since 1899-12-30 as a double, the fraction being the time
// of day (the OLE Automation date that Access stores).
struct DateTime {
  double days = 0;
  bool operator==(const DateTime&) const = default;
};

// Extended Date/Time (ACE 2019): date and time with 100 ns precision over
// years 1 to 9999, kept as the text form the file stores.
struct ExtDateTime {
  std::string text;
  bool operator==(const ExtDateTime&) const = default;
};

// Replication ID: the 16 bytes of a GUID in the order the file stores them.
struct Guid {
  std::array<uint8_t, 16> bytes{};
  bool operator==(const Guid&) const = default;
};

// Decimal: a 96-bit magnitude (stored as 128 bits), a sign and a scale.
struct Decimal {
  bool negative = false;
  uint8_t precision = 18;
  uint8_t scale = 0;
  // Little-endian 32-bit words of the unsigned magnitude.
  std::array<uint32_t, 4> magnitude{};
  bool operator==(const Decimal&) const = default;
};

// Complex column (attachments, multi-valued): the key the row holds.
struct ComplexKey {
  int32_t id = 0;
  bool operator==(const ComplexKey&) const = default;
};

using Bytes = std::vector<uint8_t>;

// Text and Memo values are UTF-8; Binary and OLE values are Bytes.
using Value = std::variant<Null, bool, uint8_t, int16_t, int32_t, int64_t,
                           Currency, float, double, DateTime, std::string,
                           Bytes, Guid, Decimal, ComplexKey, ExtDateTime>;

inline bool IsNull(const Value& v) { return std::holds_alternative<Null>(v); }

}  // namespace corvalin::engine
