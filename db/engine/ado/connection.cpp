#include "db/engine/ado/connection.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "db/engine/ado/connection_string.h"
#include "db/engine/ado/recordset_impl.h"
#include "db/engine/ado/statement.h"
#include "db/engine/ado/table_types.h"
#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/jet_format.h"
#include "db/engine/format/page_file.h"

namespace corvalin::ado {
namespace {

// The columns of the OLE DB tables rowset, in its order.
const std::vector<std::string>& TablesRowsetNames() {
  static const std::vector<std::string> kNames = {
      "TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME",   "TABLE_TYPE",   "TABLE_GUID",
      "DESCRIPTION",   "TABLE_PROPID", "DATE_CREATED", "DATE_MODIFIED"};
  return kNames;
}

// Jet compares names without regard to case; ties keep a stable order.
bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
      });
}

// The stored queries that take parameters: MSysQueries holds one row with
// Attribute 2 for each parameter, ObjectId naming the query. The provider
// lists such queries as procedures, not as views. When MSysQueries cannot be
// read the queries stay in the list: the tables, which are what the listing
// is for, come from the catalog alone.
std::set<int32_t> ParameterQueryIds(const engine::Database& database) {
  constexpr uint8_t kAttributeParameter = 2;
  std::set<int32_t> ids;
  try {
    auto table = database.ReadTableDef("MSysQueries");
    int object_id = -1;
    int attribute = -1;
    for (size_t i = 0; i < table->columns.size(); ++i) {
      if (table->columns[i].name == "ObjectId") object_id = static_cast<int>(i);
      if (table->columns[i].name == "Attribute") attribute = static_cast<int>(i);
    }
    if (object_id < 0 || attribute < 0) return ids;
    for (const auto& row_id : database.ListRows(*table)) {
      const auto row = database.ReadRow(*table, row_id);
      const auto* kind = std::get_if<uint8_t>(&row[attribute]);
      const auto* id = std::get_if<int32_t>(&row[object_id]);
      if (kind && id && *kind == kAttributeParameter) ids.insert(*id);
    }
  } catch (const engine::Error&) {
  }
  return ids;
}

[[noreturn]] void ThrowClosed() {
  throw engine::Error(engine::kErrObjectClosed,
                      "Operation is not allowed when the connection is closed.");
}

}  // namespace

Connection::Connection() = default;
Connection::~Connection() = default;

void Connection::Open(const std::string& connection_string) { Open(connection_string, nullptr); }

void Connection::Open(const std::string& connection_string,
                      std::shared_ptr<engine::PageFile> file) {
  if (database_) {
    throw engine::Error(engine::kErrInvalidArgument,
                        "Operation is not allowed when the connection is already open.");
  }
  const ConnectionString parsed = ParseConnectionString(connection_string);
  const Provider provider = ProviderOf(parsed);
  engine::OpenOptions options;
  options.password = parsed.Get("jet oledb:database password").value_or("");
  options.writable = mode_ == kModeReadWrite;
  const std::string path = parsed.Get("data source").value_or("");
  auto database = file ? engine::Database::Open(std::move(file), options)
                       : engine::Database::Open(path, options);
  // The Jet 4.0 provider knows only the Jet 3 and Jet 4 formats.
  if (provider == Provider::kJet4 && !database->format().jet4_provider) {
    throw engine::Error(engine::kErrUnrecognisedFormat,
                        "Unrecognized database format '" + path +
                            "': the Jet 4.0 provider cannot open an " +
                            engine::JetVersionName(database->version()) + " file.");
  }
  database_ = std::move(database);
}

std::unique_ptr<Recordset> Connection::OpenSchema(int schema) {
  if (!database_) ThrowClosed();
  if (schema != kSchemaTables) {
    throw engine::Error(engine::kErrNotSupported,
                        "Schema " + std::to_string(schema) +
                            " is not supported; only the tables schema (20) is.");
  }
  struct Row {
    std::string type;
    std::string name;
  };
  std::vector<Row> found;
  std::vector<int32_t> view_ids;
  for (const auto& entry : database_->Catalog()) {
    if (auto type = TableTypeOf(entry)) {
      found.push_back({*type, entry.name});
      view_ids.push_back(*type == "VIEW" ? entry.id : 0);
    }
  }
  if (std::find_if(view_ids.begin(), view_ids.end(), [](int32_t id) { return id != 0; }) !=
      view_ids.end()) {
    const std::set<int32_t> with_parameters = ParameterQueryIds(*database_);
    std::vector<Row> kept;
    for (size_t i = 0; i < found.size(); ++i) {
      if (view_ids[i] == 0 || !with_parameters.count(view_ids[i])) kept.push_back(found[i]);
    }
    found = std::move(kept);
  }
  std::stable_sort(found.begin(), found.end(), [](const Row& a, const Row& b) {
    if (a.type != b.type) return a.type < b.type;
    return LessNoCase(a.name, b.name);
  });
  auto impl = std::make_unique<Recordset::Impl>();
  impl->in_memory = true;
  for (const Row& row : found) {
    std::vector<Variant> values(TablesRowsetNames().size(), engine::Null{});
    values[2] = row.name;
    values[3] = row.type;
    impl->memory_rows.push_back(std::move(values));
  }
  auto recordset = std::make_unique<Recordset>();
  recordset->impl_ = std::move(impl);
  recordset->SetFieldNames(TablesRowsetNames());
  return recordset;
}

std::unique_ptr<Recordset> Connection::Execute(const std::string& statement) {
  if (!database_) ThrowClosed();
  auto recordset = std::make_unique<Recordset>();
  recordset->Open(statement, *this, kOpenStatic, kLockReadOnly);
  return recordset;
}

void Connection::Sync() {
  if (!database_) ThrowClosed();
  if (database_->file().writable()) database_->file().Sync();
}

void Connection::Close() {
  if (!database_) ThrowClosed();
  std::shared_ptr<engine::Database> database = std::move(database_);
  if (database->file().writable()) database->file().Sync();
}

const std::shared_ptr<engine::Database>& Connection::database() const { return database_; }

}  // namespace corvalin::ado
