// The Wayland host's connection: the registry's globals, start-up, the single-copy socket, the
// wait for the compositor's events, and the host's table of entry points.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/posix/posix.h"
#include "platform/wayland/wayland.h"

namespace host::wayland_detail {

WaylandState& S() {
  static WaylandState state;
  return state;
}

void Post(const Event& event) {
  ++S().posted;
  rt::PostEvent(event);
}

[[noreturn]] void ConnectionLost() {
  std::fprintf(stderr, "quietglass: lost the Wayland compositor: %s\n",
               std::strerror(wl_display_get_error(S().display)));
  _exit(1);
}

void FlushConnection() {
  WaylandState& s = S();
  while (wl_display_flush(s.display) < 0) {
    if (errno != EAGAIN) ConnectionLost();
    posix::PollFor(wl_display_get_fd(s.display), POLLOUT, -1);
  }
}

void ReadEvents(double timeoutSeconds, bool anyEvent) {
  WaylandState& s = S();
  const double deadline = posix::MonotonicSeconds() + std::max(0.0, timeoutSeconds);
  const unsigned long posted = s.posted;
  for (;;) {
    // Events libwayland has read already come first; the socket is read only when poll says so.
    while (wl_display_prepare_read(s.display) != 0)
      if (wl_display_dispatch_pending(s.display) < 0) ConnectionLost();
    CheckSaverKeyboardFocus();
    if (s.posted != posted) {
      wl_display_cancel_read(s.display);
      return;
    }
    FlushConnection();
    const double left =
        timeoutSeconds < 0 ? -1 : std::max(0.0, deadline - posix::MonotonicSeconds());
    const bool readable = posix::PollFor(wl_display_get_fd(s.display), POLLIN, left) != 0;
    if (readable) {
      if (wl_display_read_events(s.display) < 0) ConnectionLost();
    } else {
      wl_display_cancel_read(s.display);
    }
    if (wl_display_dispatch_pending(s.display) < 0) ConnectionLost();
    if (s.posted != posted || (anyEvent && readable) ||
        (timeoutSeconds >= 0 && posix::MonotonicSeconds() >= deadline))
      return;
  }
}

namespace {

const xdg_wm_base_listener kWmBaseListener = {
    .ping = [](void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); },
};

template <typename T>
T* Bind(wl_registry* registry, std::uint32_t name, const wl_interface* interface,
        std::uint32_t offered, std::uint32_t wanted) {
  return static_cast<T*>(wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

const wl_registry_listener kRegistryListener = {
    .global =
        [](void*, wl_registry* registry, std::uint32_t name, const char* interface,
           std::uint32_t version) {
          WaylandState& s = S();
          const std::string_view kind = interface;
          if (kind == wl_compositor_interface.name) {
            s.compositor =
                Bind<wl_compositor>(registry, name, &wl_compositor_interface, version, 3);
          } else if (kind == wl_subcompositor_interface.name) {
            s.subcompositor =
                Bind<wl_subcompositor>(registry, name, &wl_subcompositor_interface, version, 1);
          } else if (kind == wl_shm_interface.name) {
            s.shm = Bind<wl_shm>(registry, name, &wl_shm_interface, version, 1);
          } else if (kind == xdg_wm_base_interface.name) {
            s.wmBase = Bind<xdg_wm_base>(registry, name, &xdg_wm_base_interface, version, 1);
            xdg_wm_base_add_listener(s.wmBase, &kWmBaseListener, nullptr);
          } else if (kind == wp_viewporter_interface.name) {
            s.viewporter =
                Bind<wp_viewporter>(registry, name, &wp_viewporter_interface, version, 1);
          } else if (kind == zxdg_decoration_manager_v1_interface.name) {
            s.decorations = Bind<zxdg_decoration_manager_v1>(
                registry, name, &zxdg_decoration_manager_v1_interface, version, 1);
          } else if (kind == zwp_keyboard_shortcuts_inhibit_manager_v1_interface.name) {
            s.shortcutsInhibitManager = Bind<zwp_keyboard_shortcuts_inhibit_manager_v1>(
                registry, name, &zwp_keyboard_shortcuts_inhibit_manager_v1_interface, version, 1);
          } else if (kind == wl_seat_interface.name && s.seat == nullptr) {
            s.seat = Bind<wl_seat>(registry, name, &wl_seat_interface, version, 1);
            AddSeat(s.seat);
          } else if (kind == wl_output_interface.name) {
            AddOutput(registry, name, version);
          } else if (kind == zxdg_output_manager_v1_interface.name) {
            AddOutputManager(registry, name, version);
          }
        },
    .global_remove = [](void*, wl_registry*, std::uint32_t name) { RemoveOutput(name); },
};

// One copy per user and compositor: an abstract socket's name is free again when its process
// ends. The name holds the compositor socket's device and inode, so that every way of naming the
// same compositor gives the same name.
InstanceAnswer BindInstanceSocket() {
  switch (posix::ClaimAbstractName("quietglass-wayland-" + std::to_string(getuid()) + "-" +
                                   posix::WaylandCompositorId())) {
    case posix::NameClaim::Mine:
      return InstanceAnswer::Mine;
    case posix::NameClaim::Taken:
      return InstanceAnswer::Taken;
    case posix::NameClaim::CannotTell:
      break;
  }
  return InstanceAnswer::CannotTell;
}

// A compositor that takes the connection and never answers would hold the start for ever; a
// stopped one that goes on within this time is only slow.
constexpr int kAnswerSeconds = 5;

// Waits until the compositor has handled every request sent so far, handling what it sends
// meanwhile; false when the connection broke or `deadline` passed first.
bool RoundtripBefore(double deadline) {
  WaylandState& s = S();
  static constexpr wl_callback_listener kDone = {
      .done = [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; },
  };
  bool done = false;
  wl_callback* callback = wl_display_sync(s.display);
  wl_callback_add_listener(callback, &kDone, &done);
  const int fd = wl_display_get_fd(s.display);
  bool broken = false;
  while (!done && !broken) {
    while (!broken && wl_display_prepare_read(s.display) != 0)
      broken = wl_display_dispatch_pending(s.display) < 0;
    if (broken) break;
    if (done) {
      wl_display_cancel_read(s.display);
      break;
    }
    const bool full = wl_display_flush(s.display) < 0 && errno == EAGAIN;
    const double left = deadline - posix::MonotonicSeconds();
    const short came = left > 0 ? posix::PollFor(fd, full ? POLLIN | POLLOUT : POLLIN, left) : 0;
    if ((came & ~POLLOUT) != 0) {
      broken = wl_display_read_events(s.display) < 0;
    } else {
      wl_display_cancel_read(s.display);
      if (came == 0) break;  // the deadline
    }
    broken = broken || wl_display_dispatch_pending(s.display) < 0;
  }
  wl_callback_destroy(callback);
  return done;
}

// Lets go of all that a failed start bound, then of the connection.
void Disconnect() {
  WaylandState& s = S();
  DropOutputs();
  if (s.keyboard != nullptr) wl_keyboard_destroy(s.keyboard);
  if (s.pointer != nullptr) wl_pointer_destroy(s.pointer);
  if (s.seat != nullptr) wl_seat_destroy(s.seat);
  if (s.keyState != nullptr) xkb_state_unref(s.keyState);
  if (s.keymap != nullptr) xkb_keymap_unref(s.keymap);
  if (s.xkbContext != nullptr) xkb_context_unref(s.xkbContext);
  if (s.compositor != nullptr) wl_compositor_destroy(s.compositor);
  if (s.subcompositor != nullptr) wl_subcompositor_destroy(s.subcompositor);
  if (s.shm != nullptr) wl_shm_destroy(s.shm);
  if (s.wmBase != nullptr) xdg_wm_base_destroy(s.wmBase);
  if (s.viewporter != nullptr) wp_viewporter_destroy(s.viewporter);
  if (s.decorations != nullptr) zxdg_decoration_manager_v1_destroy(s.decorations);
  if (s.shortcutsInhibitManager != nullptr)
    zwp_keyboard_shortcuts_inhibit_manager_v1_destroy(s.shortcutsInhibitManager);
  wl_registry_destroy(s.registry);
  wl_display_disconnect(s.display);
  s = WaylandState{};
}

StartResult Start(int argc, char** argv, std::string& error) {
  WaylandState& s = S();
  posix::OpenStandardDescriptors();
  s.commandLine = posix::JoinArguments(argc, argv);
  const char* named = std::getenv("WAYLAND_DISPLAY");
  if (named != nullptr && *named == '\0') named = nullptr;
  const bool socketGiven = std::getenv("WAYLAND_SOCKET") != nullptr;
  // Without either variable a wayland-0 socket is only a guess: one left by a compositor that
  // is gone must not keep an X session's saver from X.
  const bool guessed = named == nullptr && !socketGiven;
  if (guessed && access(posix::WaylandSocketPath().c_str(), F_OK) != 0) {
    error = "no Wayland compositor (WAYLAND_DISPLAY is not set)";
    return StartResult::NotThisKind;
  }
  const std::string shown =
      socketGiven
          ? "the Wayland socket WAYLAND_SOCKET=" + std::string(std::getenv("WAYLAND_SOCKET"))
          : "the Wayland compositor '" + std::string(named != nullptr ? named : "wayland-0") + "'";
  s.display = wl_display_connect(named != nullptr ? named : "wayland-0");
  if (s.display == nullptr) {
    error = "cannot connect to " + shown + ": " + std::strerror(errno);
    return guessed ? StartResult::NotThisKind : StartResult::Failed;
  }
  s.registry = wl_display_get_registry(s.display);
  wl_registry_add_listener(s.registry, &kRegistryListener, nullptr);
  // The globals, then what the outputs and the seat say about themselves.
  const double deadline = posix::MonotonicSeconds() + kAnswerSeconds;
  const bool answered = RoundtripBefore(deadline) && RoundtripBefore(deadline);
  const char* missing = !answered                    ? nullptr
                        : s.compositor == nullptr    ? "wl_compositor"
                        : s.subcompositor == nullptr ? "wl_subcompositor"
                        : s.shm == nullptr           ? "wl_shm"
                        : s.wmBase == nullptr        ? "xdg_wm_base"
                        : ReadyOutputs().empty()     ? "output"
                                                     : nullptr;
  if (answered && missing == nullptr) return StartResult::Started;
  if (answered)
    error = shown + " has no " + missing;
  else if (wl_display_get_error(s.display) != 0)
    error = shown + " closed the connection";
  else
    error = shown + " does not answer within " + std::to_string(kAnswerSeconds) + " seconds";
  Disconnect();
  return StartResult::Failed;
}

std::string CommandLineText() {
  return S().commandLine;
}

InstanceAnswer ClaimInstance() {
  return BindInstanceSocket();
}

void EndProcess(int status) {
  if (S().display != nullptr) wl_display_flush(S().display);
  _exit(status);  // the compositor drops our surfaces with the connection
}

double MonotonicSeconds() {
  return posix::MonotonicSeconds();
}

double ClockSeconds() {
  return posix::LocalSecondsSinceMidnight();
}

void Wait(double timeoutSeconds) {
  ReadEvents(timeoutSeconds);
}

}  // namespace
}  // namespace host::wayland_detail

namespace wd = host::wayland_detail;
const host::Host host::kWaylandHost = {
    .name = "wayland",
    .Start = wd::Start,
    .CommandLineText = wd::CommandLineText,
    .ClaimInstance = wd::ClaimInstance,
    .EndProcess = wd::EndProcess,
    .Monitors = wd::Monitors,
    .MonotonicSeconds = wd::MonotonicSeconds,
    .ClockSeconds = wd::ClockSeconds,
    .MoveCursor = wd::MoveCursor,
    .FrameFor = wd::FrameFor,
    .CreateWindow = wd::CreateWindow,
    .Present = wd::Present,
    .Fill = wd::Fill,
    .Flush = wd::Flush,
    .Wait = wd::Wait,
};
