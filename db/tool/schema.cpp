#include "db/tool/schema.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "db/engine/error.h"

namespace corvalin::tool {
namespace {

using engine::DataType;
using Kind = JsonValue::Kind;

struct TypeName {
  const char* name;
  DataType type;
  bool autonumber;
};

constexpr TypeName kTypes[] = {
    {"boolean", DataType::kBoolean, false}, {"byte", DataType::kByte, false},
    {"integer", DataType::kInteger, false}, {"long", DataType::kLong, false},
    {"autonumber", DataType::kLong, true},  {"currency", DataType::kCurrency, false},
    {"single", DataType::kSingle, false},   {"double", DataType::kDouble, false},
    {"datetime", DataType::kDateTime, false}, {"text", DataType::kText, false},
    {"memo", DataType::kMemo, false},       {"ole", DataType::kOle, false},
    {"binary", DataType::kBinary, false},   {"guid", DataType::kReplicationId, false},
    {"decimal", DataType::kDecimal, false}, {"bigint", DataType::kBigInt, false},
};

class Reader {
 public:
  Reader(std::string path, engine::JetVersion version)
      : path_(std::move(path)), version_(version) {}

  std::vector<SchemaTable> Read() {
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
      throw engine::Error(engine::kErrFileNotFound, "cannot read the schema file " + path_);
    }
    std::ostringstream text;
    text << in.rdbuf();
    JsonValue document;
    try {
      document = ParseJson(text.str());
    } catch (const engine::Error& e) {
      Fail(e.description());
    }
    Expect(document, Kind::kObject, "the schema");
    Members(document, "the schema", {"tables"});
    const JsonValue* tables = document.Find("tables");
    if (!tables) Fail("the schema has no \"tables\"");
    Expect(*tables, Kind::kArray, "\"tables\"");
    std::vector<SchemaTable> out;
    for (JsonValue& t : const_cast<JsonValue*>(tables)->items) out.push_back(Table(t));
    for (size_t i = 0; i < out.size(); ++i)
      for (size_t j = 0; j < i; ++j)
        if (SameName(out[i].table.name, out[j].table.name))
          Fail("the table name " + out[i].table.name + " is given twice");
    return out;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw engine::Error(engine::kErrInvalidArgument, "schema " + path_ + ": " + what);
  }

  void Expect(const JsonValue& v, Kind kind, const std::string& what) const {
    if (v.kind != kind) {
      Fail(what + " (line " + std::to_string(v.line) + ") must be " + JsonKindName(kind) +
           ", not " + JsonKindName(v.kind));
    }
  }

  // Refuses members the schema does not know: a misspelt "requird" would
  // otherwise be silently dropped.
  void Members(const JsonValue& object, const std::string& what,
               std::initializer_list<const char*> known) const {
    for (const auto& [key, value] : object.members) {
      bool found = false;
      for (const char* k : known) found = found || key == k;
      if (!found) Fail(what + " has an unknown member \"" + key + "\"");
      int count = 0;
      for (const auto& m : object.members) count += m.first == key;
      if (count > 1) Fail(what + " has the member \"" + key + "\" twice");
    }
  }

