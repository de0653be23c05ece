// The tables rowset's TABLE_TYPE for a catalog entry, as the Jet provider
// reports it.
#pragma once

#include <optional>
#include <string>

#include "db/engine/format/catalog.h"
#include "db/engine/format/database.h"

namespace corvalin::ado {

using engine::kFlagHidden;
using engine::kFlagSystem;
using engine::kObjectLink;
using engine::kObjectOdbcLink;
using engine::kObjectQuery;
using engine::kObjectTable;

// Query kinds (catalog flags bits 4 to 7) that return rows.
inline constexpr uint32_t kQuerySelect = 0;
inline constexpr uint32_t kQueryCrosstab = 1;
inline constexpr uint32_t kQueryUnion = 8;

// "TABLE", "SYSTEM TABLE", "ACCESS TABLE", "LINK", "PASS-THROUGH" or "VIEW";
// nothing for objects the rowset leaves out (forms, reports, ...).
std::optional<std::string> TableTypeOf(const engine::CatalogEntry& entry);

}  // namespace corvalin::ado
