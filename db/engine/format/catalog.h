// The catalog, MSysObjects: one row per object of the database (tables,
// queries, links, containers). Its definition is always on page 2, after
// the header page and the global usage map.
#pragma once

#include <cstdint>

namespace corvalin::engine {

// Fixed pages of every file.
inline constexpr uint32_t kHeaderPageNumber = 0;
inline constexpr uint32_t kGlobalMapPage = 1;
inline constexpr uint32_t kCatalogPage = 2;

// The Type column. Its top bit is set on some rows; the object's kind is in
// the low 15 bits.
inline constexpr int16_t kObjectKindMask = 0x7FFF;
inline constexpr int16_t kObjectTable = 1;
inline constexpr int16_t kObjectDatabase = 2;
inline constexpr int16_t kObjectContainer = 3;
inline constexpr int16_t kObjectOdbcLink = 4;
inline constexpr int16_t kObjectQuery = 5;
inline constexpr int16_t kObjectLink = 6;

// The Flags column: Jet's own system objects, and objects Access hides
// (tables it adds for its own use carry only the latter).
inline constexpr uint32_t kFlagSystem = 0x80000000u;
inline constexpr uint32_t kFlagHidden = 0x00000002u;

// The Id column. A table's id holds its definition page in the low 24 bits;
// the containers and the database object have fixed ids.
inline constexpr uint32_t kObjectPageMask = 0x00FFFFFF;
inline constexpr int32_t kRootContainerId = 0x0F000000;
inline constexpr int32_t kTablesContainerId = 0x0F000001;
inline constexpr int32_t kDatabasesContainerId = 0x0F000002;
inline constexpr int32_t kRelationshipsContainerId = 0x0F000003;
inline constexpr int32_t kDatabaseObjectId = 0x10000000;

}  // namespace corvalin::engine
