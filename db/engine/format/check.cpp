// The structure check. Pages are claimed by owners as the check walks the
// file; a page claimed by two owners, or in use and marked free in the
// global usage map, is a problem. Tables are checked one by one, and an
// engine error inside one table ends that table's check only.
//
// Global usage map (page 1, row 0), in the usage map forms of usage_map.cpp:
// a set bit marks a free page; pages the map does not cover are not judged.
#include "db/engine/format/check.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "db/engine/error.h"
#include "db/engine/format/catalog.h"
#include "db/engine/format/coding.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/index_key.h"
#include "db/engine/format/index_page.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/long_value.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/row.h"
#include "db/engine/format/table_def_layout.h"
#include "db/engine/format/table_def_reader.h"
#include "db/engine/format/usage_map.h"

namespace corvalin::engine {
namespace {

constexpr size_t kIndexOwner = 4;

std::string Page(uint32_t n) { return "page " + std::to_string(n); }

class Checker {
 public:
  explicit Checker(const Database& db)
      : db_(db), file_(db.file()), format_(db.format()),
        claims_(file_.page_count(), -1) {}

  std::vector<std::string> Run() {
    Claim(kHeaderPageNumber, Owner("the header"));
    Claim(kGlobalMapPage, Owner("the global usage map"));
    bool catalog_seen = false;
    for (const CatalogEntry& c : db_.Catalog()) {
      if ((c.type & kObjectKindMask) != kObjectTable) continue;
      uint32_t page = uint32_t(c.id) & kObjectPageMask;
      catalog_seen |= page == kCatalogPage;
      bool system = (c.flags & (kFlagSystem | kFlagHidden)) != 0;
      CheckTable(c.name, page, system);
    }
    if (!catalog_seen) CheckTable("MSysObjects", kCatalogPage, true);
    CheckGlobalMap();
    return std::move(problems_);
  }

 private:
  // What a problem adds to name the write rule (table_writer.h) it breaks.
  static std::string Breaks(int rule) { return " (write rule " + std::to_string(rule) + ")"; }

  // An index that holds an entry for every row: one that does not ignore
  // rows whose indexed columns are all Null.
  static bool HoldsEveryRow(const IndexDef& index) { return (index.flags & tdef::kIndexIgnoreNulls) == 0; }

  int Owner(const std::string& name) {
    owners_.push_back(name);
    return int(owners_.size() - 1);
  }

  // Records that `owner` uses the page; false when the page is past the end
  // of the file or already someone else's.
  bool Claim(uint32_t page, int owner) {
    if (page >= claims_.size()) {
      problems_.push_back(owners_[owner] + " names " + Page(page) +
                          ", past the end of the file" + Breaks(2));
      return false;
    }
    int& slot = claims_[page];
    if (slot == -1) {
      slot = owner;
      return true;
    }
    if (slot != owner)
      problems_.push_back(Page(page) + " is claimed by " + owners_[slot] + " and by " +
                          owners_[owner] + Breaks(3));
    return false;
  }

  void CheckTable(const std::string& name, uint32_t page, bool system) {
    try {
      // The database's reading adds what the column properties tell (the
      // result type of calculated columns).
      TableDef table = page == kCatalogPage && name == "MSysObjects"
                           ? ReadTableDefinition(file_, format_, page, name)
                           : *db_.ReadTableDef(name);
      if (table.page != page)
        problems_.push_back("the catalog holds table " + name + " more than once");
      ClaimDefinition(table);
      // Access leaves stray data pages of its own system tables (seen in
      // MSysAccessStorage); only user tables are judged for them.
      if (!system) tables_[table.page] = name;
      std::vector<RowId> rows = CheckData(table);
      // Fewer live rows than recorded are rows lost. Access leaves a
      // recorded count below the live rows (seen in system tables, and in
      // a user table of an Access 2010 file whose indexes hold every
      // row): that is accepted where an index vouches for each live row,
      // one that holds every row whatever its Nulls (CheckIndex reports a
      // row it lacks). Elsewhere a row beyond the count is one no save
      // recorded, such as a torn save leaves on a data page.
      const bool vouched =
          system || std::any_of(table.indexes.begin(), table.indexes.end(),
                                [](const IndexDef& index) { return HoldsEveryRow(index); });
      if (rows.size() < table.row_count || (rows.size() > table.row_count && !vouched))
        problems_.push_back("table " + name + " records " +
                            std::to_string(table.row_count) + " rows, but " +
                            std::to_string(rows.size()) + " rows are live" + Breaks(4));
      // A row that cannot be read is a problem of its own; the indexes are
      // still checked for the other rows.
      std::map<std::pair<uint32_t, uint16_t>, std::vector<Value>> values;
      unreadable_.clear();
      for (RowId r : rows) {
        try {
          values[{r.page, r.row}] = db_.ReadRow(table, r);
        } catch (const Error& e) {
          unreadable_.insert({r.page, r.row});
          problems_.push_back("table " + name + ", row " + std::to_string(r.row) + " of " +
                              Page(r.page) + ": " + e.description());
        }
      }
      ClaimLongValues(table, rows);
      std::set<int32_t> seen;
      for (const IndexDef& index : table.indexes)
        if (seen.insert(index.real_index_number).second) CheckIndex(table, index, values);
    } catch (const Error& e) {
      problems_.push_back("table " + name + ": " + e.description());
    }
  }

