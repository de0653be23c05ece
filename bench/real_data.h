// Records as real data brings them: the keys of a text index land anywhere
// in it, texts are of mixed case and partly outside ASCII, and a few memos
// are long enough to need long-value pages of their own.
//
// The table "Records" has ten columns:
//   ID Long (primary key), Name Text(50) (indexed, not unique), Amount
//   Double, Qty Integer, Stamp Date/Time, Flag Boolean, Price Currency,
//   Note Text(255), Body Memo, Ref Long.
// Record n has ID n, so IDs rise from file to file when the numbers do.
// Name is two to four words drawn from a list of a few thousand; Note is
// about 100 characters, Body about 300, and one record in fifty has a Body
// of over 2,000 characters. Everything follows from n alone: the same
// numbers give the same records in every run and on every machine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "db/engine/format/database.h"
#include "db/engine/format/new_database.h"
#include "db/engine/format/table_writer.h"
#include "db/engine/value.h"

namespace corvalin::bench {

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
    const std::string& word = words[mix.Next() % words.size()];
    // Text(50) holds 50 characters; two words always fit (a word has at
    // most 22 bytes), a third or fourth only when there is room.
    if (name.size() + 1 + word.size() > 50) break;
    if (!name.empty()) name += ' ';
    name += word;
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

// A new database at path (which must not exist) with the empty table.
inline void MakeRealDatabase(const std::string& path, engine::JetVersion version) {
  engine::NewDatabaseOptions options;
  options.version = version;
  options.creation_date = 45000;
  engine::CreateDatabase(path, options);
  auto column = [](const char* name, engine::DataType type, uint16_t size = 0) {
    engine::NewColumn c;
    c.name = name;
    c.type = type;
    c.size = size;
    return c;
  };
  using engine::DataType;
  engine::NewTable table;
  table.name = kRealTable;
  table.columns = {column("ID", DataType::kLong),         column("Name", DataType::kText, 50),
                   column("Amount", DataType::kDouble),   column("Qty", DataType::kInteger),
                   column("Stamp", DataType::kDateTime),  column("Flag", DataType::kBoolean),
                   column("Price", DataType::kCurrency),  column("Note", DataType::kText, 255),
                   column("Body", DataType::kMemo),       column("Ref", DataType::kLong)};
  engine::NewIndex key;
  key.name = "PrimaryKey";
  key.columns = {"ID"};
  key.primary = key.unique = true;
  engine::NewIndex name;
  name.name = "Name";
  name.columns = {"Name"};
  table.indexes = {key, name};
  auto db = engine::Database::Open(path, {.password = "", .writable = true});
  engine::CreateTable(*db, table);
}

// Adds records first .. first + count - 1 to the table of the file at path.
inline void AddRealRecords(const std::string& path, long first, long count) {
  auto db = engine::Database::Open(path, {.password = "", .writable = true});
  engine::TableWriter writer(db, db->ReadTableDef(kRealTable));
  for (long n = first; n < first + count; ++n) writer.Insert(RealRecord(n));
}

}  // namespace corvalin::bench
