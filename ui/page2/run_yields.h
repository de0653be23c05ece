// The once-per-record yield of an append run, kept cheap.
//
// Each yield lets the window system process what is pending. Under GLib's
// main loop (Qt's on Linux), even a pass that may not wait asks the kernel
// whether a descriptor is ready: a poll() for every record, which on a
// virtual machine cost 3 us a record with what it does to the work after
// it, a quarter of the window's run. What Qt queues for the user-interface
// thread is found without asking the kernel, as its sources look at
// memory: posted events and repaints, the window system's events its
// reader thread has queued, timers. Only a descriptor watched on this
// thread itself (a socket notifier) needs the poll.
//
// While a RunYields lives, a pass that may not wait polls the descriptors
// only when kPollEvery has passed since the last time it did; in between
// it finds none ready, and everything queued is still handled at once. A
// pass that waits (an idle event loop, a message box) always polls. Without
// GLib's loop it changes nothing. Instances may nest: the outermost one
// puts the loop back as it was.
#pragma once

#include <chrono>

namespace corvalin {

class RunYields {
 public:
  static constexpr std::chrono::microseconds kPollEvery{1000};

  RunYields();
  ~RunYields();
  RunYields(const RunYields&) = delete;
  RunYields& operator=(const RunYields&) = delete;

  // Whether the yields of this process poll less often now.
  static bool active();

 private:
  bool counted_ = false;  // one of the runs under way
};

}  // namespace corvalin
