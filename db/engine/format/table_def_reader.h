// Reading the on-disk table definition, data pages, rows and values.
// The layouts are described in the .cpp files that decode them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/table_def.h"
#include "db/engine/value.h"

namespace corvalin::engine {

// Parses the TDEF page chain starting at first_page (continuation pages are
// followed through the next-page pointer, bounded and loop-checked).
// Throws Error kErrDamagedFile naming the file, table and page.
TableDef ReadTableDefinition(PageFile& file, const JetFormat& format,
                             uint32_t first_page, const std::string& name);

// Decodes one row (the bytes of one slot of a data page, overflow already
// resolved) into one Value per column of table.columns, in that order.
// PageFile is needed to read long values (Memo, OLE).
std::vector<Value> DecodeRow(PageFile& file, const JetFormat& format,
                             const TableDef& table,
                             std::span<const uint8_t> row);
// The same into values, whose storage (texts included) is reused.
void DecodeRow(PageFile& file, const JetFormat& format, const TableDef& table,
               std::span<const uint8_t> row, std::vector<Value>& values);

}  // namespace corvalin::engine
