#include "ui/page2/run_yields.h"

#include <QAbstractEventDispatcher>

#ifdef CORVALIN_HAVE_GLIB
#include <glib.h>
#endif

namespace corvalin {
namespace {

// The runs under way, and the loop's own poll while they are. Only the
// user-interface thread, which owns the default main context, touches them.
int runs = 0;

#ifdef CORVALIN_HAVE_GLIB
GPollFunc loop_poll = nullptr;
std::chrono::steady_clock::time_point last_poll;

gint PollNowAndThen(GPollFD* fds, guint count, gint timeout) {
  if (timeout == 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_poll < RunYields::kPollEvery) {
      for (guint i = 0; i < count; ++i) fds[i].revents = 0;
      return 0;
    }
    last_poll = now;
  }
  return loop_poll(fds, count, timeout);
}

// Qt runs the user-interface thread's events on GLib's default context
// when its dispatcher is GLib's (unless QT_NO_GLIB said otherwise).
bool OnGlibLoop() {
  const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  return dispatcher && dispatcher->inherits("QEventDispatcherGlib");
}
#endif

}  // namespace

RunYields::RunYields() {
#ifdef CORVALIN_HAVE_GLIB
  if (runs == 0) {
    if (!OnGlibLoop()) return;
    GMainContext* context = g_main_context_default();
    loop_poll = g_main_context_get_poll_func(context);
    last_poll = {};
    g_main_context_set_poll_func(context, PollNowAndThen);
  }
  ++runs;
  counted_ = true;
#endif
}

RunYields::~RunYields() {
#ifdef CORVALIN_HAVE_GLIB
  if (!counted_ || --runs > 0) return;
  g_main_context_set_poll_func(g_main_context_default(), loop_poll);
  loop_poll = nullptr;
#endif
}

bool RunYields::active() { return runs > 0; }

}  // namespace corvalin
