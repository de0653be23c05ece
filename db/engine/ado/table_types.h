// The tables rowset's TABLE_TYPE for a catalog entry, as the Jet provider
// reports it.
#pragma once

#include <optional>
#include <string>

#include "db/engine/format/database.h"

namespace corvalin::ado {

// Catalog object types.
inline constexpr int16_t kObjectTable = 1;
inline constexpr int16_t kObjectOdbcLink = 4;
inline constexpr int16_t kObjectQuery = 5;
inline constexpr int16_t kObjectLink = 6;

// Catalog flags: Jet's own system objects, and objects Access hides.
inline constexpr uint32_t kFlagSystem = 0x80000000u;
inline constexpr uint32_t kFlagHidden = 0x00000002u;

// Query kinds (catalog flags bits 4 to 7) that return rows.
inline constexpr uint32_t kQuerySelect = 0;
inline constexpr uint32_t kQueryCrosstab = 1;
inline constexpr uint32_t kQueryUnion = 8;

// "TABLE", "SYSTEM TABLE", "ACCESS TABLE", "LINK", "PASS-THROUGH" or "VIEW";
// nothing for objects the rowset leaves out (forms, reports, ...).
std::optional<std::string> TableTypeOf(const engine::CatalogEntry& entry);

}  // namespace corvalin::ado
