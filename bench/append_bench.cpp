// Append and read throughput of the engine, one record at a time through the
// ADO-shaped layer, as the append run does it; reading is set against
// mdb-export (mdbtools) on the same file in the same run.
//
//   corvalin_append_bench [ROWS] [FILE TABLE]
//
// Without FILE the bench uses a copy of an Access-made file from the sample
// corpus (../shared/corpus), when it is there. Every generated row has
// distinct text, so unique indexes take it.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "db/engine/ado/connection.h"
#include "db/engine/ado/recordset.h"
#include "db/engine/error.h"
#include "db/engine/format/database.h"

namespace {

using Clock = std::chrono::steady_clock;
using corvalin::ado::Connection;
using corvalin::ado::Recordset;
using corvalin::engine::DataType;
using corvalin::engine::Value;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

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

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::stol(argv[1]) : 200000;
  std::string source = argc > 3 ? argv[2] : CORVALIN_CORPUS_DIR "/V2010/testV2010.accdb";
  std::string table = argc > 3 ? argv[3] : "Table1";
  if (!std::filesystem::exists(source)) {
    std::cout << "no input file (" << source << "); give FILE TABLE\n";
    return 0;
  }
  std::string path = (std::filesystem::temp_directory_path() / "corvalin-bench.accdb").string();
  std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  try {
    std::vector<DataType> types;
    {
      auto db = corvalin::engine::Database::Open(path, {});
      for (const auto& c : db->ReadTableDef(table)->columns) types.push_back(c.type);
    }
    auto start = Clock::now();
    {
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
    }
    double append = Seconds(start);

    start = Clock::now();
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
    double baseline = Seconds(start);

    std::printf("file %s, table %s, %ld rows appended, %ld rows read\n", source.c_str(),
                table.c_str(), rows, read);
    std::printf("append, one record at a time: %.0f rows/s\n", rows / append);
    std::printf("read every row:               %.0f rows/s\n", read / reading);
    if (status == 0)
      std::printf("mdb-export, same file:        %.0f rows/s (ours %.2f times that)\n",
                  read / baseline, baseline / reading);
  } catch (const corvalin::engine::Error& e) {
    std::cerr << "error " << e.number() << ": " << e.description() << "\n";
    return 1;
  }
  std::filesystem::remove(path);
  return 0;
}
