// The one error type of the engine and of the ADO-shaped layer above it.
//
// Like an ADO error it carries a number and a description. The description
// is what the user reads in the error report, so it is written in plain words
// and names the file, table, column or page concerned.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvalin::engine {

// Error numbers. Where ADO or the Jet engine has a well-known number for the
// same condition we use it, so that scripts and tests can tell errors apart.
enum ErrorNumber : int32_t {
  kErrFileNotFound = 3024,         // Jet: could not find file
  kErrNotValidPassword = 3031,     // Jet: not a valid password
  kErrUnrecognisedFormat = 3343,   // Jet: unrecognized database format
  kErrTableNotFound = 3078,        // Jet: cannot find the input table or query
  kErrFileLocked = 3045,           // Jet: could not use file; already in use
  kErrDamagedFile = 3049,          // Jet: cannot open database, damaged
  kErrSyntax = 3131,               // Jet: syntax error in FROM clause
  kErrProviderNotFound = 3706,     // ADO: provider cannot be found
  kErrEncrypted = 3343 + 10000,    // encrypted file we cannot read yet
  kErrIo = 3040,                   // Jet: disk or network error
  kErrNotSupported = 3251,         // ADO: operation not supported
  kErrNoCurrentRecord = 3021,      // ADO: BOF or EOF is true
  kErrObjectClosed = 3704,         // ADO: operation not allowed when closed
  kErrItemNotFound = 3265,         // ADO: item not found in this collection
  kErrInvalidArgument = 3001,      // ADO: arguments of the wrong type
  kErrTypeMismatch = 3421,         // ADO: wrong type for this operation
  kErrDuplicateKey = 3022,         // Jet: duplicate values in index or key
  kErrRequired = 3314,             // Jet: field cannot contain a Null value
  kErrTooLong = 3163,              // Jet: field too small for the data
  kErrReadOnly = 3027,             // Jet: database or object is read-only
  kErrTableExists = 3010,          // Jet: table already exists
  kErrDatabaseExists = 3204,       // Jet: database already exists
};

class Error : public std::runtime_error {
 public:
  Error(int32_t number, std::string description)
      : std::runtime_error(description),
        number_(number),
        description_(std::move(description)) {}

  int32_t number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  int32_t number_;
  std::string description_;
};

// Where damaged bytes were found: the parts that are known. An empty file,
// table, column or part, or page kNoPage, is left out of the description.
// The views must outlive the DamagedAt.
struct DamagedAt {
  static constexpr uint32_t kNoPage = 0xFFFFFFFF;
  std::string_view file;
  uint32_t page = kNoPage;
  std::string_view table = {};
  std::string_view column = {};
  // The structure the bytes belong to, when the message is about it rather
  // than about the page: "definition", "row", "value", "long value".
  std::string_view part = {};
};

// The error for damaged bytes in a file, naming where and what was wrong:
//   damaged page 7 of file a.mdb: not a data page
//   damaged page 7 of file a.mdb (column Notes of table T): ...
//   damaged definition of table T (page 7 of file a.mdb): ...
//   damaged value of column Notes of table T (file a.mdb): ...
// Kept out of line and cold: decoders build it only when they give up.
[[gnu::cold, gnu::noinline]] inline Error DamagedPage(const DamagedAt& at,
                                                      std::string_view what) {
  std::string place;
  if (at.page != DamagedAt::kNoPage) {
    place = "page " + std::to_string(at.page);
    if (!at.file.empty()) place += " of ";
  }
  if (!at.file.empty()) place.append("file ").append(at.file);
  std::string owner;
  if (!at.column.empty()) owner.append("column ").append(at.column);
  if (!at.table.empty())
    owner.append(owner.empty() ? "" : " of ").append("table ").append(at.table);

  std::string d = "damaged ";
  if (!at.part.empty()) {
    d.append(at.part);
    if (!owner.empty()) d.append(" of ").append(owner);
    if (!place.empty()) d.append(" (").append(place).append(")");
  } else {
    d.append(place.empty() ? "data" : place);
    if (!owner.empty()) d.append(" (").append(owner).append(")");
  }
  if (!what.empty()) d.append(": ").append(what);
  return Error(kErrDamagedFile, std::move(d));
}

// The same for the common case: "damaged page 7 of file a.mdb: what".
inline Error DamagedPage(std::string_view file, uint32_t page,
                         std::string_view what) {
  return DamagedPage(DamagedAt{.file = file, .page = page}, what);
}

}  // namespace corvalin::engine