  void ClaimDefinition(const TableDef& table) {
    int owner = Owner("the definition of table " + table.name);
    for (uint32_t p = table.page; p != 0;) {
      if (!Claim(p, owner)) return;
      PagePtr data = file_.Read(p);
      if ((*data)[0] != tdef::kPageType) {
        problems_.push_back("the definition of table " + table.name + " continues to " +
                            Page(p) + ", which is not a definition page");
        return;
      }
      p = Read32(*data, tdef::kNextPageOffset);
    }
  }

  // The map's own pages (reference maps) are claimed for the table.
  void ClaimMapPages(const TableDef& table, uint32_t map_row, const char* which) {
    RowPointer ptr = DecodeRowPointer(map_row);
    ResolvedRow row = ReadRowAt(file_, format_, ptr.page, ptr.row);
    std::string what = std::string("the ") + which + " map of table " + table.name;
    if (row.deleted || row.bytes.empty()) {
      problems_.push_back(what + " (" + Page(ptr.page) + ") is deleted");
      return;
    }
    if (row.bytes[0] == kInlineMap) return;
    if (row.bytes[0] != kReferenceMap) {
      problems_.push_back(what + " (" + Page(ptr.page) + ") is of an unknown kind");
      return;
    }
    int owner = Owner(what);
    for (size_t at = 1; at + 4 <= row.bytes.size(); at += 4) {
      uint32_t p = Read32(row.bytes, at);
      if (p == 0 || !Claim(p, owner)) continue;
      if ((*file_.Read(p))[0] != kUsageMapPageType)
        problems_.push_back(what + " names " + Page(p) + ", which is not a map page");
    }
  }

  std::vector<RowId> CheckData(const TableDef& table) {
    ClaimMapPages(table, table.owned_pages_map, "owned-pages");
    ClaimMapPages(table, table.free_pages_map, "free-space");
    int owner = Owner("the data of table " + table.name);
    std::set<uint32_t> owned;
    for (uint32_t p : ReadUsageMap(file_, format_, table.owned_pages_map)) {
      PagePtr page = file_.Read(p);
      if ((*page)[0] != kDataPageType || DataPageOwner(*page, format_) != table.page) {
        problems_.push_back("the owned-pages map of table " + table.name + " lists " +
                            Page(p) + ", which is not a data page of the table" + Breaks(3));
        continue;
      }
      owned.insert(p);
      Claim(p, owner);
      CheckFreeSpace(*page, p, "a data page of table " + table.name);
    }
    for (uint32_t p : ReadUsageMap(file_, format_, table.free_pages_map))
      if (!owned.count(p))
        problems_.push_back("the free-space map of table " + table.name + " lists " +
                            Page(p) + ", which the table does not own" + Breaks(3));
    return db_.ListLiveRows(table);
  }

  // The free space a data page records is the gap between its row offset
  // table and its lowest row; a row is added only where it says there is
  // room, so an overstated figure would let a new row overwrite others.
  void CheckFreeSpace(std::span<const uint8_t> page, uint32_t number, const std::string& what) {
    try {
      const uint16_t count = DataPageRowCount(page, format_, file_.path(), number);
      const size_t table_end = format_.data_rows_offset + size_t(count) * 2;
      size_t lowest = page.size();
      for (uint16_t r = 0; r < count; ++r) {
        size_t start = Read16(page, format_.data_rows_offset + size_t(r) * 2) & kRowOffsetMask;
        if (start >= table_end && start < lowest) lowest = start;
      }
      const size_t recorded = Read16(page, format_.data_free_space_offset);
      if (recorded != lowest - table_end)
        problems_.push_back(Page(number) + " (" + what + ") records " +
                            std::to_string(recorded) + " bytes of free space, but has " +
                            std::to_string(lowest - table_end) + Breaks(6));
    } catch (const Error& e) {
      problems_.push_back(what + ": " + e.description());
    }
  }

