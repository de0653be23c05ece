#include "ui/page2/table_lists.h"

#include "db/database_choice.h"
#include "ui/style/sorted_list.h"

namespace corvalin {
namespace {

void Fill(SortedList& list, const std::optional<QStringList>& names, int preselect) {
  if (!names) return;
  list.clear();
  for (const QString& name : *names) list.addName(name);
  if (list.count() > preselect) list.setCurrentRow(preselect);
}

}  // namespace

void FillTableList1(const DatabaseChoice& choice, TableSource& source, SortedList& list1) {
  Fill(list1, source.GetTableList(choice.path1(), choice.password1()), 0);
}

void FillTableList2(const DatabaseChoice& choice, TableSource& source, SortedList& list2) {
  // The second entry, so that one file on both sides starts on two tables.
  Fill(list2, source.GetTableList(choice.path2(), choice.password2()), 1);
}

}  // namespace corvalin
