// Making new databases and tables.
//
// A new database, in page order:
// | page | contents                                                   |
// | 0    | header page (see header_page.cpp for the fields)           |
// | 1    | global usage map: row 0 marks free pages; row 1 is empty   |
// | 2..  | the system tables, each as table_def_writer.cpp lays it    |
// |      | out: MSysObjects (its definition on page 2), MSysACEs,     |
// |      | MSysQueries, MSysRelationships, and in ACE files           |
// |      | MSysComplexColumns                                         |
// |      | then the data pages of the catalog and the permissions     |
//
// The system tables and their rows are system_tables.cpp's; the rules a new
// table's definition keeps are new_table_rules.cpp's.
// Everything Access adds for its own user interface (the navigation pane
// tables, MSysAccessStorage, the templates of complex types, the Forms and
// Reports containers, the database's properties) is left out: the engine
// and every reader do without it, and Access makes what it misses.
#include "db/engine/format/new_database.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "db/engine/error.h"
#include "db/engine/format/catalog.h"
#include "db/engine/format/header_page.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/new_table_rules.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/page_write_set.h"
#include "db/engine/format/property_map.h"
#include "db/engine/format/system_tables.h"
#include "db/engine/format/table_def_reader.h"
#include "db/engine/format/table_def_writer.h"
#include "db/engine/format/table_writer.h"

namespace corvalin::engine {
namespace {

constexpr uint16_t kCodePage = 1252;
constexpr size_t kMaxPasswordLength = 20;

// The formats a new file can have, and a password Jet can keep.
void CheckOptions(const std::string& path, const NewDatabaseOptions& options,
                  const JetFormat& format) {
  if (!format.creatable)
    throw Error(kErrNotSupported, std::string("cannot make a new ") +
                                      JetVersionName(options.version) + " database (" +
                                      path + "); the formats are Jet4, ACE12 and ACE16");
  if (options.password.empty()) return;
  if (!format.password_on_create)
    throw Error(kErrNotSupported, "a password for " + path +
                                      " can only be given to a Jet4 (.mdb) database");
  if (options.password.size() > kMaxPasswordLength)
    throw Error(kErrInvalidArgument, "the password for " + path +
                                         " is longer than 20 characters");
  for (unsigned char c : options.password)
    if (c < 0x20 || c >= 0x7F)
      throw Error(kErrInvalidArgument,
                  "the password for " + path + " may hold only printable ASCII characters");
}

// Makes the file with its first two pages, the header and the global map;
// false when they could not be written.
bool WriteFirstPages(const std::string& path, const NewDatabaseOptions& options,
                     const JetFormat& format) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST)
      throw Error(kErrDatabaseExists, "cannot make database " + path + ": the file exists");
    throw Error(kErrIo, "cannot make database " + path + ": " + std::strerror(errno));
  }
  std::vector<uint8_t> start =
      EncodeHeaderPage(options.version, kCodePage, kGeneralSortOrder,
                       format.new_text_sort_version, options.creation_date,
                       options.password, format.page_size);
  std::vector<uint8_t> map = GlobalMapPageBytes(format);
  start.insert(start.end(), map.begin(), map.end());
  bool ok = ::write(fd, start.data(), start.size()) == ssize_t(start.size());
  return ::close(fd) == 0 && ok;
}

// A Database that does not own the object, for the writers that take one
// for the time of a call.
std::shared_ptr<Database> Borrow(Database& database) {
  return std::shared_ptr<Database>(&database, [](Database*) {});
}

std::shared_ptr<const TableDef> CatalogTable(Database& database) {
  return std::make_shared<TableDef>(
      ReadTableDefinition(database.file(), database.format(), kCatalogPage, "MSysObjects"));
}

void Commit(PageWriteSet& pages) {
  try {
    pages.Commit();
  } catch (...) {
    pages.Discard();
    throw;
  }
}

// The "Required" properties of the table's columns, the blob of its row.
Bytes RequiredProperties(const TableDef& t) {
  PropertyBlock table;
  table.name = t.name;
  std::vector<PropertyBlock> columns;
  for (const ColumnDef& c : t.columns) {
    if (!c.required) continue;
    PropertyBlock b;
    b.name = c.name;
    b.properties.push_back({"Required", DataType::kBoolean, Bytes{0xFF}});
    columns.push_back(std::move(b));
  }
  return EncodeProperties(table, columns);
}

double CreationDate(Database& database) {
  HeaderPage h = ParseHeaderPage(database.file().ReadPrefix(kHeaderPrefixBytes), database.path());
  return h.date_created;
}

}  // namespace

void CreateDatabase(const std::string& path, const NewDatabaseOptions& options) {
  const JetFormat& format = JetFormat::For(options.version);
  CheckOptions(path, options, format);
  const bool ok = WriteFirstPages(path, options, format);
  try {
    if (!ok) throw Error(kErrIo, "cannot write database " + path);
    std::shared_ptr<PageFile> file = PageFile::Get(path, true);
    file->Configure(format.page_size, nullptr);

    // The system tables' definitions; MSysObjects must land on page 2.
    std::vector<TableDef> tables = SystemTableDefs(format);
    PageWriteSet pages(*file);
    for (TableDef& t : tables) WriteTableDefinition(pages, format, t);
    Commit(pages);
    file->Sync();

    OpenOptions open;
    open.password = options.password;
    open.writable = true;
    std::shared_ptr<Database> db = Database::Open(path, open);
    TableWriter catalog(db, CatalogTable(*db));
    AddSystemCatalogRows(catalog, tables, options.creation_date);
    db->ReloadCatalog();
    TableWriter aces(db, db->ReadTableDef("MSysACEs"));
    AddSystemPermissions(aces, tables);
    file->Sync();
  } catch (...) {
    ::unlink(path.c_str());  // a half-made file is of no use to anyone
    throw;
  }
}

void CreateTable(Database& database, const NewTable& table) {
  const std::string& file = database.path();
  if (!database.file().writable())
    throw Error(kErrReadOnly, "file " + file + " is open for reading only");
  if (!database.format().unicode_text)
    throw Error(kErrNotSupported, "making tables in Access 97 files is not supported (" +
                                      file + ")");
  database.BeginWrite();
  TableDef t = UserTableDef(table, database.format(), file);
  for (const CatalogEntry& e : database.Catalog()) {
    if (e.parent_id == kTablesContainerId && LowerName(e.name) == LowerName(t.name))
      throw Error(kErrTableExists, "table " + t.name + " already exists in file " + file);
  }
  PageWriteSet pages(database.file());
  WriteTableDefinition(pages, database.format(), t);
  // The definition goes in before the catalog row names it: a save cut
  // short between the two leaves pages no one names, never a name without
  // its table.
  Commit(pages);
  TableWriter catalog(Borrow(database), CatalogTable(database));
  AddTableCatalogRow(catalog, t, RequiredProperties(t), CreationDate(database));
  database.ReloadCatalog();
}

}  // namespace corvalin::engine
