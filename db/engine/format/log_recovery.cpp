// Opening database files on disk: the lock bytes that let one writer and
// many readers share a file (page_log.h, rules 10 to 13), and the recovery
// of what a crash left in a file's log (rules 6, 8 and 9) before the file
// is read.
#include "db/engine/format/log_recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "db/engine/error.h"
#include "db/engine/format/page_log.h"

namespace corvalin::engine {
namespace {

// Rule 10: 2^40 lies past the largest file the format can describe.
constexpr off_t kWriterByteAt = off_t(1) << 40;
constexpr off_t kReadByteAt = kWriterByteAt + 1;

std::string ReadOnlyRecoveryMessage(const std::string& path, const std::string& why) {
  return "file " + path + " was left by an interrupted save, which its log " +
         LogPathFor(path) + " completes, but it cannot be written (" + why +
         "); open it once with write access to recover it";
}

struct flock LockOf(LockByte byte, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte == LockByte::kWriter ? kWriterByteAt : kReadByteAt;
  fl.l_len = 1;
  return fl;
}

// What lies in the log beside the file now.
struct LogState {
  bool present = false;
  bool saves = false;  // complete records for the file (rule 9)
  bool torn = false;   // a checkpoint or recovery was cut short: the file may be torn
};

LogState LogStateOf(const std::string& path, Storage& file) {
  int fd = ::open(LogPathFor(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  // Something else by the log's name (a folder) is no log: readers pass it
  // by, and the first save, which cannot make its log there, says so.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return {};
  }
  std::unique_ptr<Storage> log = PosixStorage(LogPathFor(path), fd, false);
  const LoggedSaves saves = FindLoggedSaves(*log);
  if (saves.records == 0) return {true};
  return {true, LogIsForFile(saves, file), saves.writing};
}

// Applies the log to file (open for writing, fd holding both bytes) and
// removes it.
bool ApplyLog(const std::string& path, Storage& file) {
  const std::string log_path = LogPathFor(path);
  int fd = ::open(log_path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  std::unique_ptr<Storage> log = PosixStorage(log_path, fd, true);
  const bool applied = Recover(file, *log);
  ::unlink(log_path.c_str());
  return applied;
}

// A reader's recovery of a log no live writer owns. Returns whether it was
// done; false when a writer has just started or (unless the file is torn)
// other readers are reading.
bool RecoverForReader(const std::string& path, bool torn) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) throw Error(kErrReadOnly, ReadOnlyRecoveryMessage(path, std::strerror(errno)));
  std::unique_ptr<Storage> file = PosixStorage(path, fd, true);
  if (!TryLock(fd, LockByte::kWriter, true)) return false;
  if (torn) {
    if (!WaitLock(fd, LockByte::kRead, true)) return false;
  } else if (!TryLock(fd, LockByte::kRead, true)) {
    return false;  // the file as of the last checkpoint is whole: read that
  }
  ApplyLog(path, *file);
  return true;  // closing fd lets both bytes go
}

// Rule 9: a log that holds nothing for the file, and no writer owns, is
// removed unread (when the reader may).
void RemoveStaleLog(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  std::unique_ptr<Storage> file = PosixStorage(path, fd, true);
  if (!TryLock(fd, LockByte::kWriter, true)) return;
  if (!LogStateOf(path, *file).saves) ::unlink(LogPathFor(path).c_str());
}

}  // namespace

// Rule 6 (and 8): applies the saves a crash left in log to file, before
// anything of file is read.
bool Recover(Storage& file, Storage& log) {
  const LoggedSaves saves = FindLoggedSaves(log);
  if (saves.records == 0 || !LogIsForFile(saves, file)) return false;  // rule 9
  if (!file.writable())
    throw Error(kErrReadOnly, ReadOnlyRecoveryMessage(file.path(), "it is open for reading only"));
  try {
    // Rule 14: the room the writer reserved in the log goes to the file.
    if (log.writable()) log.Unreserve();
    ReplayLog(log, file);
  } catch (const Error& e) {
    // Most often a full disk: the file must grow by the pages the saves
    // added. The log keeps them; a later open, with room, completes them.
    throw Error(e.number(), "file " + file.path() + " was left by an interrupted save, which its log " +
                                LogPathFor(file.path()) + " completes, but completing it failed (" +
                                e.description() + "); its saves are kept in the log: open the file "
                                "again once it can be written (with room on its disk)");
  }
  return true;
}

int OpenFile(const std::string& path, bool writable) {
  int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) throw Error(kErrFileNotFound, "could not find file " + path);
    if (writable && (errno == EACCES || errno == EPERM || errno == EROFS))
      throw Error(kErrReadOnly, "file " + path + " cannot be written: " + std::strerror(errno));
    throw Error(kErrIo, "cannot open file " + path + ": " + std::strerror(errno));
  }
  return fd;
}

