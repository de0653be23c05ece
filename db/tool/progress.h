// The progress line of a long command: a percentage and rows per second on
// standard error, redrawn in place at most four times a second, and only
// when standard error is a terminal. Anything else the command writes to
// standard error goes through message(), which clears the line first, so a
// message never lands in the middle of it.
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

  // One row done; redraws when the last drawing is old enough.
  void step() {
    ++done_;
    if (enabled_ && Clock::now() >= next_draw_) draw();
  }
  // A line for the user (with its line end).
  void message(const std::string& line);
  // Clears the line for good.
  void finish();

  bool enabled() const { return enabled_; }
  // The line as it would be drawn now, for tests.
  std::string text() const;

  static constexpr std::chrono::milliseconds kInterval{250};

 private:
  using Clock = std::chrono::steady_clock;
  void draw();
  void clear();

  std::FILE* out_;
  bool enabled_ = false;
  bool drawn_ = false;
  long total_;
  long done_ = 0;
  Clock::time_point start_;
  Clock::time_point next_draw_;
};

}  // namespace corvalin::tool
