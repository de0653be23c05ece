// ADO's Connection, shaped as the program uses it: Mode, Open with a
// connection string, OpenSchema, Execute, Close.
#pragma once

#include <memory>
#include <string>

#include "db/engine/ado/recordset.h"

namespace corvalin::engine {
class Database;
class PageFile;
}

namespace corvalin::ado {

// OpenSchema's schema number for the tables rowset.
inline constexpr int kSchemaTables = 20;
// Connection modes: read/write is what the append run asks for.
inline constexpr int kModeUnknown = 0;
inline constexpr int kModeReadWrite = 3;

class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  int Mode() const { return mode_; }
  void SetMode(int mode) { mode_ = mode; }

  // Opens the database the connection string names. Throws engine::Error:
  // 3706 for an unknown provider, and the engine's errors for the file.
  void Open(const std::string& connection_string);
  // The same over a page file the caller provides in place of the file the
  // connection string names (tests: a file that fails or counts writes).
  void Open(const std::string& connection_string, std::shared_ptr<engine::PageFile> file);

  // The tables rowset (kSchemaTables) with the fields "TABLE_CATALOG",
  // "TABLE_SCHEMA", "TABLE_NAME", "TABLE_TYPE", ... as the Jet provider
  // reports them, ordered by type and then by name.
  std::unique_ptr<Recordset> OpenSchema(int schema);

  // Runs a statement. Only "SELECT * FROM <table>" is understood (the table
  // between grave accents, brackets, or bare); anything else is a syntax
  // error. The result is a static, read-only record set.
  std::unique_ptr<Recordset> Execute(const std::string& statement);

  // A sync point, the connection left open: every save made so far to its
  // file (through any connection) is in the file itself, where another
  // program reads it, and on the storage device. Until then the last saves
  // may be in the file's log only. Throws engine::Error when it cannot.
  void Sync();

  // A sync point: every save made through the connection reaches the
  // storage device. Throws engine::Error when it cannot (the connection is
  // closed all the same).
  void Close();
  bool IsOpen() const { return database_ != nullptr; }

  // For the record sets opened on this connection.
  const std::shared_ptr<engine::Database>& database() const;

 private:
  int mode_ = kModeUnknown;
  std::shared_ptr<engine::Database> database_;
};

}  // namespace corvalin::ado
