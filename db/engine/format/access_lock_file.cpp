#include "db/engine/format/access_lock_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "db/engine/error.h"

namespace corvalin::engine {
namespace {

// Slot layout (see the header): every slot has the same size.
constexpr size_t kSlotSize = 64;
constexpr size_t kNameSize = 32;
// Jet allows 255 users at once; a file longer than that holds nothing more
// that we would name.
constexpr size_t kMaxSlots = 255;
// The error names this many computers at most.
constexpr size_t kMaxNamed = 8;

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  return std::equal(tail.begin(), tail.end(), s.end() - tail.size(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

// A computer name as printable text: the bytes up to the first NUL, anything
// but printable ASCII shown as '?', surrounding blanks dropped.
std::string SlotName(const uint8_t* bytes) {
  std::string name;
  for (size_t i = 0; i < kNameSize && bytes[i] != 0; ++i)
    name.push_back(bytes[i] >= 0x20 && bytes[i] < 0x7f ? char(bytes[i]) : '?');
  while (!name.empty() && name.back() == ' ') name.pop_back();
  size_t start = name.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : name.substr(start);
}

std::vector<std::string> SlotComputers(int fd) {
  std::vector<uint8_t> bytes(kSlotSize * kMaxSlots);
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, off_t(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  std::vector<std::string> names;
  for (size_t at = 0; at + kSlotSize <= got && names.size() < kMaxNamed; at += kSlotSize) {
    std::string name = SlotName(bytes.data() + at);
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
      names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

std::string AccessLockFilePath(const std::string& database_path) {
  const size_t slash = database_path.find_last_of('/');
  const size_t dot = database_path.find_last_of('.');
  const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string stem = has_extension ? database_path.substr(0, dot) : database_path;
  return stem + (EndsWithNoCase(database_path, ".accdb") ? ".laccdb" : ".ldb");
}

AccessLockState ReadAccessLockState(const std::string& database_path) {
  AccessLockState state;
  state.lock_path = AccessLockFilePath(database_path);
  int fd = ::open(state.lock_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return state;  // no lock file (or none we may read): nobody we can see
  // Asks whether a write lock over the whole file could be taken: any lock
  // another program holds on any byte of it (Access locks bytes far past the
  // end of the file, which a length of 0, "to infinity", covers) says no.
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;
  if (::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) {
    state.held = true;
    state.computers = SlotComputers(fd);
  }
  ::close(fd);
  return state;
}

void RefuseWhenOpenInAccess(const std::string& database_path) {
  AccessLockState state = ReadAccessLockState(database_path);
  if (!state.held) return;
  std::string message = "cannot write to " + database_path +
                        ": it is open in another program (its lock file " + state.lock_path +
                        " is held)";
  if (!state.computers.empty()) {
    message += "; open on ";
    for (size_t i = 0; i < state.computers.size(); ++i)
      message += (i ? ", " : "") + state.computers[i];
  }
  throw Error(kErrFileLocked, message);
}

}  // namespace corvalin::engine
