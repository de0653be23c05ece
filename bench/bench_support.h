// What the benches share: one table of ten columns, two kinds of records
// for it, the bench's own database, fresh copies of a file, growing a table,
// and the process's resident memory.
//
// The ten columns: ID Long, Name Text(50), Amount Double, Qty Integer, Stamp
// Date/Time, Flag Boolean, Price Currency, Note Text(255), Body Memo, Ref
// Long; indexed, ID is the primary key and Name has an index that is not
// unique.
//
// Generated(type, i) gives record i plain values whose keys rise with i and
// are distinct, so unique indexes take them. RealRecord(n) gives records as
// real data brings them: the keys of the text index land anywhere in it,
// texts are of mixed case and partly outside ASCII, and a few memos are
// long enough to need long-value pages of their own. Record n has ID n;
// Name is two to four words drawn from a list of a few thousand; Note is
// about 100 characters, Body about 300, and one record in fifty has a Body
// of over 2,000 characters. Everything follows from n alone: the same
// numbers give the same records in every run and on every machine.
//
// The bench database is an Access 2007 file with two tables of the ten
// columns: "Indexed", with both indexes, and "Plain", without.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <initializer_list>
#include <string>
#include <vector>

#include "db/engine/format/database.h"
#include "db/engine/format/new_database.h"
#include "db/engine/format/table_writer.h"
#include "db/engine/value.h"

