// Access's own lock file beside a database: `name.ldb` for an .mdb,
// `name.laccdb` for an .accdb. While a user has the database open, Access
// holds byte-range locks on it (visible to us on a network share, where the
// file server maps them to POSIX locks); when the last user closes the
// database the file is usually deleted, but a crash leaves it behind with no
// lock held: such a file is stale and says nothing.
//
// | offset   | size | meaning (each slot; the file is an array of them)  |
// |----------|------|-----------------------------------------------------|
// | 64 * k   | 32   | computer name, NUL-padded, in the ANSI code page    |
// | +32      | 32   | user name (usually "Admin"), NUL-padded             |
//
// A slot's names stay in the file after its user left, so they only tell
// who may have the database open; the locks tell whether anyone does.
#pragma once

#include <string>
#include <vector>

namespace corvalin::engine {

// The path of Access's lock file for the database at database_path.
std::string AccessLockFilePath(const std::string& database_path);

struct AccessLockState {
  std::string lock_path;               // where the lock file is (or would be)
  bool held = false;                   // another program holds a lock on it
  std::vector<std::string> computers;  // names from its slots, when held
};

// Looks at the lock file: absent, stale (no lock held) or held.
AccessLockState ReadAccessLockState(const std::string& database_path);

// Throws Error kErrFileLocked, naming the lock file and the computers that
// have the database open, when the database is open in Access.
void RefuseWhenOpenInAccess(const std::string& database_path);

}  // namespace corvalin::engine
