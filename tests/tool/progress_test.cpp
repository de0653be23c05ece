// The progress line of corvalin-db append on a pseudo-terminal: drawn at
// once, redrawn in place only after its interval with the rate, cleared
// before a message and at the end; and silent on anything else.
#include "db/tool/progress.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

namespace corvalin::tool {
namespace {

// A pseudo-terminal: the program's side as a FILE, the other side read
// back as the terminal would see it.
class Terminal {
 public:
  Terminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const int slave = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
    if (slave >= 0) file_ = ::fdopen(slave, "w");
  }
  ~Terminal() {
    if (file_) std::fclose(file_);
    if (master_ >= 0) ::close(master_);
  }
  std::FILE* file() const { return file_; }
  std::string read() {
    std::string out;
    pollfd p{master_, POLLIN, 0};
    char buffer[512];
    while (::poll(&p, 1, 50) > 0) {
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }

 private:
  int master_ = -1;
  std::FILE* file_ = nullptr;
};

TEST(ProgressTest, RedrawsInPlaceOnATerminal) {
  Terminal terminal;
  if (!terminal.file()) GTEST_SKIP() << "no pseudo-terminal";
  Progress progress(200, terminal.file());
  ASSERT_TRUE(progress.enabled());
  EXPECT_EQ(terminal.read(), "\r  0%  0 of 200 rows\033[K");
  // Within the interval, steps draw nothing.
  for (int i = 0; i < 50; ++i) progress.step();
  EXPECT_EQ(terminal.read(), "");
  std::this_thread::sleep_for(Progress::kInterval + std::chrono::milliseconds(20));
  progress.step();
  const std::string redrawn = terminal.read();
  EXPECT_EQ(redrawn.rfind("\r 25%  51 of 200 rows  ", 0), 0u) << redrawn;
  EXPECT_NE(redrawn.find(" rows/s\033[K"), std::string::npos) << redrawn;
  // A message clears the line first (the terminal turns LF into CR LF).
  progress.message("record 52 refused\n");
  EXPECT_EQ(terminal.read(), "\r\033[Krecord 52 refused\r\n");
  progress.step();
  EXPECT_EQ(terminal.read(), "") << "not drawn again at once after a message";
  progress.finish();
  EXPECT_EQ(terminal.read(), "");  // nothing drawn since the message
  progress.step();
  EXPECT_EQ(terminal.read(), "");
}

TEST(ProgressTest, SilentWhenNotATerminal) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    Progress progress(10, file);
    EXPECT_FALSE(progress.enabled());
    for (int i = 0; i < 10; ++i) progress.step();
    progress.message("record 3 refused\n");
  }
  std::rewind(file);
  char buffer[128] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
  std::fclose(file);
  EXPECT_EQ(std::string(buffer, n), "record 3 refused\n");
}

// Off a terminal, messages are gathered: written together at the first
// step after kMessageWait, or at the end, never lost and never reordered.
TEST(ProgressTest, GathersMessagesWhenNotATerminal) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  auto written = [file] {
    std::fflush(file);
    const long size = std::ftell(file);
    std::string out(static_cast<size_t>(size), '\0');
    std::rewind(file);
    const size_t n = std::fread(out.data(), 1, out.size(), file);
    out.resize(n);
    std::fseek(file, 0, SEEK_END);
    return out;
  };
  {
    Progress progress(10, file);
    const auto first = std::chrono::steady_clock::now();
    progress.message("record 1 refused\n");
    progress.step();
    progress.message("record 2 refused\n");
    progress.step();
    // Unless a busy machine held this thread back for the whole wait.
    const bool in_time = std::chrono::steady_clock::now() - first < Progress::kMessageWait;
    if (in_time) EXPECT_EQ(written(), "") << "written before the wait is over";
    std::this_thread::sleep_for(Progress::kMessageWait + std::chrono::milliseconds(10));
    if (in_time) EXPECT_EQ(written(), "") << "written without a step";
    progress.step();
    EXPECT_EQ(written(), "record 1 refused\nrecord 2 refused\n");
    progress.message("record 4 refused\n");
    progress.finish();
    EXPECT_EQ(written(), "record 1 refused\nrecord 2 refused\nrecord 4 refused\n");
    // A burst larger than the buffer is written as it grows.
    const std::string line(1000, 'x');
    for (size_t k = 0; k * line.size() < Progress::kMessageBytes + line.size(); ++k)
      progress.message(line);
    EXPECT_GE(written().size(), Progress::kMessageBytes);
  }
  std::fclose(file);
}

TEST(ProgressTest, LineWithoutATotal) {
  std::FILE* file = std::tmpfile();
  Progress progress(0, file);
  EXPECT_EQ(progress.text(), "0 rows");
  progress.step();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(progress.text().rfind("1 rows  ", 0), 0u) << progress.text();
  std::fclose(file);
}

}  // namespace
}  // namespace corvalin::tool