  void ClaimLongValues(const TableDef& table, const std::vector<RowId>& rows) {
    int owner = -1;
    std::set<uint32_t> mine;
    for (RowId id : rows) {
      if (unreadable_.count({id.page, id.row})) continue;
      ResolvedRow row = ReadRowAt(file_, format_, id.page, id.row);
      std::vector<RowField> fields = SplitRow(format_, table, row.bytes, file_.path());
      for (size_t i = 0; i < fields.size(); ++i) {
        DataType type = table.columns[i].type;
        if (type != DataType::kMemo && type != DataType::kOle) continue;
        if (!fields[i].stored || fields[i].bytes.size() < kLongValueHeaderSize) continue;
        if (table.columns[i].calculated) continue;
        auto header = fields[i].bytes;
        if (header[3] == kLongValueInline) continue;
        // Reading the value (done with the row) has already checked the
        // chain; here its pages are claimed.
        uint32_t next = Read32(header, 4);
        for (int hops = 0; next != 0 && hops < 1 << 20; ++hops) {
          RowPointer ptr = DecodeRowPointer(next);
          if (owner < 0) owner = Owner("the long values of table " + table.name);
          if (mine.insert(ptr.page).second) {
            if (!Claim(ptr.page, owner)) break;
            if (ptr.page < file_.page_count())
              CheckFreeSpace(*file_.Read(ptr.page), ptr.page,
                             "a long value page of table " + table.name);
          }
          if (header[3] == kLongValueSingleRow || ptr.page >= file_.page_count()) break;
          PagePtr page = file_.Read(ptr.page);
          DataRowSlot slot = DataPageRow(*page, format_, ptr.row, file_.path(), ptr.page);
          if (slot.bytes.size() < 4) break;
          next = Read32(slot.bytes, 0);
        }
      }
    }
  }

  // Every page of the b-tree, claimed; false when the tree is damaged.
  bool ClaimIndexTree(const TableDef& table, const IndexDef& index, int owner,
                      std::set<uint32_t>& visited) {
    std::vector<uint32_t> todo{index.first_page};
    const std::string what = "index " + index.name + " of table " + table.name;
    while (!todo.empty()) {
      uint32_t p = todo.back();
      todo.pop_back();
      if (!visited.insert(p).second) {
        problems_.push_back(what + " reaches " + Page(p) + " twice" + Breaks(5));
        return false;
      }
      if (!Claim(p, owner)) return false;
      PagePtr data = file_.Read(p);
      IndexPage page = DecodeIndexPage(*data, format_, file_.path(), p);
      if (Read32(*data, kIndexOwner) != table.page)
        problems_.push_back(what + ": its " + Page(p) + " names another owner" + Breaks(3));
      if (page.leaf) continue;
      for (const IndexEntry& e : page.entries) todo.push_back(e.child_page);
      if (page.tail_page != 0) todo.push_back(page.tail_page);
    }
    return true;
  }

  // The first or last (key, row) under an index page: down the first
  // children, or down the tails (on a page without one, the last child).
  std::optional<std::pair<std::vector<uint8_t>, RowId>> SubtreeEdge(uint32_t p, bool last) {
    for (int depth = 0; depth < 32 && p != 0 && p < file_.page_count(); ++depth) {
      IndexPage page = DecodeIndexPage(*file_.Read(p), format_, file_.path(), p);
      if (page.leaf) {
        if (page.entries.empty()) return std::nullopt;
        const IndexEntry& e = last ? page.entries.back() : page.entries.front();
        return std::pair{e.key, e.row};
      }
      if (last || page.entries.empty())
        p = page.tail_page != 0 ? page.tail_page
            : page.entries.empty() ? 0 : page.entries.back().child_page;
      else
        p = page.entries.front().child_page;
    }
    return std::nullopt;
  }

