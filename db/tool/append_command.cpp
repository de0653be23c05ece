// corvalin-db append: the append run without windows. Both databases are
// opened read/write as the program opens them, the source rows are fixed
// when the source is opened (a table appended to itself gets its rows
// once), and each source row becomes one new target row, column by column
// by position. A value the target column refuses is reported and left out
// of its row; a row the target refuses on save is reported and skipped.
//
// Exit status: 0 when every record was added, 3 when the run went to its end
// and some records were refused, 1 when an error stopped the run. However it
// ends, once both databases are named the last line on standard output is
// "added N, refused M".
#include <iostream>
#include <string>
#include <vector>

#include "db/engine/ado/connection.h"
#include "db/engine/ado/recordset.h"
#include "db/engine/error.h"
#include "db/tool/progress.h"

std::string ToolConnectionString(const std::string& path, const std::string& password);

namespace {

constexpr int kExitAllAdded = 0;
constexpr int kExitStopped = 1;
constexpr int kExitSomeRefused = 3;

bool RefusesTheRecord(const corvalin::engine::Error& error) {
  return corvalin::engine::RefusesTheRecord(error.number());
}

std::string Describe(const corvalin::engine::Error& e) {
  return "error " + std::to_string(e.number()) + ": " + e.description();
}

}  // namespace

int AppendCommand(const std::string& source_path, const std::string& source_table,
                  const std::string& target_path, const std::string& target_table,
                  const std::string& source_password, const std::string& target_password) {
  using corvalin::ado::Connection;
  using corvalin::ado::Recordset;
  long added = 0, refused = 0;
  const auto summary = [&] { std::cout << "added " << added << ", refused " << refused << "\n"; };
  try {
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
      summary();
      return kExitStopped;
    }
    corvalin::tool::Progress progress(from.RecordCount());
    // Each record set keeps its fields while it is open: they are looked up
    // once for the whole run.
    std::vector<corvalin::ado::Field*> from_fields, to_fields;
    for (int i = 0; i < columns; ++i) {
      from_fields.push_back(&from.GetFields().Item(i));
      to_fields.push_back(&to.GetFields().Item(i));
    }
    long record = 0;
    while (!from.Eof()) {
      ++record;
      to.AddNew();
      for (int i = 0; i < columns; ++i) {
        try {
          to_fields[i]->SetValue(from_fields[i]->Value());
        } catch (const corvalin::engine::Error& e) {
          if (!RefusesTheRecord(e)) throw;
          progress.message("record " + std::to_string(record) + ", column " +
                           std::to_string(i + 1) + ": " + Describe(e) + "\n");
        }
      }
      try {
        to.Update();
        ++added;
      } catch (const corvalin::engine::Error& e) {
        if (!RefusesTheRecord(e)) throw;
        ++refused;
        progress.message("record " + std::to_string(record) + " refused: " + Describe(e) + "\n");
      }
      progress.step();
      from.MoveNext();
    }
    progress.finish();
    // The run's last sync point: when it cannot write the file (a full
    // disk), the saves wait in the log for the next open, and the run did
    // not end well.
    target.Close();
  } catch (const corvalin::engine::Error& e) {
    std::cerr << "corvalin-db: " << Describe(e) << "\n";
    summary();
    return kExitStopped;
  } catch (const std::exception& e) {
    std::cerr << "corvalin-db: " << e.what() << "\n";
    summary();
    return kExitStopped;
  }
  summary();
  return refused == 0 ? kExitAllAdded : kExitSomeRefused;
}
