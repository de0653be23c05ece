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
// The catalog (MSysObjects) holds the three containers every Jet database
// has (Tables, Databases, Relationships), the MSysDb object of the
// database itself and a row per table. The permissions (MSysACEs) are the
// ones Jet writes in a new file.
// Everything Access adds for its own user interface (the navigation pane
// tables, MSysAccessStorage, the templates of complex types, the Forms and
// Reports containers, the database's properties) is left out: the engine
// and every reader do without it, and Access makes what it misses.
#include "db/engine/format/new_database.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>

#include "db/engine/error.h"
#include "db/engine/format/catalog.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/header_page.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"
#include "db/engine/format/page_write_set.h"
#include "db/engine/format/property_map.h"
#include "db/engine/format/table_def_layout.h"
#include "db/engine/format/table_def_reader.h"
#include "db/engine/format/table_def_writer.h"
#include "db/engine/format/table_writer.h"
#include "db/engine/format/usage_map.h"
#include "db/engine/format/value_encoder.h"

namespace corvalin::engine {
namespace {

// Collation: General (1033); ACE 2010 and later files use its version 1.
constexpr uint16_t kGeneralSortOrder = 1033;
constexpr uint16_t kCodePage = 1252;

// Limits Access puts on a table.
constexpr size_t kMaxNameLength = 64;
constexpr size_t kMaxColumns = 255;
constexpr size_t kMaxIndexes = 32;
constexpr size_t kMaxIndexColumns = 10;
constexpr size_t kMaxPasswordLength = 20;

// Page 1: row 0 the global map (a set bit: a free page; every page past
// the two written here is free), row 1 an empty map as Access has it.
std::vector<uint8_t> GlobalMapPageBytes(const JetFormat& format) {
  std::vector<uint8_t> p(format.page_size, 0);
  InitDataPage(p, format, 0);
  std::vector<uint8_t> map = NewInlineUsageMap(0, {});
  for (size_t bit = 2; bit < kNewInlineMapBytes * 8; ++bit)
    map[5 + bit / 8] |= uint8_t(1 << (bit % 8));
  AddDataPageRow(p, format, map);
  AddDataPageRow(p, format, NewInlineUsageMap(0, {}));
  return p;
}

// ---- Table definitions ---------------------------------------------------

uint8_t SortVersion(JetVersion version) { return version == JetVersion::kAce16 ? 1 : 0; }

struct SystemColumn {
  const char* name;
  DataType type;
  uint16_t size;  // Text: characters; Binary: bytes
  bool autonumber = false;
};
struct SystemIndex {
  const char* name;
  std::vector<int> columns;  // positions in the column list, ascending
  uint8_t flags;             // beyond the Jet4 bit
  bool primary = false;
};
struct SystemTable {
  const char* name;
  uint8_t table_type;
  std::vector<SystemColumn> columns;
  std::vector<SystemIndex> indexes;
};

using T = DataType;
const std::vector<SystemTable>& SystemTables() {
  static const std::vector<SystemTable> tables = {
      {"MSysObjects", tdef::kSystemTable,
       {{"Id", T::kLong, 0}, {"ParentId", T::kLong, 0}, {"Name", T::kText, 255},
        {"Type", T::kInteger, 0}, {"DateCreate", T::kDateTime, 0},
        {"DateUpdate", T::kDateTime, 0}, {"Owner", T::kBinary, 510},
        {"Flags", T::kLong, 0}, {"Database", T::kMemo, 0}, {"Connect", T::kMemo, 0},
        {"ForeignName", T::kText, 255}, {"RmtInfoShort", T::kBinary, 510},
        {"RmtInfoLong", T::kOle, 0}, {"Lv", T::kOle, 0}, {"LvProp", T::kOle, 0},
        {"LvModule", T::kOle, 0}, {"LvExtra", T::kOle, 0}},
       {{"Id", {0}, tdef::kIndexUnique, true},
        {"ParentIdName", {1, 2}, tdef::kIndexUnique}}},
      {"MSysACEs", tdef::kSystemTable,
       {{"ObjectId", T::kLong, 0}, {"SID", T::kBinary, 510}, {"ACM", T::kLong, 0},
        {"FInheritable", T::kBoolean, 0}},
       {{"ObjectId", {0}, tdef::kIndexRequired}}},
      {"MSysQueries", tdef::kSystemTable,
       {{"ObjectId", T::kLong, 0}, {"Attribute", T::kByte, 0}, {"Order", T::kBinary, 510},
        {"Name1", T::kText, 255}, {"Name2", T::kText, 255}, {"Expression", T::kMemo, 0},
        {"Flag", T::kInteger, 0}, {"LvExtra", T::kLong, 0}},
       {{"ObjectIdAttribute", {0, 1, 2}, tdef::kIndexUnique, true}}},
      {"MSysRelationships", tdef::kSystemTable,
       {{"szRelationship", T::kText, 255}, {"grbit", T::kLong, 0},
        {"ccolumn", T::kLong, 0}, {"icolumn", T::kLong, 0}, {"szObject", T::kText, 255},
        {"szColumn", T::kText, 255}, {"szReferencedObject", T::kText, 255},
        {"szReferencedColumn", T::kText, 255}},
       {{"szObject", {4}, tdef::kIndexIgnoreNulls},
        {"szReferencedObject", {6}, tdef::kIndexIgnoreNulls},
        {"szRelationship", {0}, tdef::kIndexIgnoreNulls}}},
  };
  return tables;
}

// ACE files keep the columns of attachment and multi-valued fields here.
const SystemTable& ComplexColumnsTable() {
  static const SystemTable table = {
      "MSysComplexColumns", tdef::kUserTable,
      {{"ColumnName", T::kText, 255}, {"ComplexTypeObjectID", T::kLong, 0},
       {"FlatTableID", T::kLong, 0}, {"ConceptualTableID", T::kLong, 0},
       {"ComplexID", T::kLong, 0, true}},
      {{"IdxConceptualTableID", {3}, tdef::kIndexIgnoreNulls | tdef::kIndexRequired},
       {"IdxFlatTableID", {2}, tdef::kIndexIgnoreNulls | tdef::kIndexRequired},
       {"IdxID", {4}, tdef::kIndexUnique | tdef::kIndexIgnoreNulls | tdef::kIndexRequired,
        true}}};
  return table;
}

TableDef SystemTableDef(const SystemTable& shape, const JetFormat& format) {
  TableDef t;
  t.name = shape.name;
  t.table_type = shape.table_type;
  for (const SystemColumn& sc : shape.columns) {
    ColumnDef c;
    c.name = sc.name;
    c.type = sc.type;
    c.length = sc.size;
    c.autonumber = sc.autonumber;
    if (c.type == T::kText || c.type == T::kMemo) {
      c.sort_order = kGeneralSortOrder;
      c.sort_version = SortVersion(format.version);
    }
    t.columns.push_back(std::move(c));
  }
  LayOutColumns(format, t.columns);
  for (size_t i = 0; i < shape.indexes.size(); ++i) {
    const SystemIndex& si = shape.indexes[i];
    IndexDef x;
    x.name = si.name;
    x.index_number = x.real_index_number = int32_t(i);
    for (int col : si.columns) x.columns.push_back({t.columns[col].column_id, true});
    x.flags = uint8_t(tdef::kIndexJet4 | si.flags);
    x.primary = si.primary;
    x.index_type = si.primary ? tdef::kPrimaryKeyIndex : 0;
    t.indexes.push_back(std::move(x));
  }
  return t;
}

// ---- Catalog rows --------------------------------------------------------

// The security ids (two bytes each in these files) Jet records as owners
// and in the permissions of a new file: the engine's own, the one that owns
// the database object and reads the system tables, the one new objects'
// creator gets, and the one with every right on the Tables and
// Relationships containers (which new tables and user objects inherit).
const Bytes kEngineSid = {0x06, 0xEA};
const Bytes kDatabaseSid = {0x07, 0xE8};
const Bytes kCreatorSid = {0x06, 0xED};
const Bytes kUserSid = {0x06, 0xE8};

struct CatalogRow {
  int32_t id;
  int32_t parent;
  std::string name;
  int16_t type;
  uint32_t flags;
  Bytes owner;
  Bytes properties;
};

size_t ColumnPosition(const TableDef& t, const char* name) {
  for (size_t i = 0; i < t.columns.size(); ++i)
    if (t.columns[i].name == name) return i;
  throw Error(kErrDamagedFile, std::string("the catalog has no column ") + name);
}

void InsertCatalogRow(TableWriter& writer, const CatalogRow& r, double date) {
  const TableDef& t = writer.table();
  std::vector<Value> v(t.columns.size(), Null{});
  v[ColumnPosition(t, "Id")] = r.id;
  v[ColumnPosition(t, "ParentId")] = r.parent;
  v[ColumnPosition(t, "Name")] = r.name;
  v[ColumnPosition(t, "Type")] = r.type;
  v[ColumnPosition(t, "DateCreate")] = DateTime{date};
  v[ColumnPosition(t, "DateUpdate")] = DateTime{date};
  v[ColumnPosition(t, "Owner")] = r.owner;
  v[ColumnPosition(t, "Flags")] = int32_t(r.flags);
  if (!r.properties.empty()) v[ColumnPosition(t, "LvProp")] = r.properties;
  writer.Insert(std::move(v));
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

// ---- Checks of a new table's definition -----------------------------------

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Access's rules for object names: 1 to 64 characters, no leading space, no
// control characters and none of . ! ` [ ].
void CheckName(const std::string& name, const std::string& what,
               const std::string& table) {
  auto refuse = [&](const std::string& why) {
    throw Error(kErrInvalidArgument, what + " of table " + table + " " + why);
  };
  if (name.empty()) refuse("has no name");
  if (Utf8ToUtf16(name).size() > kMaxNameLength)
    refuse("has a name longer than 64 characters (\"" + name + "\")");
  if (name[0] == ' ') refuse("has a name that begins with a space (\"" + name + "\")");
  for (unsigned char c : name) {
    if (c < 0x20 || c == '.' || c == '!' || c == '`' || c == '[' || c == ']')
      refuse("has a name with a character Access does not allow in names (\"" + name +
             "\")");
  }
}

bool Indexable(DataType type) {
  return type != DataType::kMemo && type != DataType::kOle;
}

TableDef UserTableDef(const NewTable& shape, const JetFormat& format,
                      const std::string& file) {
  const std::string& tn = shape.name;
  CheckName(tn, "the new table", tn.empty() ? "(no name)" : tn);
  if (shape.columns.empty())
    throw Error(kErrInvalidArgument, "table " + tn + " has no columns");
  if (shape.columns.size() > kMaxColumns)
    throw Error(kErrInvalidArgument, "table " + tn + " has more than 255 columns");
  if (shape.indexes.size() > kMaxIndexes)
    throw Error(kErrInvalidArgument, "table " + tn + " has more than 32 indexes");

  TableDef t;
  t.name = tn;
  t.table_type = tdef::kUserTable;
  std::set<std::string> names;
  bool autonumber = false;
  for (const NewColumn& nc : shape.columns) {
    CheckName(nc.name, "a column", tn);
    const std::string where = "column " + nc.name + " of table " + tn;
    if (!names.insert(Lower(nc.name)).second)
      throw Error(kErrInvalidArgument, "table " + tn + " has two columns named " + nc.name);
    ColumnDef c;
    c.name = nc.name;
    c.type = nc.type;
    c.required = nc.required;
    switch (nc.type) {
      case T::kBoolean: case T::kByte: case T::kInteger: case T::kLong:
      case T::kCurrency: case T::kSingle: case T::kDouble: case T::kDateTime:
      case T::kMemo: case T::kOle: case T::kReplicationId:
        break;
      case T::kBigInt:
        if (format.version != JetVersion::kAce16)
          throw Error(kErrNotSupported, where + " is a Large Number, which only Access 2016 "
                                                "files have (file " + file + ")");
        break;
      case T::kText: case T::kBinary:
        if (nc.size > 255)
          throw Error(kErrInvalidArgument, where + " has size " + std::to_string(nc.size) +
                                               "; the largest is 255");
        c.length = nc.size == 0 ? 255 : nc.size;
        break;
      case T::kDecimal:
        if (nc.precision < 1 || nc.precision > 28 || nc.scale > nc.precision)
          throw Error(kErrInvalidArgument,
                      where + " has precision " + std::to_string(nc.precision) +
                          " and scale " + std::to_string(nc.scale) +
                          "; the precision must be 1 to 28 and the scale at most the "
                          "precision");
        c.precision = nc.precision;
        c.scale = nc.scale;
        break;
      default:
        throw Error(kErrNotSupported, where + " has a type (" + DataTypeName(nc.type) +
                                          ") that new tables cannot have");
    }
    if (nc.autonumber) {
      if (nc.type != T::kLong)
        throw Error(kErrInvalidArgument, where + " is an AutoNumber but not a Long");
      if (autonumber)
        throw Error(kErrInvalidArgument, "table " + tn + " has more than one AutoNumber");
      autonumber = true;
      c.autonumber = true;
    }
    if (nc.type == T::kText || nc.type == T::kMemo) {
      c.sort_order = kGeneralSortOrder;
      c.sort_version = SortVersion(format.version);
      c.compressed_unicode = true;  // Access's "Unicode Compression: Yes"
    }
    t.columns.push_back(std::move(c));
  }
  LayOutColumns(format, t.columns);
  size_t fixed_end = 0;
  for (const ColumnDef& c : t.columns)
    if (c.fixed && c.type != T::kBoolean) fixed_end = c.fixed_offset + c.length;
  if (fixed_end > format.max_row_size / 2)
    throw Error(kErrInvalidArgument, "the fixed-size columns of table " + tn +
                                         " take more room than a record has");

  std::set<std::string> index_names;
  bool primary = false;
  for (size_t i = 0; i < shape.indexes.size(); ++i) {
    const NewIndex& ni = shape.indexes[i];
    CheckName(ni.name, "an index", tn);
    const std::string where = "index " + ni.name + " of table " + tn;
    if (!index_names.insert(Lower(ni.name)).second)
      throw Error(kErrInvalidArgument, "table " + tn + " has two indexes named " + ni.name);
    if (ni.columns.empty() || ni.columns.size() > kMaxIndexColumns)
      throw Error(kErrInvalidArgument, where + " must have 1 to 10 columns");
    if (!ni.descending.empty() && ni.descending.size() != ni.columns.size())
      throw Error(kErrInvalidArgument, where + " gives the order of " +
                                           std::to_string(ni.descending.size()) +
                                           " columns but has " +
                                           std::to_string(ni.columns.size()));
    if (ni.primary && primary)
      throw Error(kErrInvalidArgument, "table " + tn + " has more than one primary key");
    primary = primary || ni.primary;
    IndexDef x;
    x.name = ni.name;
    x.index_number = x.real_index_number = int32_t(i);
    std::set<uint16_t> used;
    for (size_t k = 0; k < ni.columns.size(); ++k) {
      const ColumnDef* col = nullptr;
      for (const ColumnDef& c : t.columns)
        if (Lower(c.name) == Lower(ni.columns[k])) col = &c;
      if (!col)
        throw Error(kErrInvalidArgument, where + " names the unknown column " + ni.columns[k]);
      if (!Indexable(col->type))
        throw Error(kErrInvalidArgument, where + " is over column " + col->name + ", a " +
                                             DataTypeName(col->type) +
                                             " column, which cannot be indexed");
      if (!used.insert(col->column_id).second)
        throw Error(kErrInvalidArgument, where + " names column " + col->name + " twice");
      bool descending = !ni.descending.empty() && ni.descending[k];
      x.columns.push_back({col->column_id, !descending});
    }
    x.primary = ni.primary;
    x.unique = ni.primary || ni.unique;
    x.flags = tdef::kIndexJet4;
    if (x.unique) x.flags |= tdef::kIndexUnique;
    if (ni.primary) x.flags |= tdef::kIndexRequired;
    x.index_type = ni.primary ? tdef::kPrimaryKeyIndex : 0;
    t.indexes.push_back(std::move(x));
  }
  return t;
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
  if (options.version != JetVersion::kJet4 && options.version != JetVersion::kAce12 &&
      options.version != JetVersion::kAce16)
    throw Error(kErrNotSupported, std::string("cannot make a new ") +
                                      JetVersionName(options.version) + " database (" +
                                      path + "); the formats are Jet4, ACE12 and ACE16");
  if (!options.password.empty()) {
    if (options.version != JetVersion::kJet4)
      throw Error(kErrNotSupported, "a password for " + path +
                                        " can only be given to a Jet4 (.mdb) database");
    if (options.password.size() > kMaxPasswordLength)
      throw Error(kErrInvalidArgument, "the password for " + path +
                                           " is longer than 20 characters");
    for (unsigned char c : options.password)
      if (c < 0x20 || c >= 0x7F)
        throw Error(kErrInvalidArgument,
                    "the password for " + path +
                        " may hold only printable ASCII characters");
  }
  const JetFormat& format = JetFormat::For(options.version);

  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST)
      throw Error(kErrDatabaseExists, "cannot make database " + path + ": the file exists");
    throw Error(kErrIo, "cannot make database " + path + ": " + std::strerror(errno));
  }
  std::vector<uint8_t> start =
      EncodeHeaderPage(options.version, kCodePage, kGeneralSortOrder,
                       SortVersion(options.version), options.creation_date,
                       options.password, format.page_size);
  std::vector<uint8_t> map = GlobalMapPageBytes(format);
  start.insert(start.end(), map.begin(), map.end());
  bool ok = ::write(fd, start.data(), start.size()) == ssize_t(start.size());
  ok = ::close(fd) == 0 && ok;
  try {
    if (!ok) throw Error(kErrIo, "cannot write database " + path);
    std::shared_ptr<PageFile> file = PageFile::Get(path, true);
    file->Configure(format.page_size, nullptr);

    // The system tables' definitions; MSysObjects must land on page 2.
    std::vector<TableDef> tables;
    for (const SystemTable& s : SystemTables()) tables.push_back(SystemTableDef(s, format));
    if (options.version != JetVersion::kJet4)
      tables.push_back(SystemTableDef(ComplexColumnsTable(), format));
    PageWriteSet pages(*file);
    for (TableDef& t : tables) WriteTableDefinition(pages, format, t);
    Commit(pages);
    file->Sync();

    OpenOptions open;
    open.password = options.password;
    open.writable = true;
    std::shared_ptr<Database> db = Database::Open(path, open);
    const double date = options.creation_date;
    TableWriter catalog(db, CatalogTable(*db));
    const uint32_t system = kFlagSystem;
    InsertCatalogRow(catalog, {kTablesContainerId, kRootContainerId, "Tables", kObjectContainer,
                               system, kEngineSid, {}}, date);
    InsertCatalogRow(catalog, {kDatabasesContainerId, kRootContainerId, "Databases", kObjectContainer,
                               system, kEngineSid, {}}, date);
    InsertCatalogRow(catalog, {kRelationshipsContainerId, kRootContainerId, "Relationships",
                               kObjectContainer, system, kEngineSid, {}}, date);
    InsertCatalogRow(catalog, {kDatabaseObjectId, kDatabasesContainerId, "MSysDb", kObjectDatabase,
                               system, kDatabaseSid, {}}, date);
    for (const TableDef& t : tables)
      InsertCatalogRow(catalog, {int32_t(t.page), kTablesContainerId, t.name, kObjectTable, system,
                                 kEngineSid, {}}, date);

    db->ReloadCatalog();
    // Permissions, as Jet grants them in a new file: reading the system
    // tables (more on MSysRelationships), the rights on the containers that
    // new objects inherit, and opening the database.
    TableWriter aces(db, db->ReadTableDef("MSysACEs"));
    auto ace = [&](int32_t object, const Bytes& sid, int32_t rights, bool inherit) {
      aces.Insert({object, sid, rights, inherit});
    };
    for (const TableDef& t : tables)
      ace(int32_t(t.page), kDatabaseSid, t.name == "MSysRelationships" ? 0xE0000 : 0x60000,
          false);
    for (int32_t container : {kTablesContainerId, kRelationshipsContainerId}) {
      ace(container, kCreatorSid, 0xF00FE, true);
      ace(container, kDatabaseSid, 0x60001, false);
      ace(container, kUserSid, container == kTablesContainerId ? 0xFFEFF : 0xFFFFF, true);
    }
    ace(kDatabasesContainerId, kDatabaseSid, 0x60000, false);
    ace(kDatabaseObjectId, kDatabaseSid, 0x6000E, false);
    ace(kDatabaseObjectId, kUserSid, 0x0E, false);
    for (const TableDef& t : tables)
      if (t.name == "MSysObjects" || t.name == "MSysQueries" || t.name == "MSysRelationships")
        ace(int32_t(t.page), kUserSid, 0x14, false);
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
  TableDef t = UserTableDef(table, database.format(), file);
  for (const CatalogEntry& e : database.Catalog()) {
    if (e.parent_id == kTablesContainerId && Lower(e.name) == Lower(t.name))
      throw Error(kErrTableExists, "table " + t.name + " already exists in file " + file);
  }
  PageWriteSet pages(database.file());
  WriteTableDefinition(pages, database.format(), t);
  // The definition goes in before the catalog row names it: a save cut
  // short between the two leaves pages no one names, never a name without
  // its table.
  Commit(pages);
  TableWriter catalog(Borrow(database), CatalogTable(database));
  InsertCatalogRow(catalog, {int32_t(t.page), kTablesContainerId, t.name, kObjectTable, 0,
                             kUserSid, RequiredProperties(t)},
                   CreationDate(database));
  database.ReloadCatalog();
}

}  // namespace corvalin::engine