bool TryLock(int fd, LockByte byte, bool exclusive) {
  struct flock fl = LockOf(byte, exclusive ? F_WRLCK : F_RDLCK);
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

bool WaitLock(int fd, LockByte byte, bool exclusive) {
  struct flock fl = LockOf(byte, exclusive ? F_WRLCK : F_RDLCK);
  while (::fcntl(fd, F_OFD_SETLKW, &fl) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool WaitLockFor(int fd, LockByte byte, bool exclusive, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!TryLock(fd, byte, exclusive)) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void Unlock(int fd, LockByte byte) {
  struct flock fl = LockOf(byte, F_UNLCK);
  ::fcntl(fd, F_OFD_SETLK, &fl);
}

bool HeldElsewhere(int fd, LockByte byte) {
  struct flock fl = LockOf(byte, F_WRLCK);
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

int OpenForReading(const std::string& path) {
  int fd = OpenFile(path, false);
  std::unique_ptr<Storage> file = PosixStorage(path, fd, false);
  // A torn file (a checkpoint cut short) is waited out: a new writer or
  // another reader is recovering it, or this one does.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    LogState log = LogStateOf(path, *file);
    if (log.saves && !HeldElsewhere(fd, LockByte::kWriter)) {
      RecoverForReader(path, log.torn);
    } else if (log.present && !log.saves && !HeldElsewhere(fd, LockByte::kWriter)) {
      RemoveStaleLog(path);
    }
    if (!WaitLock(fd, LockByte::kRead, false)) break;  // no locks here: read as it is
    // Holding the readers' byte, no checkpoint is under way; a log still
    // marked "writing the file" was left by one cut short.
    log = LogStateOf(path, *file);
    if (!log.saves || !log.torn) break;
    Unlock(fd, LockByte::kRead);
    if (std::chrono::steady_clock::now() >= give_up)
      throw Error(kErrFileLocked, "file " + path + " is being recovered by another process");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The storage gives fd up: the caller's storage takes it over.
  const int kept = ::dup(fd);
  if (kept < 0) throw Error(kErrIo, "cannot open file " + path + ": " + std::strerror(errno));
  return kept;
}

int OpenForWriting(const std::string& path) {
  int fd = OpenFile(path, true);
  if (!TryLock(fd, LockByte::kWriter, true)) {
    ::close(fd);
    throw Error(kErrFileLocked, "file locked by another process: " + path);
  }
  return fd;
}

bool RecoverForWriting(const std::string& path, Storage& file, int fd) {
  if (!LogStateOf(path, file).saves) {
    // A log that holds nothing for the file (rule 9) is the next save's.
    ::unlink(LogPathFor(path).c_str());
    return false;
  }
  if (!WaitLockFor(fd, LockByte::kRead, true, std::chrono::seconds(60)))
    throw Error(kErrFileLocked, "file " + path + " is being read by another process, which keeps "
                                "the saves its log holds out of it");
  bool changed = false;
  try {
    changed = ApplyLog(path, file);
  } catch (...) {
    Unlock(fd, LockByte::kRead);
    throw;
  }
  Unlock(fd, LockByte::kRead);
  return changed;
}

void SyncFolderOf(const std::string& path) {
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
  return PosixAppendStorage(log_path, fd);
}

}  // namespace corvalin::engine
