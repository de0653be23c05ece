// The properties Access keeps for a table and its columns (the LvProp value
// of the table's catalog row): format, caption, default value, and for a
// calculated column its expression and the type of its result.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "db/engine/format/table_def.h"
#include "db/engine/value.h"

namespace corvalin::engine {

struct Property {
  std::string name;
  DataType type = DataType::kBinary;  // how value is to be read
  Bytes value;                        // the stored bytes, as the file has them
};

// The properties of one object: the table itself (empty name) or one of its
// columns (the column's name).
struct PropertyBlock {
  std::string name;
  std::vector<Property> properties;

  // The property by name (case-insensitive), or nullptr.
  const Property* Find(const std::string& property) const;
};

// Parses a property value. jet3 selects the name encoding (code page text in
// Jet3, UCS-2 later). Throws Error kErrDamagedFile naming the file and table
// when a length points outside the value or the signature is unknown.
std::vector<PropertyBlock> ParseProperties(std::span<const uint8_t> blob,
                                           bool jet3, const std::string& file,
                                           const std::string& table);

// The property value of a table (Jet4 and later): the table's own
// properties (`table`, named after the table) and its columns' (each block
// named after its column), the inverse of ParseProperties. Blocks without
// properties are left out, as Access does.
Bytes EncodeProperties(const PropertyBlock& table,
                       const std::vector<PropertyBlock>& columns);

// The result type Access recorded for a calculated column ("ResultType"),
// or nullopt when the properties do not say.
std::optional<DataType> CalculatedResultType(
    const std::vector<PropertyBlock>& blocks, const std::string& column);

// Gives each calculated column of table the type of its result, which is how
// its values are stored; the type byte of its definition may differ (a Double
// column holding a Currency result, a Text column holding a Memo result).
void ApplyCalculatedResultTypes(const std::vector<PropertyBlock>& blocks,
                                TableDef& table);

}  // namespace corvalin::engine
