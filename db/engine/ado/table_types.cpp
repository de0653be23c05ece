#include "db/engine/ado/table_types.h"

namespace corvalin::ado {

// Local tables: Jet marks the tables it keeps itself (MSysObjects,
// MSysQueries, ...) with the 0x80000000 flag; the tables Access adds for its
// own use (MSysAccessObjects, MSysNavPane*, ...) carry only 0x00000002, and
// the provider calls those "ACCESS TABLE". Stored queries keep their kind in
// bits 4 to 7 of the flags (0 select, 1 crosstab, 2 delete, 3 update, 4
// append, 5 make-table, 6 data definition, 7 pass-through, 8 union). The
// provider lists the kinds that return rows as views and leaves the action
// queries to the procedures rowset. Whether a select query takes parameters
// is written only in MSysQueries: Connection::OpenSchema drops those.
std::optional<std::string> TableTypeOf(const engine::CatalogEntry& entry) {
  switch (entry.type) {
    case kObjectTable:
      if (entry.flags & kFlagSystem) return "SYSTEM TABLE";
      if (entry.flags & kFlagHidden) return "ACCESS TABLE";
      return "TABLE";
    case kObjectLink:
      return "LINK";
    case kObjectOdbcLink:
      return "PASS-THROUGH";
    case kObjectQuery:
      switch ((entry.flags >> 4) & 0xF) {
        case kQuerySelect:
        case kQueryCrosstab:
        case kQueryUnion:
          return "VIEW";
        default:
          return std::nullopt;
      }
    default:
      return std::nullopt;
  }
}

}  // namespace corvalin::ado
