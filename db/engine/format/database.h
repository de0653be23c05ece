// An open Access database file (.mdb, .accdb): the file engine's entry point.
//
// The ADO-shaped layer reaches the file only through this class. It knows
// nothing of connection strings or providers; it opens a file, reads its
// catalog, its table definitions and its rows.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/engine/format/table_def.h"
#include "db/engine/value.h"

namespace corvalin::engine {

enum class JetVersion { kJet3, kJet4, kAce12, kAce14, kAce15, kAce16, kAce17 };

// "Jet3", "Jet4", "ACE12", ...
const char* JetVersionName(JetVersion version);

struct OpenOptions {
  std::string password;   // the database password; empty when none is given
  bool writable = false;  // open for adding rows (connection Mode 3)
  // Benchmarks only, to measure what atomic saves cost: false writes each
  // save straight into the file, with no log and no crash safety. The first
  // writable open of a file in the process decides.
  bool atomic_saves = true;
};

// One row of MSysObjects, the catalog.
struct CatalogEntry {
  int32_t id = 0;           // low 24 bits: the table definition page
  int32_t parent_id = 0;
  std::string name;
  int16_t type = 0;         // 1 local table, 4 ODBC link, 5 query, 6 link, ...
  uint32_t flags = 0;       // 0x80000000 / 0x00000002: system objects
  std::string database;     // linked tables: the file linked to
  std::string foreign_name; // linked tables: the table's name there
};

// Where a row lives: its data page and its slot on that page.
struct RowId {
  uint32_t page = 0;
  uint16_t row = 0;
  bool operator==(const RowId&) const = default;
};

class PageFile;
class PageWindow;
struct JetFormat;

class Database {
 public:
  // Opens the file, completing first what a crash left in its log. The
  // file is opened for reading even when options.writable: write access
  // waits for the first save (BeginWrite). Throws Error: file not found,
  // needs that recovery but cannot be written, unrecognised format, not a
  // valid password, encrypted, damaged page N.
  static std::shared_ptr<Database> Open(const std::string& path,
                                        const OpenOptions& options);
  // The same over a page file the caller provides (tests: a file that
  // fails a write, counts writes, or stops after write k). options.writable
  // must match file's; atomic_saves is the file's own.
  static std::shared_ptr<Database> Open(std::shared_ptr<PageFile> file,
                                        const OpenOptions& options);
  // A writable database makes every save so far reach the storage device
  // (a sync point) when it is closed.
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& path() const;
  JetVersion version() const;
  // The database's collation as the header records it.
  uint16_t sort_order() const;

  // The page seam and layout description, for the format's own readers and
  // writers (indexes, checks).
  PageFile& file() const;
  const JetFormat& format() const;

  // Every catalog row of type table, link or query (and the others), in the
  // order the catalog holds them.
  const std::vector<CatalogEntry>& Catalog() const;

  // The step before a save reads what it will change: takes write access
  // to the file (PageFile::BeginWrite). Throws Error kErrReadOnly when the
  // database was not opened for writing, kErrFileLocked when another
  // process writes the file or changed it since this database read it
  // (what was decoded from it is stale: it is to be opened again).
  void BeginWrite();

  // Reads the catalog again, after a table was added to it.
  void ReloadCatalog();

  // The definition of a local table by name (case-insensitive, as Access
  // compares names). Throws Error kErrTableNotFound.
  std::shared_ptr<const TableDef> ReadTableDef(const std::string& name) const;

  // Marks the columns Access requires a value for ("Required" in the
  // table's properties). Throws Error when the properties are damaged.
  void ApplyRequiredColumns(TableDef& table) const;

  // The table's rows in the table's own order (data pages in usage-map order,
  // rows in slot order), skipping deleted rows and overflow targets. The list
  // is a snapshot: rows added later are not in it.
  // Throws Error kErrDamagedFile when the owned-pages map lists a page that
  // is not one of the table's data pages, or leads to fewer rows than the
  // definition records (pages lost to damage).
  std::vector<RowId> ListRows(const TableDef& table) const;
  // ListRows, shared: while an earlier listing of the table is still held
  // and nothing was written to the file since (no Write through any of its
  // connections, no reload), the table is listed again without reading its
  // pages; the window counts a table's columns through one record set and
  // then reads its rows through another. The same errors as ListRows.
  std::shared_ptr<const std::vector<RowId>> SharedRows(const TableDef& table) const;
  // The same without the row-count rule, for the structure check, which
  // reports a short table itself and goes on to check its indexes.
  std::vector<RowId> ListLiveRows(const TableDef& table) const;
  // Calls visit for each row ListRows lists, in the same order, as it goes
  // through the data pages (a reader going through the rows once reads
  // every page once); the same errors, the row-count one after the last row.
  void ScanRows(const TableDef& table, const std::function<void(RowId)>& visit) const;

  // One row's values, one per column of table.columns, in that order.
  std::vector<Value> ReadRow(const TableDef& table, RowId row) const;
  // The same into values, reusing the storage it holds (a reader going row
  // after row allocates nothing once its texts have grown to size).
  void ReadRow(const TableDef& table, RowId row, std::vector<Value>& values) const;
  // The same for a reader going once through the table's rows in the order
  // ListRows gives: the pages come through `pages`, a window over file().
  void ReadRow(const TableDef& table, RowId row, std::vector<Value>& values,
               PageWindow& pages) const;

  struct Impl;

 private:
  explicit Database(std::unique_ptr<Impl> impl);
  // The live rows, every listed page checked; returns how many.
  size_t VisitRows(const TableDef& table, const std::function<void(RowId)>& visit) const;
  void ReadRowFrom(PageFile& file, const TableDef& table, RowId row,
                   std::vector<Value>& values) const;
  void ApplyResultTypes(TableDef& table, RowId catalog_row) const;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvalin::engine
