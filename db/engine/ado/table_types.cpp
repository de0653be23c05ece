#include "db/engine/ado/table_types.h"

namespace corvalin::ado {

// Local tables: Jet marks the tables it keeps itself (MSysObjects,
// MSysQueries, ...) with the 0x80000000 flag; the tables Access adds for its
// own use (MSysAccessObjects, MSysNavPane*, ...) carry only 0x00000002, and
// the provider calls those "ACCESS TABLE". Stored queries: the catalog alone
// does not say whether a query takes parameters or acts, so every query that
// is not a system object is reported as a view.
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
      if (entry.flags & kFlagSystem) return std::nullopt;
      return "VIEW";
    default:
      return std::nullopt;
  }
}

}  // namespace corvalin::ado
