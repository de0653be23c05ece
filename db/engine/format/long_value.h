// Long values (Memo, OLE Object, long Binary): the 12-byte header in the
// row and the LVAL rows it points to.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"
#include "db/engine/value.h"

namespace corvalin::engine {

constexpr size_t kLongValueHeaderSize = 12;

// Where a long value is read from, for error descriptions.
struct ValueContext {
  std::string file;
  std::string table;
  std::string column;
};

// The whole value the header points to. Throws Error naming the table,
// column and page when any part cannot be read: never returns a shortened
// or empty value for damaged data.
Bytes ReadLongValue(PageFile& file, const JetFormat& format,
                    std::span<const uint8_t> header, const ValueContext& where);

}  // namespace corvalin::engine
