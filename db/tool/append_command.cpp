// corvalin-db append: the append run without windows. Both databases are
// opened read/write as the program opens them, the source rows are fixed
// when the source is opened (a table appended to itself gets its rows
// once), and each source row becomes one new target row, column by column
// by position. A value the target column refuses is reported and left out
// of its row; a row the target refuses on save is reported and skipped.
#include <iostream>
#include <string>

#include "db/engine/ado/connection.h"
#include "db/engine/ado/recordset.h"
#include "db/engine/error.h"

std::string ToolConnectionString(const std::string& path, const std::string& password);

int AppendCommand(const std::string& source_path, const std::string& source_table,
                  const std::string& target_path, const std::string& target_table,
                  const std::string& source_password, const std::string& target_password) {
  using corvalin::ado::Connection;
  using corvalin::ado::Recordset;
  Connection target;
  Connection source;
  target.SetMode(corvalin::ado::kModeReadWrite);
  source.SetMode(corvalin::ado::kModeReadWrite);
  target.Open(ToolConnectionString(target_path, target_password));
  source.Open(ToolConnectionString(source_path, source_password));
  Recordset from;
  Recordset to;
  from.Open("SELECT * FROM `" + source_table + "`", source, corvalin::ado::kOpenKeyset,
            corvalin::ado::kLockOptimistic);
  to.Open("SELECT * FROM `" + target_table + "`", target, corvalin::ado::kOpenKeyset,
          corvalin::ado::kLockOptimistic);
  const int columns = from.GetFields().Count();
  if (columns != to.GetFields().Count()) {
    std::cerr << "corvalin-db: tables " << source_table << " (" << columns << " columns) and "
              << target_table << " (" << to.GetFields().Count()
              << " columns) do not have the same number of columns\n";
    return 1;
  }
  long added = 0, refused = 0, record = 0;
  while (!from.Eof()) {
    ++record;
    to.AddNew();
    for (int i = 0; i < columns; ++i) {
      try {
        to.GetFields().Item(i).SetValue(from.GetFields().Item(i).Value());
      } catch (const corvalin::engine::Error& e) {
        std::cerr << "record " << record << ", column " << i + 1 << ": error " << e.number()
                  << ": " << e.description() << "\n";
      }
    }
    try {
      to.Update();
      ++added;
    } catch (const corvalin::engine::Error& e) {
      ++refused;
      std::cerr << "record " << record << " refused: error " << e.number() << ": "
                << e.description() << "\n";
    }
    from.MoveNext();
  }
  std::cout << "added " << added << ", refused " << refused << "\n";
  return 0;
}
