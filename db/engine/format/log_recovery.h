// Opening database files on disk, and the recovery of what a crash left in
// a file's log before the file is read (page_log.h, rules 6, 8 and 9).
#pragma once

#include <memory>
#include <string>

#include "db/engine/format/storage.h"

namespace corvalin::engine {

// Applies the saves in log to file, when log holds saves for it. Throws
// Error kErrReadOnly when file cannot be written then.
void Recover(Storage& file, Storage& log);

// The file's descriptor, for reading or for reading and writing. Throws
// Error: file not found, I/O error.
int OpenFile(const std::string& path, bool writable);
// The same for writing, under the file's write lock. Throws Error
// kErrFileLocked when another process holds it.
int OpenLocked(const std::string& path);

// Makes (or takes over) the log file at log_path of the file at path.
std::unique_ptr<Storage> MakeLogFile(const std::string& log_path, const std::string& path);

// A writer's open: applies and removes the log a crash left.
void RecoverForWriting(const std::string& path, Storage& file);
// A reader's open: the same, unless a live writer holds the file; throws
// Error kErrReadOnly when the file needs it and cannot be written.
void RecoverForReading(const std::string& path);

}  // namespace corvalin::engine
