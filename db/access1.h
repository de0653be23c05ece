// Connection strings and the table listing of the two chosen databases.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace corvalin {

class DatabaseChoice;
class Platform;

// The connection string for one file and its password.
QString BuildConnectionString(const QString& path, const QString& password);

// The provider follows the last five characters of the path: "accdb" in any
// case selects ACE, everything else Jet. With an empty file the path and
// password come from database #1 and `password` is ignored.
QString GetConnectionString(const DatabaseChoice& choice, const QString& file = QString(),
                            const QString& password = QString());
QString GetConnectionString2(const DatabaseChoice& choice);

// Where the table names come from; the program's is the engine. Form2's
// lists are filled from it by FillTableList1 and FillTableList2
// (ui/page2/table_lists.h).
class TableSource {
 public:
  virtual ~TableSource() = default;
  // The user tables in the order the tables rowset gives them, or nothing
  // when the file does not exist. Errors propagate to the caller's report.
  virtual std::optional<QStringList> GetTableList(const QString& path,
                                                  const QString& password) = 0;
};

class AdoTableSource : public TableSource {
 public:
  std::optional<QStringList> GetTableList(const QString& path,
                                          const QString& password) override;
};

// What creating a connection object means with the engine built into the
// program: an ado::Connection is made, and the connection strings that
// BuildConnectionString gives for a .mdb and for an .accdb path are read the
// way Connection::Open reads them, so both providers they name must be ones
// the engine serves. Touches no file. Throws engine::Error: 3706 "Provider
// cannot be found" when a provider is missing.
void ProbeDatabaseEngine();

// The download pages of the Access Database Engine 2010 and 2016, in the
// order the guidance opens them.
inline constexpr const char kEngine2010Page[] =
    "https://www.microsoft.com/en-us/download/details.aspx?id=13255";
inline constexpr const char kEngine2016Page[] =
    "https://www.microsoft.com/en-us/download/details.aspx?id=54920";

// The seven paragraphs that explain a missing provider.
QString ProviderGuidanceText();

// The start-up check: true when a connection object could be created. A
// missing provider (3706, or "provider cannot be found" in any case in the
// description) shows the guidance, and Yes opens both download pages; any
// other failure shows nothing. Never shows the error report.
bool CheckProvider(Platform& platform, QWidget* owner);

}  // namespace corvalin
