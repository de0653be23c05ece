#include "db/tool/progress.h"

#include <unistd.h>

namespace corvalin::tool {

Progress::Progress(long total, std::FILE* out)
    : out_(out), enabled_(::isatty(::fileno(out)) == 1), total_(total),
      start_(Clock::now()), next_draw_(start_ + kInterval) {
  // Drawn at once, so that even a short run shows what it is doing.
  if (enabled_) draw();
}

std::string Progress::text() const {
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  char line[96];
  int n;
  if (total_ > 0) {
    const long percent = static_cast<long>(100.0 * static_cast<double>(done_) / total_);
    n = std::snprintf(line, sizeof line, "%3ld%%  %ld of %ld rows", percent, done_, total_);
  } else {
    n = std::snprintf(line, sizeof line, "%ld rows", done_);
  }
  // No rate before there is one to speak of.
  if (done_ > 0 && seconds > 0 && n > 0 && n < static_cast<int>(sizeof line))
    std::snprintf(line + n, sizeof line - n, "  %.0f rows/s", done_ / seconds);
  return line;
}

void Progress::draw() {
  // Carriage return, the line, then erase what a longer earlier line left.
  std::fprintf(out_, "\r%s\033[K", text().c_str());
  std::fflush(out_);
  drawn_ = true;
  next_draw_ = Clock::now() + kInterval;
}

void Progress::clear() {
  if (!drawn_) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  drawn_ = false;
}

void Progress::message(const std::string& line) {
  if (enabled_) {
    clear();
    std::fputs(line.c_str(), out_);
    // The line comes back at the next step, not at once: a burst of
    // messages does not redraw it between each.
    next_draw_ = Clock::now() + kInterval;
    return;
  }
  if (pending_.empty()) write_by_ = Clock::now() + kMessageWait;
  pending_ += line;
  if (pending_.size() >= kMessageBytes) write();
}

void Progress::write() {
  std::fwrite(pending_.data(), 1, pending_.size(), out_);
  std::fflush(out_);
  pending_.clear();
}

void Progress::finish() {
  if (!pending_.empty()) write();
  clear();
  enabled_ = false;
}

}  // namespace corvalin::tool
