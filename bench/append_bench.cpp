// Append and read throughput of the engine, one record at a time, each
// record saved before the next one starts (as the append run does it).
//
//   corvalin_append_bench [ROWS] [FILE TABLE [PLAIN_FILE PLAIN_TABLE]]
//
// Every case starts from a fresh copy of its file in the temporary folder:
//   pwrite         one pwrite per record of a row's worth of bytes, the
//                  floor for "the record is in the file when the call ends"
//   engine         TableWriter::Insert on TABLE, every index kept
//   engine, no idx the same table through a definition with its indexes
//                  left out (the copy's indexes then miss the new rows: the
//                  copy is thrown away and only the time is of interest)
//   ADO            Recordset AddNew / Field SetValue / Update on TABLE
//   ADO, no idx    the same on PLAIN_TABLE, a table without indexes (there
//                  is no index-less copy of TABLE to open through ADO), and
//                  the engine on PLAIN_TABLE for comparison
// Ratios are times against the pwrite case of the same run. Reading is set
// against mdb-export (mdbtools) on TABLE's file after the ADO append.
//
// Without FILE the bench makes its own database (bench_support.h: "Indexed"
// and "Plain", ten columns each). ROWS is 1,000,000 by default.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "db/engine/ado/connection.h"
#include "db/engine/ado/recordset.h"
#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/row.h"
#include "db/engine/format/table_writer.h"