  static bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      char x = a[i], y = b[i];
      if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
      if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
      if (x != y) return false;
    }
    return true;
  }

  std::string Name(const JsonValue& object, const std::string& what) const {
    const JsonValue* name = object.Find("name");
    if (!name) Fail(what + " (line " + std::to_string(object.line) + ") has no \"name\"");
    Expect(*name, Kind::kString, what + "'s \"name\"");
    if (name->text.empty()) Fail(what + " (line " + std::to_string(object.line) + ") has an empty name");
    return name->text;
  }

  bool Flag(const JsonValue& object, const char* key, const std::string& what) const {
    const JsonValue* v = object.Find(key);
    if (!v) return false;
    Expect(*v, Kind::kBoolean, what + "'s \"" + key + "\"");
    return v->boolean;
  }

  long Number(const JsonValue& object, const char* key, const std::string& what, long lo,
              long hi) const {
    const JsonValue* v = object.Find(key);
    Expect(*v, Kind::kNumber, what + "'s \"" + key + "\"");
    long n = 0;
    auto [end, err] = std::from_chars(v->text.data(), v->text.data() + v->text.size(), n);
    if (err != std::errc() || end != v->text.data() + v->text.size() || n < lo || n > hi) {
      Fail(what + "'s \"" + key + "\" must be a whole number from " + std::to_string(lo) +
           " to " + std::to_string(hi) + ", not " + v->text);
    }
    return n;
  }

  engine::NewColumn Column(const JsonValue& c, const std::string& table) const {
    const std::string what = "a column of table " + table;
    Expect(c, Kind::kObject, what);
    Members(c, what, {"name", "type", "size", "precision", "scale", "required"});
    engine::NewColumn column;
    column.name = Name(c, what);
    const std::string of = "column " + column.name + " of table " + table;
    const JsonValue* type = c.Find("type");
    if (!type) Fail(of + " has no \"type\"");
    Expect(*type, Kind::kString, of + "'s \"type\"");
    const TypeName* found = nullptr;
    for (const auto& t : kTypes)
      if (type->text == t.name) found = &t;
    if (!found) Fail(of + " has the unknown type \"" + type->text + "\"");
    if (found->type == DataType::kBigInt && version_ < engine::JetVersion::kAce16) {
      Fail(of + ": bigint columns need the ace16 format");
    }
    column.type = found->type;
    column.autonumber = found->autonumber;
    const bool sized = column.type == DataType::kText || column.type == DataType::kBinary;
    const bool decimal = column.type == DataType::kDecimal;
    if (c.Find("size")) {
      if (!sized) Fail(of + ": only text and binary columns take a \"size\"");
      column.size = static_cast<uint16_t>(Number(c, "size", of, 1, 255));
    }
    if (c.Find("precision") || c.Find("scale")) {
      if (!decimal) Fail(of + ": only decimal columns take \"precision\" and \"scale\"");
      if (c.Find("precision")) column.precision = static_cast<uint8_t>(Number(c, "precision", of, 1, 28));
      if (c.Find("scale")) column.scale = static_cast<uint8_t>(Number(c, "scale", of, 0, 28));
      if (column.scale > column.precision) Fail(of + ": the scale is larger than the precision");
    }
    column.required = Flag(c, "required", of);
    return column;
  }

  engine::NewIndex Index(const JsonValue& x, const engine::NewTable& table) const {
    const std::string what = "an index of table " + table.name;
    Expect(x, Kind::kObject, what);
    Members(x, what, {"name", "columns", "primary", "unique", "descending"});
    engine::NewIndex index;
    index.name = Name(x, what);
    const std::string of = "index " + index.name + " of table " + table.name;
    const JsonValue* columns = x.Find("columns");
    if (!columns) Fail(of + " has no \"columns\"");
    Expect(*columns, Kind::kArray, of + "'s \"columns\"");
    if (columns->items.empty()) Fail(of + " has no columns");
    for (const JsonValue& c : columns->items) {
      Expect(c, Kind::kString, "a column name of " + of);
      bool known = false;
      for (const auto& column : table.columns) known = known || SameName(column.name, c.text);
      if (!known) Fail(of + " names the unknown column " + c.text);
      index.columns.push_back(c.text);
    }
    index.primary = Flag(x, "primary", of);
    index.unique = Flag(x, "unique", of) || index.primary;
    if (const JsonValue* d = x.Find("descending")) {
      Expect(*d, Kind::kArray, of + "'s \"descending\"");
      if (d->items.size() != index.columns.size()) {
        Fail(of + "'s \"descending\" must give one true or false per column");
      }
      for (const JsonValue& b : d->items) {
        Expect(b, Kind::kBoolean, "an entry of " + of + "'s \"descending\"");
        index.descending.push_back(b.boolean);
      }
    }
    return index;
  }

  SchemaTable Table(JsonValue& t) const {
    Expect(t, Kind::kObject, "a table");
    Members(t, "a table", {"name", "columns", "indexes", "rows"});
    SchemaTable out;
    out.table.name = Name(t, "a table");
    const std::string& name = out.table.name;
    const JsonValue* columns = t.Find("columns");
    if (!columns) Fail("table " + name + " has no \"columns\"");
    Expect(*columns, Kind::kArray, "the \"columns\" of table " + name);
    if (columns->items.empty()) Fail("table " + name + " has no columns");
    for (const JsonValue& c : columns->items) out.table.columns.push_back(Column(c, name));
    const auto& cols = out.table.columns;
    for (size_t i = 0; i < cols.size(); ++i)
      for (size_t j = 0; j < i; ++j)
        if (SameName(cols[i].name, cols[j].name))
          Fail("table " + name + " has the column name " + cols[i].name + " twice");
    if (const JsonValue* indexes = t.Find("indexes")) {
      Expect(*indexes, Kind::kArray, "the \"indexes\" of table " + name);
      for (const JsonValue& x : indexes->items) out.table.indexes.push_back(Index(x, out.table));
    }
    int primary = 0;
    for (const auto& index : out.table.indexes) primary += index.primary;
    if (primary > 1) Fail("table " + name + " has more than one primary key");
    if (JsonValue* rows = const_cast<JsonValue*>(t.Find("rows"))) {
      Expect(*rows, Kind::kArray, "the \"rows\" of table " + name);
      size_t number = 0;
      for (JsonValue& row : rows->items) {
        ++number;
        const std::string which = "row " + std::to_string(number) + " of table " + name;
        Expect(row, Kind::kArray, which);
        if (row.items.size() != cols.size()) {
          Fail(which + " (line " + std::to_string(row.line) + ") has " +
               std::to_string(row.items.size()) + " values for " + std::to_string(cols.size()) +
               " columns");
        }
      }
      out.rows = std::move(rows->items);
    }
    return out;
  }

  std::string path_;
  engine::JetVersion version_;
};

}  // namespace

std::vector<SchemaTable> ReadSchema(const std::string& path, engine::JetVersion version) {
  return Reader(path, version).Read();
}

}  // namespace corvalin::tool
