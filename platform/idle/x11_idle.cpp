// The X server's idle time (the MIT-SCREEN-SAVER extension), for any X11 desktop: the time since
// the last input, which players also reset while they play.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/idle/source.h"
#include "platform/posix/posix.h"
#include "platform/x11/display.h"

namespace idle {
namespace {

struct X11Idle {
  Display* display = nullptr;
  XScreenSaverInfo* info = nullptr;
  double spellBegan = 0;  // monotonic seconds of the last input before the spell Idle saw
};

X11Idle& X() {
  static X11Idle state;
  return state;
}

// When the last input came, on the monotonic clock. The server counts in milliseconds on the
// same clock; the query's own time makes the answer a little late, never early.
double LastInput() {
  X11Idle& x = X();
  XScreenSaverQueryInfo(x.display, DefaultRootWindow(x.display), x.info);
  return posix::MonotonicSeconds() - static_cast<double>(x.info->idle) / 1000.0;
}

int DisplayLost(Display*) {
  ConnectionLost("the connection to the display was lost");
}

OpenResult Open(std::string& error) {
  X11Idle& x = X();
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') {
    error = "no X display (DISPLAY is not set)";
    return OpenResult::NotThisKind;
  }
  // A display that never answers must not hold the session's watcher for ever.
  constexpr unsigned kConnectSeconds = 5;
  x.display = x11::OpenDisplay(name, kConnectSeconds, error);
  if (x.display == nullptr) return OpenResult::Failed;
  int eventBase = 0, errorBase = 0;
  if (!XScreenSaverQueryExtension(x.display, &eventBase, &errorBase) ||
      (x.info = XScreenSaverAllocInfo()) == nullptr) {
    error =
        std::string("the display '") + name + "' does not tell the idle time (MIT-SCREEN-SAVER)";
    XCloseDisplay(x.display);
    x.display = nullptr;
    return OpenResult::Failed;
  }
  XSetIOErrorHandler(DisplayLost);
  return OpenResult::Opened;
}

// One watcher per X server and user, whichever way the display is spelled.
Claim ClaimWatcher() {
  X11Idle& x = X();
  const x11::SelectionClaim answer = x11::ClaimSelection(
      x.display, DefaultRootWindow(x.display), "_QUIETGLASS_IDLE_" + std::to_string(getuid()));
  // A watcher that cannot tell leaves the session to the one that may be there.
  return answer == x11::SelectionClaim::Mine ? Claim::Mine : Claim::Taken;
}

// Reads what the server sent (nothing is asked for, but a lost connection shows here).
void Drain() {
  X11Idle& x = X();
  while (XPending(x.display) > 0) {
    XEvent event;
    XNextEvent(x.display, &event);
  }
}

Wake Wait(Goal goal, double idleSeconds, double maxSeconds, int wakeFd) {
  X11Idle& x = X();
  const double deadline = posix::MonotonicSeconds() + maxSeconds;
  if (goal == Goal::ReturnFromNow) {
    x.spellBegan = posix::MonotonicSeconds();
    goal = Goal::Return;
  }
  for (;;) {
    // The server has no event for either end of a spell of our length: the idle time is asked
    // for when it could first have reached the goal, and a return is looked for once a second.
    double sleep = -1;
    if (goal != Goal::Nothing) {
      const double lastInput = LastInput();
      const double now = posix::MonotonicSeconds();
      if (goal == Goal::Idle && now - lastInput >= idleSeconds) {
        x.spellBegan = lastInput;
        return Wake::Reached;
      }
      // A tenth of a second covers the rounding to milliseconds and the query's own time.
      if (goal == Goal::Return && lastInput > x.spellBegan + 0.1) return Wake::Reached;
      sleep = goal == Goal::Idle ? idleSeconds - (now - lastInput) : 1.0;
    }
    if (maxSeconds >= 0) {
      const double left = deadline - posix::MonotonicSeconds();
      if (left <= 0) return Wake::TimedOut;
      sleep = sleep < 0 ? left : std::min(sleep, left);
    }
    pollfd fds[] = {{ConnectionNumber(x.display), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int ms = sleep < 0 ? -1 : static_cast<int>(std::ceil(sleep * 1000));
    if (poll(fds, 2, ms) < 0 && errno != EINTR) ConnectionLost("cannot wait for the display");
    if (fds[0].revents != 0) Drain();
    if (fds[1].revents != 0) return Wake::Woken;
  }
}

// Players reset the server's idle time while they play, so the idle time already honours them.
bool Inhibited() {
  return false;
}

}  // namespace

const Source kX11Source = {
    .name = "x11",
    .Open = Open,
    .ClaimWatcher = ClaimWatcher,
    .Wait = Wait,
    .Inhibited = Inhibited,
};

}  // namespace idle
