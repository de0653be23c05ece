// Read throughput: every row of one table through the engine alone and
// through the ADO-shaped layer (MoveNext, Fields, Value), set against
// mdb-export (mdbtools) writing the same table to /dev/null, all in the
// same run on the same file.
//
//   corvalin_read_bench [ROWS [REPEATS]] [FILE TABLE]
//   corvalin_read_bench export [ROWS [REPEATS]]
//
// The table is read from a copy of FILE that the engine's append first
// grows to ROWS rows (1,000,000 by default; 0 reads the table as it is).
// Without FILE it is the "Indexed" table of the bench's own database
// (bench_support.h). Each figure is the median of REPEATS readings (3 by
// default), every reading opening the file afresh as mdb-export does.
//
// "export" times whole processes instead: `corvalin-db export` (from the
// bench's own folder) against `mdb-export`, both to /dev/null, on the
// bench database's "Plain" table (ten columns: text, memo, date, currency,
// doubles, ...) and on a "Dates" table (three dates, a memo, a text and a
// key), each grown to ROWS rows (200,000 by default).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "db/engine/ado/connection.h"
#include "db/engine/ado/recordset.h"
#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/new_database.h"
#include "db/engine/format/table_writer.h"

namespace {

using corvalin::engine::Database;
using namespace corvalin::bench;

// A few bytes of every value, so that no reading can be left out.
size_t Touch(const Value& v) {
  return std::visit(
      [](const auto& x) -> size_t {
        using X = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<X, std::string> || std::is_same_v<X, corvalin::engine::Bytes>)
          return x.size();
        else
          return 1;
      },
      v);
}

struct Reading {
  long rows = 0;
  size_t touched = 0;
};

long EngineRead(const std::string& path, const std::string& table, size_t& touched) {
  auto db = Database::Open(path, {});
  auto def = db->ReadTableDef(table);
  long rows = 0;
  for (const auto& id : db->ListRows(*def)) {
    for (const Value& v : db->ReadRow(*def, id)) touched += Touch(v);
    ++rows;
  }
  return rows;
}

long EngineReuse(const std::string& path, const std::string& table, size_t& touched) {
  auto db = Database::Open(path, {});
  auto def = db->ReadTableDef(table);
  long rows = 0;
  std::vector<Value> values;
  for (const auto& id : db->ListRows(*def)) {
    db->ReadRow(*def, id, values);
    for (const Value& v : values) touched += Touch(v);
    ++rows;
  }
  return rows;
}

long AdoRead(const std::string& path, const std::string& table, size_t& touched) {
  corvalin::ado::Connection c;
  c.Open(ConnectionString(path));
  corvalin::ado::Recordset rs;
  rs.Open("SELECT * FROM `" + table + "`", c, corvalin::ado::kOpenKeyset,
          corvalin::ado::kLockReadOnly);
  long rows = 0;
  for (; !rs.Eof(); rs.MoveNext(), ++rows) {
    auto& fields = rs.GetFields();
    for (int k = 0; k < fields.Count(); ++k) touched += Touch(fields.Item(k).Value());
  }
  return rows;
}

long Export(const std::string& path, const std::string& table, size_t&) {
  std::string command = "mdb-export '" + path + "' '" + table + "' > /dev/null 2>&1";
  return std::system(command.c_str()) == 0 ? 1 : -1;
}

using Reader = std::function<long(const std::string&, const std::string&, size_t&)>;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Seconds a shell command takes; negative when it fails.
double TimedCommand(const std::string& command) {
  auto start = Clock::now();
  int status = std::system(command.c_str());
  double seconds = Seconds(start);
  return status == 0 ? seconds : -1;
}

// Adds "Dates" to the bench database and fills it: row i's dates spread
// over 1900..2070 with varying times, every seventh with milliseconds.
void AddDatesTable(const std::string& path, long rows) {
  using corvalin::engine::NewColumn;
  auto db = Database::Open(path, {.password = "", .writable = true});
  auto column = [](const char* name, DataType type) {
    NewColumn c;
    c.name = name;
    c.type = type;
    return c;
  };
  corvalin::engine::CreateTable(
      *db, {"Dates",
            {column("id", DataType::kLong), column("ordered", DataType::kDateTime),
             column("shipped", DataType::kDateTime), column("due", DataType::kDateTime),
             column("remark", DataType::kMemo), column("clerk", DataType::kText)},
            {}});
  corvalin::engine::TableWriter writer(db, db->ReadTableDef("Dates"));
  for (long i = 0; i < rows; ++i) {
    const double day = 1.0 + double(i * 7919 % 62000);
    const double time = double(i * 104729 % 86400) / 86400.0;
    const double millis = i % 7 == 0 ? 0.123 / 86400.0 : 0.0;
    writer.Insert({int32_t(i), corvalin::engine::DateTime{day + time},
                   corvalin::engine::DateTime{day + 2 + time / 2 + millis},
                   corvalin::engine::DateTime{day + 30},
                   "remark " + std::to_string(i) + " for the dates table",
                   "clerk " + std::to_string(i % 97)});
  }
}

