// Random rows: into tables of random shapes (every kind of column a new
// table can have, indexes over one to three of them, descending, unique,
// primary), saved over several opens, and into every table of the corpus.
// Nulls, repeated keys and keys that begin others, long texts, memos and
// OLE values. What was saved reads back as it went in (mdb-reader agreeing
// on the first shapes), what was refused left nothing, and the file passes
// the check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "db/engine/error.h"
#include "db/engine/format/check.h"
#include "db/engine/format/database.h"
#include "db/engine/format/table_writer.h"
#include "tests/support/corpus.h"
#include "tests/support/fixture.h"
#include "tests/support/readers.h"

namespace corvalin::engine {
namespace {

struct Shape {
  JetVersion version;
  NewTable table;
};

const DataType kTypes[] = {DataType::kBoolean, DataType::kByte,     DataType::kInteger,
                           DataType::kLong,    DataType::kCurrency, DataType::kSingle,
                           DataType::kDouble,  DataType::kDateTime, DataType::kText,
                           DataType::kText,    DataType::kMemo,     DataType::kReplicationId,
                           DataType::kBinary,  DataType::kDecimal,  DataType::kOle,
                           DataType::kBigInt};

bool Indexable(DataType type) { return type != DataType::kMemo && type != DataType::kOle; }

Shape RandomShape(std::mt19937& random) {
  Shape shape;
  const JetVersion versions[] = {JetVersion::kJet4, JetVersion::kAce12, JetVersion::kAce16};
  shape.version = versions[random() % 3];
  shape.table.name = "T";
  const int columns = 2 + int(random() % 8);
  for (int c = 0; c < columns; ++c) {
    NewColumn column;
    column.name = "c" + std::to_string(c);
    column.type = kTypes[random() % std::size(kTypes)];
    if (column.type == DataType::kBigInt && shape.version != JetVersion::kAce16)
      column.type = DataType::kLong;
    if (column.type == DataType::kText || column.type == DataType::kBinary)
      column.size = uint16_t(1 + random() % 255);
    if (column.type == DataType::kDecimal) {
      column.precision = uint8_t(1 + random() % 28);
      column.scale = uint8_t(random() % (column.precision + 1));
    }
    if (column.type == DataType::kLong && random() % 6 == 0 &&
        std::none_of(shape.table.columns.begin(), shape.table.columns.end(),
                     [](const NewColumn& c) { return c.autonumber; }))
      column.autonumber = true;
    shape.table.columns.push_back(column);
  }
  const int indexes = 1 + int(random() % 4);
  for (int i = 0; i < indexes; ++i) {
    NewIndex index;
    index.name = "i" + std::to_string(i);
    const int parts = 1 + int(random() % 3);
    for (int p = 0; p < parts; ++p) {
      const NewColumn& column = shape.table.columns[random() % columns];
      if (!Indexable(column.type)) continue;
      if (std::find(index.columns.begin(), index.columns.end(), column.name) !=
          index.columns.end())
        continue;
      index.columns.push_back(column.name);
      index.descending.push_back(random() % 3 == 0);
    }
    if (index.columns.empty()) continue;
    index.unique = random() % 4 == 0;
    if (i == 0 && random() % 3 == 0) index.primary = index.unique = true;
    shape.table.indexes.push_back(index);
  }
  return shape;
}

// Text from letters, digits, punctuation that keys record by place, and
// accented letters; Windows-1252 (an Access 97 file's code page) holds all
// but the last piece.
std::string RandomText(std::mt19937& random, size_t most, bool cp1252) {
  static const char* const kPieces[] = {"a", "b", "Z", "q", " ", "1", "9", "x", "'", "-",
                                        "y", "m", "\t", "é", "ñ", "ö", "Ä", "ç", "É", "ü",
                                        "€", "ß", "æ", "日"};
  const size_t pieces = std::size(kPieces) - (cp1252 ? 1 : 0);
  // Mostly short words of a few letters, so that keys repeat and share
  // prefixes; now and then one as long as the column takes.
  const size_t length =
      random() % 4 == 0 ? random() % (most + 1) : random() % std::min<size_t>(most + 1, 6);
  std::string text;
  for (size_t i = 0; i < length; ++i) text += kPieces[random() % (random() % 2 ? 4 : pieces)];
  return text;
}

Bytes RandomBytes(std::mt19937& random, size_t size, unsigned spread) {
  Bytes bytes(size);
  for (auto& b : bytes) b = uint8_t(random() % spread);
  return bytes;
}

// A value for the column: one in ten Null (a Yes/No column holds No for
// it), numbers from a small range as often as from the whole, Binary and
// GUID bytes from 0 to 3 so that their keys repeat and begin one another.
Value RandomValue(std::mt19937& random, const ColumnDef& column, bool jet3) {
  if (random() % 10 == 0 && column.type != DataType::kBoolean) return Null{};
  const bool small = random() % 2 == 0;
  switch (column.type) {
    case DataType::kBoolean: return random() % 2 == 0;
    case DataType::kByte: return uint8_t(small ? random() % 3 : random() % 256);
    case DataType::kInteger: return int16_t(small ? int(random() % 5) : int(random() % 60000) - 30000);
    case DataType::kLong:
      if (column.autonumber && random() % 3 != 0) return Null{};  // the table's next number
      return int32_t(small ? int32_t(random() % 50) - 25 : int32_t(random()));
    case DataType::kBigInt: return int64_t(random()) * int64_t(random() % 5) - int64_t(random());
    case DataType::kCurrency: return Currency{int64_t(random() % 100000) - 50000};
    case DataType::kSingle: return float(int(random() % 1000) - 500) / 8;
    case DataType::kDouble: return double(int64_t(random()) - (int64_t(1) << 31)) / 1024;
    case DataType::kDateTime:
      return DateTime{double(int(random() % 80000) - 10000) + double(random() % 1440) / 1440};
    case DataType::kText:
      return RandomText(random, jet3 ? column.length : column.length / 2, jet3);
    case DataType::kMemo: return RandomText(random, random() % 20 == 0 ? 6000 : 300, jet3);
    case DataType::kBinary: return RandomBytes(random, random() % (column.length + 1), 4);
    case DataType::kOle: return RandomBytes(random, random() % 20 == 0 ? 5000 : random() % 200, 256);
    case DataType::kReplicationId: {
      if (column.guid_autonumber) return Null{};
      Guid g;
      for (auto& b : g.bytes) b = uint8_t(random() % 3);
      return g;
    }
    case DataType::kDecimal: {
      Decimal d;
      d.precision = column.precision;
      d.scale = column.scale;
      uint64_t most = 1;
      for (int k = 0; k < std::min<int>(column.precision, 18); ++k) most *= 10;
      const uint64_t m = (uint64_t(random()) << 32 | random()) % most;
      d.magnitude[0] = uint32_t(m);
      d.magnitude[1] = uint32_t(m >> 32);
      d.negative = m != 0 && random() % 2 == 0;
      return d;
    }
    default: return Null{};
  }
}

std::vector<Value> RandomRow(std::mt19937& random, const TableDef& table, bool jet3) {
  std::vector<Value> row;
  for (const ColumnDef& column : table.columns) row.push_back(RandomValue(random, column, jet3));
  return row;
}

// What the writer may refuse here: a repeated key in a unique index, a Null
// in a primary key, a key whose text has no known code, a row too large.
bool ExpectedRefusal(int number) {
  return number == kErrDuplicateKey || number == kErrRequired || number == kErrNotSupported ||
         number == kErrTooLong;
}

// CORVALIN_RANDOM_TABLES=n runs n shapes instead of the usual few.
TEST(RandomTables, SavedRowsReadBackAndTheFilePassesTheCheck) {
  const char* asked = std::getenv("CORVALIN_RANDOM_TABLES");
  const int shapes = asked ? std::atoi(asked) : 40;
  for (int seed = 1; seed <= shapes; ++seed) {
    std::mt19937 random(seed);
    const Shape shape = RandomShape(random);
    const std::string path = testing::MakeDatabase(
        "random-" + std::to_string(seed) + (shape.version == JetVersion::kJet4 ? ".mdb" : ".accdb"),
        shape.version, {{shape.table, {}}});
    const std::string where = "shape " + std::to_string(seed) + ", " + path;
    std::vector<std::vector<Value>> saved;
    const int rows = 200 + int(random() % 3000);
    int tried = 0;
    // In runs of up to 1,500 rows, each a new open of the file.
    while (tried < rows) {
      auto db = Database::Open(path, {"", true});
      TableWriter writer(db, db->ReadTableDef("T"));
      for (int run = 1 + int(random() % 1500); run > 0 && tried < rows; --run, ++tried) {
        std::vector<Value> row = RandomRow(random, writer.table(), false);
        try {
          writer.InsertRow(row);  // fills in the AutoNumber
          saved.push_back(row);
        } catch (const Error& e) {
          ASSERT_TRUE(ExpectedRefusal(e.number())) << where << ": " << e.what();
        }
      }
    }
    auto db = Database::Open(path, {});
    auto table = db->ReadTableDef("T");
    EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>{}) << where;
    const std::vector<RowId> live = db->ListLiveRows(*table);
    ASSERT_EQ(live.size(), saved.size()) << where;
    for (size_t r = 0; r < live.size(); ++r)
      ASSERT_TRUE(db->ReadRow(*table, live[r]) == saved[r]) << where << ", row " << r;
    // An independent reader reads every value of the first few as we do.
    if (seed <= 8 && testing::HaveMdbReader()) {
      EXPECT_EQ(testing::MdbReaderExport(path, "T"), testing::ToolExport(path, "T")) << where;
    }
  }
}

// Every table of every corpus file that takes rows gets 400 random ones:
// the file, with Access's own pages, indexes and sort orders around them,
// passes the check, and its tables hold their old rows and the new ones.
TEST(RandomTables, RowsAddedToEveryCorpusTablePassTheCheck) {
  CORVALIN_REQUIRE_CORPUS();
  size_t files = 0, tables = 0, saved = 0;
  for (const testing::CorpusFile& corpus_file : testing::CorpusManifest()) {
    const std::string& file = corpus_file.name;
    const std::string& password = corpus_file.password;
    const std::string path = testing::CopyOfCorpusFile(file);
    std::map<std::string, size_t> expected;  // rows each table should hold
    {
      auto db = Database::Open(path, {password, true});
      const bool jet3 = db->version() == JetVersion::kJet3;
      std::mt19937 random(uint32_t(++files));
      for (const CatalogEntry& entry : db->Catalog()) {
        if (entry.type != 1 || (entry.flags & 0x80000002)) continue;
        auto table = db->ReadTableDef(entry.name);
        size_t& rows = expected[entry.name] = db->ListLiveRows(*table).size();
        std::unique_ptr<TableWriter> writer;
        try {
          writer = std::make_unique<TableWriter>(db, table);
        } catch (const Error& e) {
          ASSERT_EQ(e.number(), kErrNotSupported) << file << ", " << entry.name;
          continue;  // calculated or complex columns
        }
        ++tables;
        for (int i = 0; i < 400; ++i) {
          std::vector<Value> row = RandomRow(random, *table, jet3);
          try {
            writer->InsertRow(row);
            ++rows;
            ++saved;
          } catch (const Error& e) {
            ASSERT_TRUE(ExpectedRefusal(e.number())) << file << ", " << entry.name << ": " << e.what();
          }
        }
      }
    }
    auto db = Database::Open(path, {password, false});
    EXPECT_EQ(CheckDatabase(*db), std::vector<std::string>{}) << file;
    for (const auto& [name, rows] : expected)
      EXPECT_EQ(db->ListLiveRows(*db->ReadTableDef(name)).size(), rows) << file << ", " << name;
  }
  EXPECT_GT(tables, 100u);
  EXPECT_GT(saved, 20000u);
}

}  // namespace
}  // namespace corvalin::engine
