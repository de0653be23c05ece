// Column values turned into the bytes a row stores (the inverse of
// value_codec). Values arrive already in the column's own type (the ADO
// layer converts them); long values are written by long_value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/long_value.h"
#include "db/engine/format/table_def.h"
#include "db/engine/value.h"

namespace corvalin::engine {

// The `column.length` bytes of a fixed-length value. Throws Error naming the
// column when the value is not of the column's type.
std::vector<uint8_t> EncodeFixedValue(const ColumnDef& column, const Value& value,
                                      const ValueContext& where);
// The same into out (its room reused).
void EncodeFixedValue(const ColumnDef& column, const Value& value, const ValueContext& where,
                      std::vector<uint8_t>& out);

// Text as the column stores it: Jet4+ UCS-2, compressed (FF FE and one
// byte a character) when the column asks for it and every character fits
// a byte; Jet3 one byte a character in the column's code page (Windows-1252;
// in another code page only ASCII). Throws Error naming the column when the
// text has more characters than `max_chars` (0: no limit) or a character
// the code page lacks.
std::vector<uint8_t> EncodeText(const JetFormat& format, const ColumnDef& column,
                                const std::string& utf8, size_t max_chars,
                                const ValueContext& where);
void EncodeText(const JetFormat& format, const ColumnDef& column, const std::string& utf8,
                size_t max_chars, const ValueContext& where, std::vector<uint8_t>& out);

// UTF-8 to UTF-16 code units; invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& utf8);

}  // namespace corvalin::engine
