// The system tables as a new Jet4/ACE file has them, and the rows that
// describe them. The catalog (MSysObjects) holds the three containers every
// Jet database has (Tables, Databases, Relationships), the MSysDb object of
// the database itself and a row per table. The permissions (MSysACEs) are
// the ones Jet writes in a new file.
#include "db/engine/format/system_tables.h"

#include "db/engine/error.h"
#include "db/engine/format/catalog.h"
#include "db/engine/format/data_page.h"
#include "db/engine/format/new_table_rules.h"
#include "db/engine/format/table_def_layout.h"
#include "db/engine/format/table_def_writer.h"
#include "db/engine/format/usage_map.h"

namespace corvalin::engine {
namespace {

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
      c.sort_version = format.new_text_sort_version;
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

}  // namespace

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

std::vector<TableDef> SystemTableDefs(const JetFormat& format) {
  std::vector<TableDef> tables;
  for (const SystemTable& s : SystemTables()) tables.push_back(SystemTableDef(s, format));
  if (format.complex_columns)
    tables.push_back(SystemTableDef(ComplexColumnsTable(), format));
  return tables;
}

void AddSystemCatalogRows(TableWriter& catalog, const std::vector<TableDef>& tables,
                          double date) {
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
}

// Reading the system tables (more on MSysRelationships), the rights on the
// containers that new objects inherit, and opening the database.
void AddSystemPermissions(TableWriter& aces, const std::vector<TableDef>& tables) {
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
}

void AddTableCatalogRow(TableWriter& catalog, const TableDef& table, const Bytes& properties,
                        double date) {
  InsertCatalogRow(catalog, {int32_t(table.page), kTablesContainerId, table.name, kObjectTable,
                             0, kUserSid, properties},
                   date);
}

}  // namespace corvalin::engine
