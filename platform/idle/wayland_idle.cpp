// A Wayland compositor's idle notifications: ext-idle-notify-v1 where it is offered, otherwise
// KDE's org_kde_kwin_idle (KWin, and wlroots compositors such as sway 1.7). Both already hold
// back while an application inhibits idle.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"
#include "platform/idle/source.h"
#include "platform/posix/posix.h"

namespace idle {
namespace {

struct WaylandIdle {
  wl_display* display = nullptr;
  wl_seat* seat = nullptr;
  ext_idle_notifier_v1* notifier = nullptr;
  org_kde_kwin_idle* kdeIdle = nullptr;
  ext_idle_notification_v1* notification = nullptr;  // one of these two, made at the first wait
  org_kde_kwin_idle_timeout* kdeTimeout = nullptr;
  bool idle = false;      // between an idle event and the next resumed
  bool returned = false;  // a resumed event since the spell the last Idle wait saw
};

WaylandIdle& S() {
  static WaylandIdle state;
  return state;
}

void Idled() {
  S().idle = true;
}
void Resumed() {
  S().idle = false;
  S().returned = true;
}

const ext_idle_notification_v1_listener kNotificationListener = {
    .idled = [](void*, ext_idle_notification_v1*) { Idled(); },
    .resumed = [](void*, ext_idle_notification_v1*) { Resumed(); },
};
const org_kde_kwin_idle_timeout_listener kKdeTimeoutListener = {
    .idle = [](void*, org_kde_kwin_idle_timeout*) { Idled(); },
    .resumed = [](void*, org_kde_kwin_idle_timeout*) { Resumed(); },
};

void Global(void*, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t) {
  WaylandIdle& s = S();
  const auto bind = [&](const wl_interface& kind) {
    return wl_registry_bind(registry, name, &kind, 1);
  };
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && s.seat == nullptr)
    s.seat = static_cast<wl_seat*>(bind(wl_seat_interface));
  else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0)
    s.notifier = static_cast<ext_idle_notifier_v1*>(bind(ext_idle_notifier_v1_interface));
  else if (std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0)
    s.kdeIdle = static_cast<org_kde_kwin_idle*>(bind(org_kde_kwin_idle_interface));
}
void GlobalRemoved(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistryListener = {.global = Global, .global_remove = GlobalRemoved};

OpenResult Open(std::string& error) {
  WaylandIdle& s = S();
  const char* named = std::getenv("WAYLAND_DISPLAY");
  if ((named == nullptr || *named == '\0') && std::getenv("WAYLAND_SOCKET") == nullptr &&
      access(posix::WaylandSocketPath().c_str(), F_OK) != 0) {
    error = "no Wayland compositor (WAYLAND_DISPLAY is not set)";
    return OpenResult::NotThisKind;
  }
  const std::string shown = std::string("the Wayland compositor '") +
                            (named != nullptr && *named != '\0' ? named : "wayland-0") + "'";
  s.display = wl_display_connect(nullptr);
  if (s.display == nullptr) {
    error = "cannot connect to " + shown + ": " + std::strerror(errno);
    return OpenResult::Failed;
  }
  wl_registry_add_listener(wl_display_get_registry(s.display), &kRegistryListener, nullptr);
  if (wl_display_roundtrip(s.display) < 0) {
    error = shown + " closed the connection";
    return OpenResult::Failed;
  }
  // Its X server (XWayland) sees only the input that goes to X windows: not a way to know.
  if (s.seat == nullptr || (s.notifier == nullptr && s.kdeIdle == nullptr)) {
    error = shown + " tells no idle time (neither ext-idle-notify-v1 nor org_kde_kwin_idle)";
    return OpenResult::Failed;
  }
  return OpenResult::Opened;
}

// One watcher per user and compositor, however WAYLAND_DISPLAY names it.
Claim ClaimWatcher() {
  return ClaimName("quietglass-idle-" + std::to_string(getuid()) + "-" +
                   posix::WaylandCompositorId());
}

// The compositor counts from the moment the object is made; TIME never changes, so one object
// serves the watcher's whole life.
void Watch(double idleSeconds) {
  WaylandIdle& s = S();
  if (s.notification != nullptr || s.kdeTimeout != nullptr) return;
  const auto ms = static_cast<std::uint32_t>(std::lround(idleSeconds * 1000));
  if (s.notifier != nullptr) {
    s.notification = ext_idle_notifier_v1_get_idle_notification(s.notifier, ms, s.seat);
    ext_idle_notification_v1_add_listener(s.notification, &kNotificationListener, nullptr);
  } else {
    s.kdeTimeout = org_kde_kwin_idle_get_idle_timeout(s.kdeIdle, s.seat, ms);
    org_kde_kwin_idle_timeout_add_listener(s.kdeTimeout, &kKdeTimeoutListener, nullptr);
  }
}

void Lost() {
  ConnectionLost("the connection to the Wayland compositor was lost");
}

Wake Wait(Goal goal, double idleSeconds, double maxSeconds, int wakeFd) {
  WaylandIdle& s = S();
  if (goal == Goal::Idle) Watch(idleSeconds);
  // From now on: after a saver that could not start the notification is still idle, and its
  // next resumed event is the user's.
  if (goal == Goal::ReturnFromNow) s.returned = false;
  const double deadline = posix::MonotonicSeconds() + maxSeconds;
  for (;;) {
    while (wl_display_prepare_read(s.display) != 0)
      if (wl_display_dispatch_pending(s.display) < 0) Lost();
    const bool reached = (goal == Goal::Idle && s.idle) ||
                         ((goal == Goal::Return || goal == Goal::ReturnFromNow) && s.returned);
    const double left = maxSeconds < 0 ? -1 : deadline - posix::MonotonicSeconds();
    if (reached || (maxSeconds >= 0 && left <= 0)) {
      wl_display_cancel_read(s.display);
      if (reached && goal == Goal::Idle) s.returned = false;
      return reached ? Wake::Reached : Wake::TimedOut;
    }
    while (wl_display_flush(s.display) < 0 && errno == EAGAIN)
      posix::PollFor(wl_display_get_fd(s.display), POLLOUT, -1);
    pollfd fds[] = {{wl_display_get_fd(s.display), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int ms = left < 0 ? -1 : static_cast<int>(std::ceil(left * 1000));
    if (poll(fds, 2, ms) < 0 && errno != EINTR) Lost();
    if (fds[0].revents != 0) {
      if (wl_display_read_events(s.display) < 0) Lost();
    } else {
      wl_display_cancel_read(s.display);
    }
    if (wl_display_dispatch_pending(s.display) < 0) Lost();
    if (fds[1].revents != 0) return Wake::Woken;
  }
}

bool Inhibited() {
  return false;  // the compositor sends no idle event while an application inhibits
}

}  // namespace

const Source kWaylandSource = {
    .name = "wayland",
    .Open = Open,
    .ClaimWatcher = ClaimWatcher,
    .Wait = Wait,
    .Inhibited = Inhibited,
};

}  // namespace idle
