// One column value from its stored bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/long_value.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/table_def.h"
#include "db/engine/value.h"

namespace corvalin::engine {

// Decodes the bytes of a present (non-null) value of column. Boolean is not
// decoded here: its value is its null-mask bit. Calculated columns are
// unwrapped first. Throws Error naming the column when the bytes are too
// short for the type.
Value DecodeValue(PageFile& file, const JetFormat& format,
                  const ColumnDef& column, std::span<const uint8_t> data,
                  const ValueContext& where);

// The same into out, for a reader going row after row: a text reuses the
// storage out already holds. where is built only when it is needed (an
// error, a long value).
void DecodeValueInto(PageFile& file, const JetFormat& format,
                     const ColumnDef& column, std::span<const uint8_t> data,
                     const std::string& table, Value& out);

// Decimal (Jet4 numeric) from its 17 stored bytes.
Decimal DecodeDecimal(std::span<const uint8_t> data, uint8_t precision,
                      uint8_t scale);

}  // namespace corvalin::engine
