// GNOME's idle monitor on the session bus (org.gnome.Mutter.IdleMonitor, on Wayland and on X11),
// and its session manager's inhibitors: GNOME's compositor does not know of the applications
// that ask the session to keep the screen on.
#include <poll.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-id128.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/idle/source.h"
#include "platform/posix/posix.h"

namespace idle {
namespace {

constexpr char kMonitor[] = "org.gnome.Mutter.IdleMonitor";
constexpr char kMonitorPath[] = "/org/gnome/Mutter/IdleMonitor/Core";

struct GnomeIdle {
  sd_bus* bus = nullptr;
  std::uint32_t idleWatch = 0;    // fires each time the idle time passes TIME
  std::uint32_t activeWatch = 0;  // fires once, at the next input; 0 when none is set
  bool idleFired = false;
  bool returned = false;  // the active watch fired since the spell the last Idle wait saw
};

GnomeIdle& G() {
  static GnomeIdle state;
  return state;
}

[[noreturn]] void Lost() {
  ConnectionLost("the connection to the session bus was lost");
}

// A method of the idle monitor; false when it failed. `reply` is freed by the caller.
bool CallMonitor(const char* method, sd_bus_message** reply, const char* types = nullptr,
                 std::uint64_t argument = 0) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  const int result =
      types == nullptr
          ? sd_bus_call_method(G().bus, kMonitor, kMonitorPath, kMonitor, method, &error, reply, "")
          : sd_bus_call_method(G().bus, kMonitor, kMonitorPath, kMonitor, method, &error, reply,
                               types, argument);
  sd_bus_error_free(&error);
  if (result == -ECONNRESET || result == -ENOTCONN) Lost();
  return result >= 0;
}

std::uint32_t AddWatch(const char* method, const char* types = nullptr, std::uint64_t ms = 0) {
  sd_bus_message* reply = nullptr;
  std::uint32_t id = 0;
  if (CallMonitor(method, &reply, types, ms)) sd_bus_message_read(reply, "u", &id);
  sd_bus_message_unref(reply);
  if (id == 0) ConnectionLost("GNOME's idle monitor refused a watch");
  return id;
}

std::uint64_t IdleMilliseconds() {
  sd_bus_message* reply = nullptr;
  std::uint64_t ms = 0;
  if (!CallMonitor("GetIdletime", &reply) || sd_bus_message_read(reply, "t", &ms) < 0)
    ConnectionLost("GNOME's idle monitor does not tell the idle time");
  sd_bus_message_unref(reply);
  return ms;
}

int WatchFired(sd_bus_message* message, void*, sd_bus_error*) {
  GnomeIdle& g = G();
  std::uint32_t id = 0;
  if (sd_bus_message_read(message, "u", &id) < 0) return 0;
  if (id == g.idleWatch) g.idleFired = true;
  if (id == g.activeWatch && id != 0) {
    g.activeWatch = 0;  // an active watch fires once
    g.returned = true;
  }
  return 0;
}

// The compositor that owns the monitor has left: the session is over.
int OwnerChanged(sd_bus_message* message, void*, sd_bus_error*) {
  const char *name = nullptr, *before = nullptr, *after = nullptr;
  if (sd_bus_message_read(message, "sss", &name, &before, &after) >= 0 && name != nullptr &&
      std::strcmp(name, kMonitor) == 0 && after != nullptr && *after == '\0')
    ConnectionLost("GNOME's idle monitor left the session");
  return 0;
}

// The session bus may be shared by every session of the user (systemd's user bus): a GNOME
// session elsewhere says nothing of this one.
bool InGnome() {
  const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
  if (desktops == nullptr) return false;
  const std::string list = std::string(":") + desktops + ":";
  return list.find(":GNOME:") != std::string::npos;
}

OpenResult Open(std::string& error) {
  GnomeIdle& g = G();
  if (!InGnome()) {
    error = "not a GNOME session (XDG_CURRENT_DESKTOP)";
    return OpenResult::NotThisKind;
  }
  if (sd_bus_open_user(&g.bus) < 0) {
    error = "no session bus";
    g.bus = nullptr;
    return OpenResult::NotThisKind;
  }
  sd_bus_error failure = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int owned = 0;
  const int result =
      sd_bus_call_method(g.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "NameHasOwner", &failure, &reply, "s", kMonitor);
  if (result >= 0) sd_bus_message_read(reply, "b", &owned);
  sd_bus_message_unref(reply);
  sd_bus_error_free(&failure);
  if (!owned) {
    error = "no GNOME idle monitor on the session bus";
    g.bus = sd_bus_flush_close_unref(g.bus);
    return OpenResult::NotThisKind;
  }
  // Mutter sends its WatchFired to the watch's owner only, from its own unique name.
  if (sd_bus_match_signal(g.bus, nullptr, nullptr, kMonitorPath, kMonitor, "WatchFired", WatchFired,
                          nullptr) < 0 ||
      sd_bus_add_match(g.bus, nullptr,
                       "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',"
                       "arg0='org.gnome.Mutter.IdleMonitor'",
                       OwnerChanged, nullptr) < 0) {
    error = "cannot listen to GNOME's idle monitor";
    return OpenResult::Failed;
  }
  return OpenResult::Opened;
}

// One watcher per user and session bus.
Claim ClaimWatcher() {
  sd_id128_t id{};
  char text[SD_ID128_STRING_MAX] = "";
  if (sd_bus_get_bus_id(G().bus, &id) >= 0) sd_id128_to_string(id, text);
  return ClaimName("quietglass-idle-" + std::to_string(getuid()) + "-bus-" + text);
}

// Handles everything the bus has sent.
void Process() {
  for (;;) {
    const int result = sd_bus_process(G().bus, nullptr);
    if (result < 0) Lost();
    if (result == 0) return;
  }
}

Wake Wait(Goal goal, double idleSeconds, double maxSeconds, int wakeFd) {
  GnomeIdle& g = G();
  const auto idleMs = static_cast<std::uint64_t>(std::llround(idleSeconds * 1000));
  bool askIdle = goal == Goal::Idle;  // the idle time is asked for at first and at each firing
  if (goal == Goal::Idle && g.idleWatch == 0) g.idleWatch = AddWatch("AddIdleWatch", "t", idleMs);
  if (goal == Goal::ReturnFromNow) {
    g.returned = false;
    if (g.activeWatch == 0) g.activeWatch = AddWatch("AddUserActiveWatch");
  }
  const double deadline = posix::MonotonicSeconds() + maxSeconds;
  for (;;) {
    Process();
    if (goal == Goal::Idle && (askIdle || g.idleFired)) {
      askIdle = g.idleFired = false;
      if (IdleMilliseconds() >= idleMs) {
        g.returned = false;
        if (g.activeWatch == 0) g.activeWatch = AddWatch("AddUserActiveWatch");
        return Wake::Reached;
      }
      continue;  // the calls may have brought signals
    }
    if ((goal == Goal::Return || goal == Goal::ReturnFromNow) && g.returned) return Wake::Reached;
    double left = maxSeconds < 0 ? -1 : deadline - posix::MonotonicSeconds();
    if (maxSeconds >= 0 && left <= 0) return Wake::TimedOut;
    std::uint64_t busTimeout = UINT64_MAX;  // microseconds on the monotonic clock
    sd_bus_get_timeout(g.bus, &busTimeout);
    if (busTimeout != UINT64_MAX) {
      const double due =
          std::max(0.0, static_cast<double>(busTimeout) / 1e6 - posix::MonotonicSeconds());
      left = left < 0 ? due : std::min(left, due);
    }
    pollfd fds[] = {{sd_bus_get_fd(g.bus), static_cast<short>(sd_bus_get_events(g.bus)), 0},
                    {wakeFd, POLLIN, 0}};
    const int ms = left < 0 ? -1 : static_cast<int>(std::ceil(left * 1000));
    if (poll(fds, 2, ms) < 0 && errno != EINTR) Lost();
    if (fds[1].revents != 0) {
      Process();
      return Wake::Woken;
    }
  }
}

// Inhibitors of idle (flag 8) held through GNOME's session manager, such as a playing video.
// Without a session manager nothing can inhibit.
bool Inhibited() {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int inhibited = 0;
  if (sd_bus_call_method(G().bus, "org.gnome.SessionManager", "/org/gnome/SessionManager",
                         "org.gnome.SessionManager", "IsInhibited", &error, &reply, "u",
                         std::uint32_t{8}) >= 0)
    sd_bus_message_read(reply, "b", &inhibited);
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return inhibited != 0;
}

}  // namespace

const Source kGnomeSource = {
    .name = "gnome",
    .Open = Open,
    .ClaimWatcher = ClaimWatcher,
    .Wait = Wait,
    .Inhibited = Inhibited,
};

}  // namespace idle