// Whole processes: corvalin-db export against mdb-export, interleaved.
int ExportBench(const std::string& self, long rows, int repeats) {
  const std::string tool =
      (std::filesystem::path(self).parent_path() / "corvalin-db").string();
  if (!std::filesystem::exists(tool)) {
    std::cout << "no " << tool << " to time\n";
    return 1;
  }
  const std::string made = MakeBenchDatabase("corvalin-export-bench-made");
  const std::string path = FreshCopy(made, "export");
  std::filesystem::remove(made);
  Grow(path, "Plain", rows);
  AddDatesTable(path, rows);
  for (const char* table : {"Plain", "Dates"}) {
    std::vector<double> ours, theirs;
    const std::string args = " '" + path + "' '" + table + "' > /dev/null";
    for (int r = 0; r < repeats; ++r) {
      ours.push_back(TimedCommand("'" + tool + "' export" + args));
      theirs.push_back(TimedCommand("mdb-export" + args + " 2>&1"));
    }
    const double a = Median(ours), b = Median(theirs);
    std::printf("export of %s, %ld rows, median of %d runs: corvalin-db %.3f s", table, rows,
                repeats, a);
    if (b > 0 && a > 0)
      std::printf(", mdb-export %.3f s: %.2f x mdb-export\n", b, b / a);
    else
      std::printf(", mdb-export did not run\n");
  }
  std::filesystem::remove(path);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "export") {
    try {
      return ExportBench(argv[0], argc > 2 ? std::stol(argv[2]) : 200000,
                         argc > 3 ? std::max(1, std::stoi(argv[3])) : 3);
    } catch (const corvalin::engine::Error& e) {
      std::cerr << "error " << e.number() << ": " << e.description() << "\n";
      return 1;
    }
  }
  long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  int repeats = argc > 2 ? std::max(1, std::stoi(argv[2])) : 3;
  std::string source, table = "Indexed", made;
  try {
    if (argc > 4) {
      source = argv[3];
      table = argv[4];
    } else {
      source = made = MakeBenchDatabase("corvalin-read-bench-made");
    }
  } catch (const corvalin::engine::Error& e) {
    std::cerr << "error " << e.number() << ": " << e.description() << "\n";
    return 1;
  }
  if (!std::filesystem::exists(source)) {
    std::cout << "no input file (" << source << "); give FILE TABLE\n";
    return 0;
  }
  std::string path = FreshCopy(source, "read");
  if (!made.empty()) std::filesystem::remove(made);
  int status = 0;
  try {
    if (rows > 0) Grow(path, table, rows);
    struct Candidate {
      const char* name;
      Reader read;
      std::vector<double> seconds;
      long rows = 0;
    };
    std::vector<Candidate> candidates = {{"engine ReadRow, new vector", EngineRead, {}},
                                         {"engine ReadRow, reused", EngineReuse, {}},
                                         {"ADO MoveNext + Value", AdoRead, {}},
                                         {"mdb-export to /dev/null", Export, {}}};
    size_t touched = 0;
    // Interleaved, so that a busy moment of the machine falls on all alike.
    for (int r = 0; r < repeats; ++r) {
      for (Candidate& c : candidates) {
        auto start = Clock::now();
        c.rows = c.read(path, table, touched);
        c.seconds.push_back(Seconds(start));
      }
    }
    const long read = candidates[0].rows;
    if (candidates[1].rows != read || candidates[2].rows != read)
      throw corvalin::engine::Error(corvalin::engine::kErrDamagedFile,
                                    "the readers disagree on the number of rows");
    std::printf("file %s, table %s: %ld rows, median of %d readings (%zu)\n", source.c_str(),
                table.c_str(), read, repeats, touched % 10);
    const bool baseline = candidates.back().rows > 0;
    const double export_rate = read / Median(candidates.back().seconds);
    for (Candidate& c : candidates) {
      const double rate = read / Median(c.seconds);
      std::printf("  %-28s %10.0f rows/s", c.name, rate);
      if (baseline) std::printf("  %6.2f x mdb-export", rate / export_rate);
      std::printf("\n");
    }
    if (!baseline) std::printf("  (mdb-export did not run)\n");
  } catch (const corvalin::engine::Error& e) {
    std::cerr << "error " << e.number() << ": " << e.description() << "\n";
    status = 1;
  }
  std::filesystem::remove(path);
  return status;
}