  // Searches go down by the intermediate entries: each one carries the
  // last (key, row) of its child's subtree, and every child's entries come
  // after the entry before it (the tail child's after the last entry). A
  // wrong entry hides rows from a search though a walk along the leaves
  // still finds them.
  void CheckSeparators(const std::string& what, const std::set<uint32_t>& tree) {
    size_t wrong = 0;
    uint32_t first_wrong = 0;
    for (uint32_t p : tree) {
      IndexPage page = DecodeIndexPage(*file_.Read(p), format_, file_.path(), p);
      if (page.leaf) continue;
      bool bad = false;
      const size_t children = page.entries.size() + (page.tail_page != 0 ? 1 : 0);
      for (size_t i = 0; i < children && !bad; ++i) {
        const bool tail = i == page.entries.size();
        const uint32_t child = tail ? page.tail_page : page.entries[i].child_page;
        if (!tail) {
          const IndexEntry& e = page.entries[i];
          auto last = SubtreeEdge(child, true);
          bad = !last || last->first != e.key || !(last->second == e.row);
        }
        if (i > 0) {
          const IndexEntry& before = page.entries[i - 1];
          auto first = SubtreeEdge(child, false);
          bad = bad || !first ||
                CompareIndexEntries(first->first, first->second, before.key, before.row) <= 0;
        }
      }
      if (bad && wrong++ == 0) first_wrong = p;
    }
    if (wrong)
      problems_.push_back(what + ": " + std::to_string(wrong) +
                          " intermediate pages do not carry the last keys of their "
                          "children (first: " + Page(first_wrong) + ")" + Breaks(5));
  }

  void CheckIndex(const TableDef& table, const IndexDef& index,
                  const std::map<std::pair<uint32_t, uint16_t>, std::vector<Value>>& rows) {
    const std::string what = "index " + index.name + " of table " + table.name;
    std::set<uint32_t> tree;
    if (!ClaimIndexTree(table, index, Owner(what), tree)) return;
    CheckSeparators(what, tree);
    std::vector<uint32_t> listed = ReadUsageMap(file_, format_, index.used_pages);
    if (std::set<uint32_t>(listed.begin(), listed.end()) != tree)
      problems_.push_back(what + ": its usage map lists " + std::to_string(listed.size()) +
                          " pages, but its b-tree has " + std::to_string(tree.size()) +
                          " other or more pages" + Breaks(3));
    std::vector<IndexEntry> entries = ReadIndexEntries(file_, format_, index);
    std::set<std::pair<uint32_t, uint16_t>> found;
    size_t wrong_keys = 0, out_of_order = 0, duplicates = 0;
    std::string first_wrong;
    for (size_t i = 0; i < entries.size(); ++i) {
      const IndexEntry& e = entries[i];
      std::pair<uint32_t, uint16_t> id{e.row.page, e.row.row};
      std::string where = "row " + std::to_string(e.row.row) + " of " + Page(e.row.page);
      if (i > 0) {
        const IndexEntry& prev = entries[i - 1];
        if (prev.key > e.key) ++out_of_order;
        if (prev.key == e.key && index.unique) {
          // A key with a Null in it may repeat in a unique index.
          auto r = rows.find(id);
          if (r != rows.end() && IndexHoldsRow(table, index, r->second) &&
              !KeyHasNull(table, index, r->second))
            ++duplicates;
        }
      }
      if (!found.insert(id).second) {
        problems_.push_back(what + " holds " + where + " twice" + Breaks(5));
        continue;
      }
      auto r = rows.find(id);
      if (r == rows.end() && unreadable_.count(id)) continue;
      if (r == rows.end()) {
        problems_.push_back(what + " holds " + where + ", which is not a live row" + Breaks(5));
        continue;
      }
      if (!IndexHoldsRow(table, index, r->second)) {
        problems_.push_back(what + " holds " + where +
                            ", whose indexed columns are all Null, though the index "
                            "ignores Nulls" + Breaks(5));
        continue;
      }
      std::vector<uint8_t> key;
      try {
        key = EncodeIndexKey(format_, table, index, r->second);
      } catch (const Error& err) {
        // A key we cannot make (an undocumented column type or sort order)
        // cannot be judged; it is not a fault of the file.
        if (err.number() == kErrNotSupported) continue;
        throw;
      }
      if (key != e.key && wrong_keys++ == 0) first_wrong = where;
    }
    if (out_of_order)
      problems_.push_back(what + ": " + std::to_string(out_of_order) +
                          " entries are out of key order" + Breaks(5));
    if (wrong_keys)
      problems_.push_back(what + ": " + std::to_string(wrong_keys) +
                          " entries do not hold the key of their row (first: " +
                          first_wrong + ")" + Breaks(5));
    if (duplicates)
      problems_.push_back(what + " is unique but holds " + std::to_string(duplicates) +
                          " repeated keys" + Breaks(5));
    size_t missing = 0;
    std::string first_missing;
    for (const auto& [id, values] : rows) {
      if (found.count(id) || !IndexHoldsRow(table, index, values)) continue;
      if (missing++ == 0)
        first_missing = "row " + std::to_string(id.second) + " of " + Page(id.first);
    }
    if (missing)
      problems_.push_back(what + " has no entry for " + std::to_string(missing) +
                          " rows (first: " + first_missing + ")" + Breaks(5));
  }

