// Read throughput: every row of one table through the engine alone and
// through the ADO-shaped layer (MoveNext, Fields, Value), set against
// mdb-export (mdbtools) writing the same table to /dev/null, all in the
// same run on the same file.
//
//   corvalin_read_bench [ROWS [REPEATS]] [FILE TABLE]
//
// The table is read from a copy of FILE (by default an Access-made file of
// the sample corpus: ../shared/corpus, or $CORVALIN_CORPUS) that the engine's append first grows
// to ROWS rows (100,000 by default; 0 reads the table as it is). Each figure
// is the median of REPEATS readings (5 by default), every reading opening
// the file afresh as mdb-export does.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "db/engine/ado/connection.h"
#include "db/engine/ado/recordset.h"
#include "db/engine/error.h"
#include "db/engine/format/database.h"
#include "db/engine/format/table_writer.h"

namespace {

using Clock = std::chrono::steady_clock;
using corvalin::engine::Database;
using corvalin::engine::DataType;
using corvalin::engine::Value;

std::string ConnectionString(const std::string& path) {
  return "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path + ";JET OLEDB:Database Password=";
}

Value Generated(DataType type, long i) {
  switch (type) {
    case DataType::kBoolean: return i % 2 == 0;
    case DataType::kByte: return uint8_t(i % 256);
    case DataType::kInteger: return int16_t(i % 30000);
    case DataType::kLong: return int32_t(i);
    case DataType::kCurrency: return corvalin::engine::Currency{i * 125};
    case DataType::kSingle: return float(i) / 4;
    case DataType::kDouble: return double(i) / 8;
    case DataType::kDateTime: return corvalin::engine::DateTime{40000.0 + i % 5000 + 0.25};
    case DataType::kText: return "bench row " + std::to_string(i);
    case DataType::kMemo: return "a longer memo text for bench row " + std::to_string(i);
    default: return corvalin::engine::Null{};
  }
}

// Adds rows until the table has `rows` of them, through the engine's append.
void Grow(const std::string& path, const std::string& table, long rows) {
  auto db = Database::Open(path, {.password = "", .writable = true});
  auto def = db->ReadTableDef(table);
  long have = static_cast<long>(db->ListRows(*def).size());
  corvalin::engine::TableWriter writer(db, def);
  for (long i = have; i < rows; ++i) {
    std::vector<Value> values;
    for (const auto& c : def->columns)
      values.push_back(c.autonumber ? Value(corvalin::engine::Null{}) : Generated(c.type, i));
    writer.Insert(std::move(values));
  }
}

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

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::stol(argv[1]) : 100000;
  int repeats = argc > 2 ? std::max(1, std::stoi(argv[2])) : 5;
  // The corpus is ../shared/corpus beside the sources, or where CORVALIN_CORPUS says.
  const char* corpus = std::getenv("CORVALIN_CORPUS");
  std::string source = argc > 4 ? argv[3]
                                : std::string(corpus ? corpus : CORVALIN_CORPUS_DIR) +
                                      "/V2010/testV2010.accdb";
  std::string table = argc > 4 ? argv[4] : "Table1";
  if (!std::filesystem::exists(source)) {
    std::cout << "no input file (" << source << "); give FILE TABLE\n";
    return 0;
  }
  std::string path = (std::filesystem::temp_directory_path() /
                      ("corvalin-read-bench" + std::filesystem::path(source).extension().string()))
                         .string();
  std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
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
        c.seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
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
