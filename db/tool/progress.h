// The progress line of a long command: a percentage and rows per second on
// standard error, redrawn in place at most four times a second, and only
// when standard error is a terminal. Anything else the command writes to
// standard error goes through message(), which clears the line first, so a
// message never lands in the middle of it. Off a terminal, messages are
// gathered and written together, at the latest kMessageWait after the first
// of them (at a step) and at finish: a run that refuses every record would
// otherwise spend a third of its time writing one line at a time.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace corvalin::tool {

class Progress {
 public:
  // `total` is the number of rows the run will walk (0 when unknown); the
  // line shows when `out` is a terminal.
  explicit Progress(long total, std::FILE* out = stderr);
  ~Progress() { finish(); }

  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // One row done; redraws when the last drawing is old enough, and writes
  // the messages gathered when the first of them is.
  void step() {
    ++done_;
    if (!pending_.empty() && Clock::now() >= write_by_) write();
    if (enabled_ && Clock::now() >= next_draw_) draw();
  }
  // A line for the user (with its line end).
  void message(const std::string& line);
  // Writes what is gathered and clears the line for good.
  void finish();

  bool enabled() const { return enabled_; }
  // The line as it would be drawn now, for tests.
  std::string text() const;

  static constexpr std::chrono::milliseconds kInterval{250};
  // A message reaches standard error this long after it was made, at most
  // (the saves' own bound before they reach the log), or once this many
  // bytes are gathered.
  static constexpr std::chrono::milliseconds kMessageWait{40};
  static constexpr size_t kMessageBytes = 64 << 10;

 private:
  using Clock = std::chrono::steady_clock;
  void draw();
  void clear();
  void write();

  std::FILE* out_;
  bool enabled_ = false;
  bool drawn_ = false;
  long total_;
  long done_ = 0;
  Clock::time_point start_;
  Clock::time_point next_draw_;
  std::string pending_;  // messages not written yet
  Clock::time_point write_by_;
};

}  // namespace corvalin::tool
