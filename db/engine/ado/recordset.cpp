#include "db/engine/ado/recordset.h"

#include <cctype>

#include "db/engine/ado/connection.h"
#include "db/engine/ado/field_conversion.h"
#include "db/engine/ado/recordset_impl.h"
#include "db/engine/ado/statement.h"
#include "db/engine/error.h"

namespace corvalin::ado {
namespace {

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

[[noreturn]] void ThrowClosed() {
  throw engine::Error(engine::kErrObjectClosed,
                      "Operation is not allowed when the record set is closed.");
}

}  // namespace

const std::vector<Variant>& Recordset::Impl::ReadCurrentRow() const {
  if (position >= RowCount()) {
    throw engine::Error(engine::kErrNoCurrentRecord,
                        "Either BOF or EOF is true: there is no current record.");
  }
  if (in_memory) return memory_rows[position];
  if (!current_read) {
    database->ReadRow(*table, (*row_ids)[position], current, *pages);
    current_read = true;
  }
  return current;
}

Field::Field(Recordset* owner, int position, std::string name)
    : owner_(owner), position_(position), name_(std::move(name)) {}

const Variant& Field::Value() const {
  if (!owner_->impl_) ThrowClosed();
  const auto& row = owner_->impl_->CurrentRow();
  if (position_ < 0 || static_cast<size_t>(position_) >= row.size()) {
    throw engine::Error(engine::kErrDamagedFile,
                        "The row has no value for the field \"" + name_ + "\".");
  }
  return row[position_];
}

void Field::SetValue(const Variant& value) {
  if (!owner_->impl_) ThrowClosed();
  Recordset::Impl& impl = *owner_->impl_;
  // Only a new record takes values: existing records are never changed.
  if (!impl.adding)
    throw engine::Error(engine::kErrNotSupported,
                        "The field \"" + name_ + "\" can only be set on a new record (AddNew).");
  const engine::ColumnDef& column = impl.table->columns.at(position_);
  ConvertForColumn(value, column, impl.table->name, impl.pending[position_]);
  impl.assigned[position_] = 1;
}

Field& Fields::Item(int position) {
  if (position < 0 || position >= Count()) {
    throw engine::Error(engine::kErrItemNotFound,
                        "Item cannot be found in the collection: there is no field number " +
                            std::to_string(position) + ".");
  }
  return fields_[position];
}

Field& Fields::Item(const std::string& name) {
  for (Field& field : fields_) {
    if (EqualsNoCase(field.Name(), name)) return field;
  }
  throw engine::Error(engine::kErrItemNotFound,
                      "Item cannot be found in the collection: there is no field \"" + name +
                          "\".");
}

Recordset::Recordset() = default;
Recordset::~Recordset() = default;

void Recordset::Open(const std::string& source, Connection& connection, int cursor_type,
                     int lock_type) {
  if (!connection.IsOpen()) {
    throw engine::Error(engine::kErrObjectClosed,
                        "Operation is not allowed when the connection is closed.");
  }
  const std::string name = ParseTableStatement(source);
  auto impl = std::make_unique<Impl>();
  impl->database = connection.database();
  // ReadTableDef names the table when it is not there.
  impl->table = impl->database->ReadTableDef(name);
  // Every cursor type fixes its rows now: the keyset the program asks for
  // does so by definition, and the others behave the same for a reader that
  // walks the rows once. Record sets open on one table at once share them.
  impl->row_ids = impl->database->SharedRows(*impl->table);
  impl->pages = std::make_unique<engine::PageWindow>(impl->database->file());
  impl->read_only = lock_type == kLockReadOnly;
  (void)cursor_type;
  std::vector<std::string> names;
  for (const auto& column : impl->table->columns) names.push_back(column.name);
  impl_ = std::move(impl);
  SetFieldNames(names);
}

void Recordset::SetFieldNames(const std::vector<std::string>& names) {
  fields_.fields_.clear();
  int position = 0;
  for (const auto& name : names) fields_.fields_.emplace_back(this, position++, name);
}

bool Recordset::Eof() const {
  if (!impl_) ThrowClosed();
  return impl_->position >= impl_->RowCount();
}

void Recordset::MoveNext() {
  if (!impl_) ThrowClosed();
  if (impl_->position >= impl_->RowCount()) {
    throw engine::Error(engine::kErrNoCurrentRecord,
                        "Either BOF or EOF is true: there is no current record.");
  }
  ++impl_->position;
  impl_->current_read = false;
}

Fields& Recordset::GetFields() {
  if (!impl_) ThrowClosed();
  return fields_;
}

long Recordset::RecordCount() const {
  if (!impl_) ThrowClosed();
  return static_cast<long>(impl_->RowCount());
}

void Recordset::Close() {
  if (!impl_) ThrowClosed();
  impl_.reset();
  fields_.fields_.clear();
}

bool Recordset::IsOpen() const { return impl_ != nullptr; }

void Recordset::AddNew() {
  if (!impl_) ThrowClosed();
  Impl& impl = *impl_;
  if (impl.in_memory || impl.read_only)
    throw engine::Error(engine::kErrReadOnly,
                        "The record set is read-only: records cannot be added to it.");
  if (!impl.writer) impl.writer = std::make_unique<engine::TableWriter>(impl.database, impl.table);
  // A record still pending is saved first, as ADO does.
  if (impl.adding) Update();
  impl.pending.resize(impl.table->columns.size());
  impl.assigned.assign(impl.table->columns.size(), 0);
  impl.adding = true;
}

void Recordset::Update() {
  if (!impl_) ThrowClosed();
  Impl& impl = *impl_;
  if (!impl.adding)
    throw engine::Error(engine::kErrNoCurrentRecord,
                        "There is no new record to save: Update needs AddNew first.");
  // A refused record is dropped: the next AddNew starts afresh.
  impl.adding = false;
  for (size_t i = 0; i < impl.pending.size(); ++i)
    if (!impl.assigned[i]) impl.pending[i] = engine::Null{};
  impl.writer->InsertRow(impl.pending);
}

}  // namespace corvalin::ado