namespace corvalin::bench {

using Clock = std::chrono::steady_clock;
using engine::DataType;
using engine::Value;

inline double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

inline std::string ConnectionString(const std::string& path) {
  return "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path + ";JET OLEDB:Database Password=";
}

// Record i's value for a column of this type: distinct for every i.
inline Value Generated(DataType type, long i) {
  switch (type) {
    case DataType::kBoolean: return i % 2 == 0;
    case DataType::kByte: return uint8_t(i % 256);
    case DataType::kInteger: return int16_t(i % 30000);
    case DataType::kLong: return int32_t(i);
    case DataType::kCurrency: return engine::Currency{i * 125};
    case DataType::kSingle: return float(i) / 4;
    case DataType::kDouble: return double(i) / 8;
    case DataType::kDateTime: return engine::DateTime{40000.0 + i % 5000 + 0.25};
    case DataType::kText: return "bench row " + std::to_string(i);
    case DataType::kMemo: return "a longer memo text for bench row " + std::to_string(i);
    default: return engine::Null{};
  }
}

inline constexpr const char* kRealTable = "Records";

// A small generator of our own (splitmix64), so that the records do not
// depend on a standard library's distributions.
class Mix {
 public:
  explicit Mix(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A number in [low, high].
  long Between(long low, long high) { return low + long(Next() % uint64_t(high - low + 1)); }

 private:
  uint64_t state_;
};

// The word list: a few thousand made-up words of two to four syllables
// (at most 22 bytes),
// some capitalised, a few in capitals, one in eleven with é, ñ, ö or ß.
inline const std::vector<std::string>& RealWords() {
  static const std::vector<std::string> words = [] {
    const char* onsets[] = {"b", "br", "c", "ch", "d", "f", "g", "gr", "h", "k", "l", "m",
                            "n", "p", "pl", "r", "s", "st", "t", "tr", "v", "w", "z", ""};
    const char* vowels[] = {"a", "e", "i", "o", "u", "ai", "ei", "ou"};
    const char* codas[] = {"", "", "n", "r", "s", "l", "t", "m"};
    const char* marks[] = {"é", "ñ", "ö", "ß"};
    std::vector<std::string> out;
    Mix mix(20261208);
    for (int w = 0; w < 4000; ++w) {
      std::string word;
      for (long s = mix.Between(2, 4); s > 0; --s) {
        word += onsets[mix.Next() % std::size(onsets)];
        word += vowels[mix.Next() % std::size(vowels)];
        word += codas[mix.Next() % std::size(codas)];
      }
      if (w % 11 == 5) word.insert(word.size() / 2, marks[(w / 11) % std::size(marks)]);
      if (w % 3 == 0) word[0] = char(word[0] - 'a' + 'A');
      if (w % 29 == 0)
        for (char& c : word)
          if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
      out.push_back(std::move(word));
    }
    return out;
  }();
  return words;
}

// Words drawn at random until the text has at least `length` bytes (a
// character outside ASCII is two of them in UTF-8, close enough).
inline std::string RealText(Mix& mix, size_t length) {
  const std::vector<std::string>& words = RealWords();
  std::string text;
  while (text.size() < length) {
    if (!text.empty()) text += ' ';
    text += words[mix.Next() % words.size()];
  }
  return text;
}

// Record n's values, in the table's column order.
inline std::vector<engine::Value> RealRecord(long n) {
  Mix mix(uint64_t(n) * 0x2545F4914F6CDD1Dull + 1);
  const std::vector<std::string>& words = RealWords();
  std::string name;
  for (long k = mix.Between(2, 4); k > 0; --k) {
    const std::string* word = &words[mix.Next() % words.size()];
    // The index key cannot be made for an accented letter after a ß (where
    // Access puts that accent is not known): such a word is drawn again.
    auto accented = [](const std::string& w) {
      return std::any_of(w.begin(), w.end(), [](char c) { return uint8_t(c) >= 0x80; });
    };
    while (name.find("ß") != std::string::npos && accented(*word))
      word = &words[mix.Next() % words.size()];
    // Text(50) holds 50 characters; two words always fit (a word has at
    // most 22 bytes), a third or fourth only when there is room.
    if (name.size() + 1 + word->size() > 50) break;
    if (!name.empty()) name += ' ';
    name += *word;
  }
  std::vector<engine::Value> values;
  values.reserve(10);
  values.emplace_back(int32_t(n));
  values.emplace_back(std::move(name));
  values.emplace_back(double(mix.Between(0, 99999999)) / 100);
  values.emplace_back(int16_t(mix.Between(1, 500)));
  values.emplace_back(engine::DateTime{double(mix.Between(36000, 46000)) +
                                       double(mix.Between(0, 86399)) / 86400});
  values.emplace_back(mix.Next() % 2 == 0);
  values.emplace_back(engine::Currency{mix.Between(0, 999999999)});
  values.emplace_back(RealText(mix, mix.Between(92, 108)));
  values.emplace_back(RealText(mix, mix.Next() % 50 == 0 ? mix.Between(2000, 3000)
                                                         : mix.Between(270, 330)));
  values.emplace_back(int32_t(mix.Next() & 0x7FFFFFFF));
  return values;
}

// The ten columns, and the indexes on ID and Name.
inline std::vector<engine::NewColumn> TenColumns() {
  auto column = [](const char* name, DataType type, uint16_t size = 0) {
    engine::NewColumn c;
    c.name = name;
    c.type = type;
    c.size = size;
    return c;
  };
  return {column("ID", DataType::kLong),        column("Name", DataType::kText, 50),
          column("Amount", DataType::kDouble),  column("Qty", DataType::kInteger),
          column("Stamp", DataType::kDateTime), column("Flag", DataType::kBoolean),
          column("Price", DataType::kCurrency), column("Note", DataType::kText, 255),
          column("Body", DataType::kMemo),      column("Ref", DataType::kLong)};
}

inline std::vector<engine::NewIndex> TenColumnIndexes() {
  engine::NewIndex key;
  key.name = "PrimaryKey";
  key.columns = {"ID"};
  key.primary = key.unique = true;
  engine::NewIndex name;
  name.name = "Name";
  name.columns = {"Name"};
  return {key, name};
}

// Indexes, not unique, each over one of these columns and named after it.
inline std::vector<engine::NewIndex> ColumnIndexes(std::initializer_list<const char*> columns) {
  std::vector<engine::NewIndex> out;
  for (const char* column : columns) {
    engine::NewIndex index;
    index.name = column;
    index.columns = {column};
    out.push_back(index);
  }
  return out;
}

// Three more indexes on columns whose values come in no order (Amount,
// Stamp, Ref): a table indexed as many users index theirs.
inline std::vector<engine::NewIndex> MoreIndexes() {
  return ColumnIndexes({"Amount", "Stamp", "Ref"});
}

// Two more indexes on columns of few values (Qty: 500, Flag: 2), as users
// index a category or a Yes/No field: each key repeats hundreds or
// thousands of times, and a new row's entry goes among its equals by its
// row.
inline std::vector<engine::NewIndex> RepeatedKeyIndexes() {
  return ColumnIndexes({"Qty", "Flag"});
}

// A new database at path (which must not exist) of this version, with no
// table yet.
inline void MakeEmptyDatabase(const std::string& path, engine::JetVersion version) {
  engine::NewDatabaseOptions options;
  options.version = version;
  options.creation_date = 45000;
  engine::CreateDatabase(path, options);
}

// A new bench database at `name` in the temporary folder, both tables empty.
inline std::string MakeBenchDatabase(const std::string& name = "corvalin-bench-made") {
  auto path = std::filesystem::temp_directory_path() / (name + ".accdb");
  std::filesystem::remove(path);
  MakeEmptyDatabase(path.string(), engine::JetVersion::kAce12);
  auto db = engine::Database::Open(path.string(), {.password = "", .writable = true});
  engine::CreateTable(*db, {"Indexed", TenColumns(), TenColumnIndexes()});
  engine::CreateTable(*db, {"Plain", TenColumns(), {}});
  return path.string();
}

// A new database at path (which must not exist) with the empty table
// "Records" of the ten columns and both indexes (and MoreIndexes when
// more_indexes, RepeatedKeyIndexes when repeated_keys).
inline void MakeRealDatabase(const std::string& path, engine::JetVersion version,
                             bool more_indexes = false, bool repeated_keys = false) {
  MakeEmptyDatabase(path, version);
  auto db = engine::Database::Open(path, {.password = "", .writable = true});
  std::vector<engine::NewIndex> indexes = TenColumnIndexes();
  if (more_indexes)
    for (engine::NewIndex& index : MoreIndexes()) indexes.push_back(std::move(index));
  if (repeated_keys)
    for (engine::NewIndex& index : RepeatedKeyIndexes()) indexes.push_back(std::move(index));
  engine::CreateTable(*db, {kRealTable, TenColumns(), indexes});
}

// Adds real records first .. first + count - 1 to the table of the file at
// path: in that order, or shuffled (the same order in every run), so that
// the primary key too lands anywhere in its index.
inline void AddRealRecords(const std::string& path, long first, long count,
                           bool shuffled = false) {
  std::vector<long> numbers;
  for (long n = first; n < first + count; ++n) numbers.push_back(n);
  if (shuffled) {
    Mix mix(uint64_t(first) * 31 + uint64_t(count));
    for (size_t i = numbers.size(); i > 1; --i) std::swap(numbers[i - 1], numbers[mix.Next() % i]);
  }
  auto db = engine::Database::Open(path, {.password = "", .writable = true});
  engine::TableWriter writer(db, db->ReadTableDef(kRealTable));
  for (long n : numbers) writer.Insert(RealRecord(n));
}

// A writable copy of source in the temporary folder.
inline std::string FreshCopy(const std::string& source, const std::string& tag) {
  auto path = std::filesystem::temp_directory_path() /
              ("corvalin-bench-" + tag + std::filesystem::path(source).extension().string());
  std::filesystem::remove(path);
  std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  return path.string();
}

// Adds generated records through the engine until the table has `rows`
// (numbered past `offset`, so that they miss the rows already there);
// returns how many it has.
inline long Grow(const std::string& path, const std::string& table, long rows, long offset = 0) {
  auto db = engine::Database::Open(path, {.password = "", .writable = true});
  auto def = db->ReadTableDef(table);
  long have = static_cast<long>(db->ListRows(*def).size());
  engine::TableWriter writer(db, def);
  for (long i = have; i < rows; ++i) {
    std::vector<Value> values;
    for (const auto& c : def->columns)
      values.push_back(c.autonumber ? Value(engine::Null{}) : Generated(c.type, i + offset));
    writer.Insert(std::move(values));
  }
  return std::max(have, rows);
}

// The process's resident memory of its own (RssAnon) and of mapped files
// (RssFile), in MB: a run holds neither table in its own memory, so only
// the second grows with the file.
inline std::string ResidentMemory() {
  std::ifstream status("/proc/self/status");
  std::string line, out;
  while (std::getline(status, line)) {
    if (line.rfind("RssAnon:", 0) == 0 || line.rfind("RssFile:", 0) == 0) {
      long kb = std::atol(line.c_str() + 8);
      out += (out.empty() ? "" : ", ") + line.substr(0, 7) + " " + std::to_string(kb / 1024) + " MB";
    }
  }
  return out;
}

}  // namespace corvalin::bench
