#include "db/engine/format/new_table_rules.h"

#include <cctype>
#include <set>

#include "db/engine/error.h"
#include "db/engine/format/table_def_layout.h"
#include "db/engine/format/table_def_writer.h"
#include "db/engine/format/value_encoder.h"

namespace corvalin::engine {
namespace {

using T = DataType;

// Limits Access puts on a table.
constexpr size_t kMaxNameLength = 64;
constexpr size_t kMaxColumns = 255;
constexpr size_t kMaxIndexes = 32;
constexpr size_t kMaxIndexColumns = 10;

// Access's rules for object names: 1 to 64 characters, no leading space, no
// control characters and none of . ! ` [ ].
void CheckName(const std::string& name, const std::string& what,
               const std::string& table) {
  auto refuse = [&](const std::string& why) {
    throw Error(kErrInvalidArgument, what + " of table " + table + " " + why);
  };
  if (name.empty()) refuse("has no name");
  if (Utf8ToUtf16(name).size() > kMaxNameLength)
    refuse("has a name longer than 64 characters (\"" + name + "\")");
  if (name[0] == ' ') refuse("has a name that begins with a space (\"" + name + "\")");
  for (unsigned char c : name) {
    if (c < 0x20 || c == '.' || c == '!' || c == '`' || c == '[' || c == ']')
      refuse("has a name with a character Access does not allow in names (\"" + name +
             "\")");
  }
}

bool Indexable(DataType type) {
  return type != DataType::kMemo && type != DataType::kOle;
}

// A column of a new table: a type new tables can have, with a size and
// precision in range. The AutoNumber is checked with the table.
ColumnDef NewColumnDef(const NewColumn& nc, const JetFormat& format, const std::string& file,
                       const std::string& where) {
  ColumnDef c;
  c.name = nc.name;
  c.type = nc.type;
  c.required = nc.required;
  switch (nc.type) {
    case T::kBoolean: case T::kByte: case T::kInteger: case T::kLong:
    case T::kCurrency: case T::kSingle: case T::kDouble: case T::kDateTime:
    case T::kMemo: case T::kOle: case T::kReplicationId:
      break;
    case T::kBigInt:
      if (!format.large_numbers)
        throw Error(kErrNotSupported, where + " is a Large Number, which only Access 2016 "
                                              "files have (file " + file + ")");
      break;
    case T::kText: case T::kBinary:
      if (nc.size > 255)
        throw Error(kErrInvalidArgument, where + " has size " + std::to_string(nc.size) +
                                             "; the largest is 255");
      c.length = nc.size == 0 ? 255 : nc.size;
      break;
    case T::kDecimal:
      if (nc.precision < 1 || nc.precision > 28 || nc.scale > nc.precision)
        throw Error(kErrInvalidArgument,
                    where + " has precision " + std::to_string(nc.precision) +
                        " and scale " + std::to_string(nc.scale) +
                        "; the precision must be 1 to 28 and the scale at most the "
                        "precision");
      c.precision = nc.precision;
      c.scale = nc.scale;
      break;
    default:
      throw Error(kErrNotSupported, where + " has a type (" + DataTypeName(nc.type) +
                                        ") that new tables cannot have");
  }
  if (nc.autonumber && nc.type != T::kLong)
    throw Error(kErrInvalidArgument, where + " is an AutoNumber but not a Long");
  c.autonumber = nc.autonumber;
  if (nc.type == T::kText || nc.type == T::kMemo) {
    c.sort_order = kGeneralSortOrder;
    c.sort_version = format.new_text_sort_version;
    c.compressed_unicode = true;  // Access's "Unicode Compression: Yes"
  }
  return c;
}

// The columns, named once each, at most one AutoNumber, laid out in a row
// whose fixed part leaves room for the rest.
void AddColumns(const NewTable& shape, const JetFormat& format, const std::string& file,
                TableDef& t) {
  const std::string& tn = shape.name;
  std::set<std::string> names;
  bool autonumber = false;
  for (const NewColumn& nc : shape.columns) {
    CheckName(nc.name, "a column", tn);
    const std::string where = "column " + nc.name + " of table " + tn;
    if (!names.insert(LowerName(nc.name)).second)
      throw Error(kErrInvalidArgument, "table " + tn + " has two columns named " + nc.name);
    ColumnDef c = NewColumnDef(nc, format, file, where);
    if (c.autonumber) {
      if (autonumber)
        throw Error(kErrInvalidArgument, "table " + tn + " has more than one AutoNumber");
      autonumber = true;
    }
    t.columns.push_back(std::move(c));
  }
  LayOutColumns(format, t.columns);
  size_t fixed_end = 0;
  for (const ColumnDef& c : t.columns)
    if (c.fixed && c.type != T::kBoolean) fixed_end = c.fixed_offset + c.length;
  if (fixed_end > format.max_row_size / 2)
    throw Error(kErrInvalidArgument, "the fixed-size columns of table " + tn +
                                         " take more room than a record has");
}

// Index `number` of the table, over columns of the table, each once and
// of a type that can be indexed.
IndexDef NewIndexDef(const NewIndex& ni, size_t number, const TableDef& t,
                     const std::string& where) {
  IndexDef x;
  x.name = ni.name;
  x.index_number = x.real_index_number = int32_t(number);
  std::set<uint16_t> used;
  for (size_t k = 0; k < ni.columns.size(); ++k) {
    const ColumnDef* col = nullptr;
    for (const ColumnDef& c : t.columns)
      if (LowerName(c.name) == LowerName(ni.columns[k])) col = &c;
    if (!col)
      throw Error(kErrInvalidArgument, where + " names the unknown column " + ni.columns[k]);
    if (!Indexable(col->type))
      throw Error(kErrInvalidArgument, where + " is over column " + col->name + ", a " +
                                           DataTypeName(col->type) +
                                           " column, which cannot be indexed");
    if (!used.insert(col->column_id).second)
      throw Error(kErrInvalidArgument, where + " names column " + col->name + " twice");
    bool descending = !ni.descending.empty() && ni.descending[k];
    x.columns.push_back({col->column_id, !descending});
  }
  x.primary = ni.primary;
  x.unique = ni.primary || ni.unique;
  x.flags = tdef::kIndexJet4;
  if (x.unique) x.flags |= tdef::kIndexUnique;
  if (ni.primary) x.flags |= tdef::kIndexRequired;
  x.index_type = ni.primary ? tdef::kPrimaryKeyIndex : 0;
  return x;
}

// The indexes, named once each, of 1 to 10 columns, at most one primary
// key.
void AddIndexes(const NewTable& shape, TableDef& t) {
  std::set<std::string> index_names;
  bool primary = false;
  for (size_t i = 0; i < shape.indexes.size(); ++i) {
    const NewIndex& ni = shape.indexes[i];
    CheckName(ni.name, "an index", t.name);
    const std::string where = "index " + ni.name + " of table " + t.name;
    if (!index_names.insert(LowerName(ni.name)).second)
      throw Error(kErrInvalidArgument, "table " + t.name + " has two indexes named " + ni.name);
    if (ni.columns.empty() || ni.columns.size() > kMaxIndexColumns)
      throw Error(kErrInvalidArgument, where + " must have 1 to 10 columns");
    if (!ni.descending.empty() && ni.descending.size() != ni.columns.size())
      throw Error(kErrInvalidArgument, where + " gives the order of " +
                                           std::to_string(ni.descending.size()) +
                                           " columns but has " +
                                           std::to_string(ni.columns.size()));
    if (ni.primary && primary)
      throw Error(kErrInvalidArgument, "table " + t.name + " has more than one primary key");
    primary = primary || ni.primary;
    t.indexes.push_back(NewIndexDef(ni, i, t, where));
  }
}

}  // namespace

std::string LowerName(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

TableDef UserTableDef(const NewTable& shape, const JetFormat& format, const std::string& file) {
  const std::string& tn = shape.name;
  CheckName(tn, "the new table", tn.empty() ? "(no name)" : tn);
  if (shape.columns.empty())
    throw Error(kErrInvalidArgument, "table " + tn + " has no columns");
  if (shape.columns.size() > kMaxColumns)
    throw Error(kErrInvalidArgument, "table " + tn + " has more than 255 columns");
  if (shape.indexes.size() > kMaxIndexes)
    throw Error(kErrInvalidArgument, "table " + tn + " has more than 32 indexes");
  TableDef t;
  t.name = tn;
  t.table_type = tdef::kUserTable;
  AddColumns(shape, format, file, t);
  AddIndexes(shape, t);
  return t;
}

}  // namespace corvalin::engine
