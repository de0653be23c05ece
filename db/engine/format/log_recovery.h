// Opening database files on disk: the locks that let one writer and many
// readers share a file (page_log.h, rules 10 to 13), and the recovery of
// what a crash left in a file's log before the file is read (rules 6, 8
// and 9).
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "db/engine/format/storage.h"

namespace corvalin::engine {

// Applies the saves in log to file, when log holds saves for it, and says
// whether it did. Throws Error kErrReadOnly when file cannot be written
// then.
bool Recover(Storage& file, Storage& log);

// The file's descriptor, for reading or for reading and writing. Throws
// Error: file not found, I/O error.
int OpenFile(const std::string& path, bool writable);

// The two lock bytes of rule 10, far past any data a file can hold: the
// writer's (held by the one process writing the file) and the readers'
// (shared by readers, taken alone by a checkpoint or a recovery).
enum class LockByte { kWriter, kRead };
// Without waiting: whether the lock was taken (or changed to exclusive or
// shared when fd already held it).
bool TryLock(int fd, LockByte byte, bool exclusive);
// Waits for the lock as long as it takes. False when the file system
// keeps no such locks (a reader then reads without them).
bool WaitLock(int fd, LockByte byte, bool exclusive);
// Waits for the lock at most `limit`.
bool WaitLockFor(int fd, LockByte byte, bool exclusive, std::chrono::milliseconds limit);
void Unlock(int fd, LockByte byte);
// Whether another open of the file holds byte (the writer's: a live writer).
bool HeldElsewhere(int fd, LockByte byte);

// A reader's open (rule 12): a log left by a writer no longer alive is
// applied first when no other reader is in the way (and always when a
// checkpoint was cut short); then the readers' byte is taken shared,
// waiting at most for a checkpoint under way. Returns the descriptor
// (read-only), which holds the lock until it is closed. Throws Error: file
// not found, needs recovery but cannot be written (rule 8), I/O error.
int OpenForReading(const std::string& path);

// A writer's first write (rule 11): the file opened for reading and
// writing, the writer's byte taken. Throws Error kErrFileLocked naming the
// file when another process writes it, kErrReadOnly when the file cannot be
// written.
int OpenForWriting(const std::string& path);
// Then, once no reader of this process holds the readers' byte: applies and
// removes the log a crash (or a writer that closed while readers read)
// left, waiting for readers when there is one. fd holds the writer's byte.
// Returns whether the file changed.
bool RecoverForWriting(const std::string& path, Storage& file, int fd);

// Makes (or takes over) the log file at log_path of the file at path. Its
// name reaches the device only with SyncFolderOf(log_path), which a writer
// must have done before it first counts on the log after a power loss.
std::unique_ptr<Storage> MakeLogFile(const std::string& log_path, const std::string& path);
// Syncs the folder that holds path (its entries: names made or removed).
void SyncFolderOf(const std::string& path);

}  // namespace corvalin::engine
