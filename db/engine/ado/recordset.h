// ADO's Recordset and its Fields, shaped as the program uses them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/engine/value.h"

namespace corvalin::ado {

class Connection;
class Recordset;

// Cursor and lock types of Recordset.Open.
inline constexpr int kOpenForwardOnly = 0;
inline constexpr int kOpenKeyset = 1;
inline constexpr int kOpenStatic = 3;
inline constexpr int kLockReadOnly = 1;
inline constexpr int kLockOptimistic = 3;

using Variant = engine::Value;

// One column of the record set's current row.
class Field {
 public:
  Field(Recordset* owner, int position, std::string name);
  const std::string& Name() const { return name_; }
  // The current row's value. Throws when there is no current row. The
  // reference holds until the record set moves on or closes.
  const Variant& Value() const;
  // Assigns a value to the row being added (after AddNew).
  void SetValue(const Variant& value);

 private:
  Recordset* owner_;
  int position_;
  std::string name_;
};

class Fields {
 public:
  int Count() const { return static_cast<int>(fields_.size()); }
  // By position (0-based) or by name (case-insensitive). Throws 3265 when
  // there is no such field.
  Field& Item(int position);
  Field& Item(const std::string& name);

 private:
  friend class Recordset;
  std::vector<Field> fields_;
};

class Recordset {
 public:
  Recordset();
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // Opens a statement (see Connection::Execute) on an open connection. A
  // keyset cursor fixes its set of rows now.
  void Open(const std::string& source, Connection& connection,
            int cursor_type = kOpenForwardOnly, int lock_type = kLockReadOnly);

  // ADO's EOF (the name EOF itself is a C macro).
  bool Eof() const;
  void MoveNext();
  Fields& GetFields();
  // The number of rows in the record set's set of rows.
  long RecordCount() const;
  void Close();
  bool IsOpen() const;

  // The write side: start a new row, set its fields, save it.
  void AddNew();
  void Update();

  struct Impl;

 private:
  friend class Field;
  friend class Connection;
  // Names the fields, one per column of the rows impl_ gives.
  void SetFieldNames(const std::vector<std::string>& names);
  std::unique_ptr<Impl> impl_;
  Fields fields_;
};

}  // namespace corvalin::ado
