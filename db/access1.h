// Connection strings and the table listing of the two chosen databases.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QListWidget;

namespace corvalin {

class DatabaseChoice;
class SortedList;

// The connection string for one file and its password.
QString BuildConnectionString(const QString& path, const QString& password);

// The provider follows the last five characters of the path: "accdb" in any
// case selects ACE, everything else Jet. With an empty file the path and
// password come from database #1 and `password` is ignored.
QString GetConnectionString(const DatabaseChoice& choice, const QString& file = QString(),
                            const QString& password = QString());
QString GetConnectionString2(const DatabaseChoice& choice);

// Where the table names come from; the program's is the engine.
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

// Fill List1 (first entry selected) and List2 (second entry selected); a
// missing file leaves the list as it was.
void FillTableList1(const DatabaseChoice& choice, TableSource& source, SortedList& list1);
void FillTableList2(const DatabaseChoice& choice, TableSource& source, SortedList& list2);

}  // namespace corvalin
