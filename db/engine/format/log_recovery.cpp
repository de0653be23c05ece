// Opening database files on disk, and the recovery of what a crash left in
// a file's log (page_log.h, rules 6, 8 and 9) before the file is read.
#include "db/engine/format/log_recovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "db/engine/error.h"
#include "db/engine/format/page_log.h"

namespace corvalin::engine {
namespace {

std::string ReadOnlyRecoveryMessage(const std::string& path, const std::string& why) {
  return "file " + path + " was left by an interrupted save, which its log " +
         LogPathFor(path) + " completes, but it cannot be written (" + why +
         "); open it once with write access to recover it";
}

}  // namespace

// Rule 6 (and 8): applies the saves a crash left in log to file, before
// anything of file is read.
void Recover(Storage& file, Storage& log) {
  const LoggedSaves saves = FindLoggedSaves(log);
  if (saves.records == 0 || !LogIsForFile(saves, file)) return;  // rule 9
  if (!file.writable())
    throw Error(kErrReadOnly, ReadOnlyRecoveryMessage(file.path(), "it is open for reading only"));
  try {
    ReplayLog(log, file);
  } catch (const Error& e) {
    // Most often a full disk: the file must grow by the pages the saves
    // added. The log keeps them; a later open, with room, completes them.
    throw Error(e.number(), "file " + file.path() + " was left by an interrupted save, which its log " +
                                LogPathFor(file.path()) + " completes, but completing it failed (" +
                                e.description() + "); its saves are kept in the log: open the file "
                                "again once it can be written (with room on its disk)");
  }
}

int OpenFile(const std::string& path, bool writable) {
  int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) throw Error(kErrFileNotFound, "could not find file " + path);
    throw Error(kErrIo, "cannot open file " + path + ": " + std::strerror(errno));
  }
  return fd;
}

static bool TryWriteLock(int fd) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

int OpenLocked(const std::string& path) {
  int fd = OpenFile(path, true);
  if (!TryWriteLock(fd)) {
    ::close(fd);
    throw Error(kErrFileLocked, "file locked by another process: " + path);
  }
  return fd;
}

static void SyncFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::unique_ptr<Storage> MakeLogFile(const std::string& log_path, const std::string& path) {
  int fd = ::open(log_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0)
    throw Error(kErrIo, "cannot make the log " + log_path + " of file " + path + ": " +
                            std::strerror(errno));
  SyncFolderOf(log_path);  // rule 4 needs the log to be found after a power loss
  return PosixStorage(log_path, fd, true);
}

// A writer's open: the log a crash left is applied to file and removed.
void RecoverForWriting(const std::string& path, Storage& file) {
  const std::string log_path = LogPathFor(path);
  int fd = ::open(log_path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  std::unique_ptr<Storage> log = PosixStorage(log_path, fd, true);
  Recover(file, *log);
  ::unlink(log_path.c_str());
}

// A reader's open: a log a crash left is applied first and removed, unless
// a live writer holds the file (then the log is its own).
void RecoverForReading(const std::string& path) {
  const std::string log_path = LogPathFor(path);
  bool log_writable = true;
  int log_fd = ::open(log_path.c_str(), O_RDWR | O_CLOEXEC);
  if (log_fd < 0) {
    log_writable = false;
    log_fd = ::open(log_path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (log_fd < 0) return;
  std::unique_ptr<Storage> log = PosixStorage(log_path, log_fd, log_writable);
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    const int why = errno;
    const LoggedSaves saves = FindLoggedSaves(*log);
    std::unique_ptr<Storage> file = PosixStorage(path, OpenFile(path, false), false);
    if (saves.records > 0 && LogIsForFile(saves, *file))
      throw Error(kErrReadOnly, ReadOnlyRecoveryMessage(path, std::strerror(why)));
    return;
  }
  std::unique_ptr<Storage> file = PosixStorage(path, fd, true);
  if (!TryWriteLock(fd)) return;
  Recover(*file, *log);
  ::unlink(log_path.c_str());
}

}  // namespace corvalin::engine