namespace {

using corvalin::ado::Connection;
using corvalin::ado::Recordset;
using namespace corvalin::bench;

std::vector<DataType> ColumnTypes(const std::string& path, const std::string& table) {
  std::vector<DataType> types;
  auto db = corvalin::engine::Database::Open(path, {});
  for (const auto& c : db->ReadTableDef(table)->columns) types.push_back(c.type);
  return types;
}

// Seconds for rows pwrites of `size` bytes each, one after the other.
double PlainWrites(long rows, size_t size) {
  auto path = std::filesystem::temp_directory_path() / "corvalin-bench.raw";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  std::vector<uint8_t> bytes(size, 0x5A);
  auto start = Clock::now();
  for (long i = 0; i < rows; ++i)
    if (::pwrite(fd, bytes.data(), size, off_t(i) * off_t(size)) != ssize_t(size)) break;
  double seconds = Seconds(start);
  ::close(fd);
  std::filesystem::remove(path);
  return seconds;
}

// Seconds for rows TableWriter inserts, the closing sync point included;
// with_indexes false leaves the table's indexes out of the writer's
// definition, atomic_saves false writes each save straight into the file
// (no log: what crash safety costs).
double EngineAppend(const std::string& source, const std::string& table, long rows,
                    bool with_indexes, bool atomic_saves = true) {
  std::string path = FreshCopy(source, "engine");
  double seconds = 0;
  auto start = Clock::now();
  {
    corvalin::engine::OpenOptions options;
    options.writable = true;
    options.atomic_saves = atomic_saves;
    auto db = corvalin::engine::Database::Open(path, options);
    auto def = std::make_shared<corvalin::engine::TableDef>(*db->ReadTableDef(table));
    if (!with_indexes) def->indexes.clear();
    corvalin::engine::TableWriter writer(db, def);
    std::vector<Value> values(def->columns.size());
    start = Clock::now();
    // The sync points of a run (at least one a second) are taken here, a
    // little before the page file would take them, to time each.
    auto last_sync = start;
    double sync_seconds = 0, longest = 0;
    long syncs = 0;
    for (long i = 0; i < rows; ++i) {
      for (size_t k = 0; k < values.size(); ++k) values[k] = Generated(def->columns[k].type, i);
      writer.Insert(std::move(values));
      values.resize(def->columns.size());
      if (atomic_saves && (i & 255) == 0 && Seconds(last_sync) > 0.95) {
        auto sync = Clock::now();
        db->file().Sync();
        const double took = Seconds(sync);
        sync_seconds += took;
        longest = std::max(longest, took);
        ++syncs;
        last_sync = Clock::now();
      }
    }
    if (syncs > 0)
      std::printf("  (%ld sync points in the run: %.1f ms each, %.1f ms the longest, %.1f%% of the time)\n",
                  syncs, sync_seconds * 1000 / syncs, longest * 1000,
                  100 * sync_seconds / Seconds(start));
    if (with_indexes) std::printf("  (after the appends: %s)\n", ResidentMemory().c_str());
    auto closing = Clock::now();
    db->file().Sync();
    std::printf("  (the closing sync point: %.1f ms)\n", Seconds(closing) * 1000);
  }
  seconds = Seconds(start);
  std::filesystem::remove(path);
  return seconds;
}

// Seconds for rows AddNew / SetValue / Update through the ADO-shaped layer.
// Leaves the file in place (the read case uses it).
double AdoAppend(const std::string& path, const std::string& table, long rows) {
  std::vector<DataType> types = ColumnTypes(path, table);
  auto start = Clock::now();
  Connection c;
  c.SetMode(corvalin::ado::kModeReadWrite);
  c.Open(ConnectionString(path));
  Recordset rs;
  rs.Open("SELECT * FROM `" + table + "`", c, corvalin::ado::kOpenKeyset,
          corvalin::ado::kLockOptimistic);
  for (long i = 0; i < rows; ++i) {
    rs.AddNew();
    for (size_t k = 0; k < types.size(); ++k)
      rs.GetFields().Item(int(k)).SetValue(Generated(types[k], i));
    rs.Update();
  }
  return Seconds(start);
}

void Report(const char* what, long rows, double seconds, double baseline) {
  std::printf("  %-34s %9.0f rows/s  %6.2f x the pwrite time\n", what, rows / seconds,
              seconds / baseline);
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
  std::string source, table = "Indexed", plain_source, plain_table = "Plain", made;
  try {
    if (argc > 3) {
      source = argv[2];
      table = argv[3];
      if (argc > 5) {
        plain_source = argv[4];
        plain_table = argv[5];
      }
    } else {
      source = plain_source = made = MakeBenchDatabase();
    }
  } catch (const corvalin::engine::Error& e) {
    std::cerr << "error " << e.number() << ": " << e.description() << "\n";
    return 1;
  }
  if (!std::filesystem::exists(source)) {
    std::cout << "no input file (" << source << "); give FILE TABLE\n";
    return 0;
  }
  bool have_plain = std::filesystem::exists(plain_source);
  try {
    std::printf("file %s, table %s: %ld records appended one at a time\n", source.c_str(),
                table.c_str(), rows);
    // A row of the table is about a hundred bytes; 64 stands for it.
    double baseline = PlainWrites(rows, 64);
    Report("pwrite of 64 bytes per record", rows, baseline, baseline);
    Report("engine (TableWriter), indexes", rows, EngineAppend(source, table, rows, true),
           baseline);
    Report("engine, indexes, atomic saves off", rows,
           EngineAppend(source, table, rows, true, false), baseline);
    Report("engine, indexes left out", rows, EngineAppend(source, table, rows, false),
           baseline);
    std::string path = FreshCopy(source, "ado");
    Report("ADO (AddNew/SetValue/Update)", rows, AdoAppend(path, table, rows), baseline);
    if (have_plain) {
      std::printf("file %s, table %s (no indexes):\n", plain_source.c_str(),
                  plain_table.c_str());
      Report("engine (TableWriter)", rows, EngineAppend(plain_source, plain_table, rows, true),
             baseline);
      std::string plain = FreshCopy(plain_source, "plain");
      Report("ADO (AddNew/SetValue/Update)", rows, AdoAppend(plain, plain_table, rows),
             baseline);
      std::filesystem::remove(plain);
    }

    auto start = Clock::now();
    long read = 0;
    {
      Connection c;
      c.Open(ConnectionString(path));
      Recordset rs;
      rs.Open("SELECT * FROM `" + table + "`", c, corvalin::ado::kOpenKeyset,
              corvalin::ado::kLockReadOnly);
      for (; !rs.Eof(); rs.MoveNext(), ++read)
        for (int k = 0; k < rs.GetFields().Count(); ++k) (void)rs.GetFields().Item(k).Value();
    }
    double reading = Seconds(start);

    start = Clock::now();
    std::string command = "mdb-export '" + path + "' '" + table + "' > /dev/null 2>&1";
    int status = std::system(command.c_str());
    double export_time = Seconds(start);

    std::printf("read every row (%ld rows):          %.0f rows/s\n", read, read / reading);
    if (status == 0)
      std::printf("mdb-export, same file:              %.0f rows/s (ours %.2f times that)\n",
                  read / export_time, export_time / reading);
    std::filesystem::remove(path);
    if (!made.empty()) std::filesystem::remove(made);
  } catch (const corvalin::engine::Error& e) {
    std::cerr << "error " << e.number() << ": " << e.description() << "\n";
    return 1;
  }
  return 0;
}
