// The program's table source, the tables rowset of our engine, and the
// start-up probe of the engine's providers.
#include <memory>
#include <variant>

#include "app/main_module.h"
#include "db/access1.h"
#include "db/engine/ado/connection.h"
#include "db/engine/ado/connection_string.h"
#include "db/engine/ado/recordset.h"

namespace corvalin {

namespace {
QString Text(const ado::Variant& value) {
  if (const auto* s = std::get_if<std::string>(&value)) return QString::fromStdString(*s);
  return QString();
}

}  // namespace

void ProbeDatabaseEngine() {
  ado::Connection connection;
  // The provider is chosen from the path alone; the file names are never
  // opened.
  for (const char* path : {"probe.mdb", "probe.accdb"})
    ado::ProviderOf(ado::ParseConnectionString(BuildConnectionString(
        QString::fromLatin1(path), QString()).toStdString()));
}

std::optional<QStringList> AdoTableSource::GetTableList(const QString& path,
                                                        const QString& password) {
  ado::Connection connection;
  if (!FileExists(path)) return std::nullopt;
  connection.Open(BuildConnectionString(path, password).toStdString());
  std::unique_ptr<ado::Recordset> rowset = connection.OpenSchema(ado::kSchemaTables);
  QStringList names;
  while (!rowset->Eof()) {
    // Only the exact type "TABLE" is a user table: system tables, links and
    // queries are skipped.
    if (Text(rowset->GetFields().Item("TABLE_TYPE").Value()) == QLatin1String("TABLE"))
      names << Text(rowset->GetFields().Item("TABLE_NAME").Value());
    rowset->MoveNext();
  }
  rowset->Close();
  connection.Close();
  return names;
}

}  // namespace corvalin