  void CheckGlobalMap() {
    std::vector<uint32_t> free_pages;
    std::vector<bool> covered(claims_.size(), false);
    try {
      ResolvedRow row = ReadRowAt(file_, format_, kGlobalMapPage, 0);
      if (row.deleted || row.bytes.empty()) return;
      std::span<const uint8_t> map = row.bytes;
      auto add_bits = [&](std::span<const uint8_t> bits, uint64_t first) {
        for (uint64_t p = first; p < first + bits.size() * 8 && p < covered.size(); ++p)
          covered[p] = true;
        for (size_t i = 0; i < bits.size(); ++i)
          for (int b = 0; b < 8; ++b)
            if (bits[i] & (1 << b)) {
              uint64_t p = first + i * 8 + b;
              if (p < claims_.size()) free_pages.push_back(uint32_t(p));
            }
      };
      if (map[0] == kInlineMap && map.size() >= 5) {
        add_bits(map.subspan(5), Read32(map, 1));
      } else if (map[0] == kReferenceMap) {
        const uint64_t per_page = uint64_t(format_.page_size - 4) * 8;
        for (size_t j = 0; 1 + 4 * j + 4 <= map.size(); ++j) {
          uint32_t p = Read32(map, 1 + 4 * j);
          // Entries past the end of the file cover nothing.
          if (p == 0 || p >= claims_.size()) continue;
          PagePtr bits = file_.Read(p);
          if ((*bits)[0] != kUsageMapPageType) {
            problems_.push_back("the global usage map names " + Page(p) +
                                ", which is not a map page");
            continue;
          }
          Claim(p, Owner("the global usage map"));
          add_bits(std::span<const uint8_t>(*bits).subspan(4), j * per_page);
        }
      } else {
        problems_.push_back("the global usage map on page 1 is of an unknown kind");
        return;
      }
    } catch (const Error& e) {
      problems_.push_back("the global usage map: " + e.description());
      return;
    }
    std::vector<bool> is_free(claims_.size(), false);
    for (uint32_t p : free_pages) {
      is_free[p] = true;
      if (p != kGlobalMapPage && claims_[p] >= 0)
        problems_.push_back(Page(p) + " is used by " + owners_[claims_[p]] +
                            " but marked free in the global usage map" + Breaks(3));
    }
    // A data page of a table that its map does not list is not read: its
    // rows are lost unless the page is free.
    for (uint32_t p = kCatalogPage + 1; p < claims_.size(); ++p) {
      if (claims_[p] >= 0 || !covered[p] || is_free[p]) continue;
      PagePtr page = file_.Read(p);
      if ((*page)[0] != kDataPageType) continue;
      auto t = tables_.find(DataPageOwner(*page, format_));
      if (t != tables_.end())
        problems_.push_back(Page(p) + " is a data page of table " + t->second +
                            " that neither the table's owned-pages map lists nor the "
                            "global usage map marks free" + Breaks(3));
    }
  }

  const Database& db_;
  PageFile& file_;
  const JetFormat& format_;
  std::vector<int> claims_;  // page -> owner, -1 when unclaimed
  std::map<uint32_t, std::string> tables_;  // definition page -> table name
  std::set<std::pair<uint32_t, uint16_t>> unreadable_;  // rows of the current table
  std::vector<std::string> owners_;
  std::vector<std::string> problems_;
};

}  // namespace

std::vector<std::string> CheckDatabase(const Database& db) { return Checker(db).Run(); }

}  // namespace corvalin::engine
