#include "db/access1.h"

#include "db/database_choice.h"
#include "ui/style/sorted_list.h"

namespace corvalin {

QString BuildConnectionString(const QString& path, const QString& password) {
  const bool ace = path.right(5).toLower() == QLatin1String("accdb");
  const QString prefix = ace ? QStringLiteral("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=")
                             : QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=");
  return prefix + path + QStringLiteral(";JET OLEDB:Database Password=") + password;
}

namespace {

void Fill(SortedList& list, const std::optional<QStringList>& names, int preselect) {
  if (!names) return;
  list.clear();
  for (const QString& name : *names) list.addName(name);
  if (list.count() > preselect) list.setCurrentRow(preselect);
}

}  // namespace

QString GetConnectionString(const DatabaseChoice& choice, const QString& file,
                            const QString& password) {
  if (file.isEmpty()) return BuildConnectionString(choice.path1(), choice.password1());
  return BuildConnectionString(file, password);
}

QString GetConnectionString2(const DatabaseChoice& choice) {
  return BuildConnectionString(choice.path2(), choice.password2());
}

void FillTableList1(const DatabaseChoice& choice, TableSource& source, SortedList& list1) {
  Fill(list1, source.GetTableList(choice.path1(), choice.password1()), 0);
}

void FillTableList2(const DatabaseChoice& choice, TableSource& source, SortedList& list2) {
  // The second entry, so that one file on both sides starts on two tables.
  Fill(list2, source.GetTableList(choice.path2(), choice.password2()), 1);
}

}  // namespace corvalin
