// The idle watcher's common part: the choice of the desktop's idle source, the signals that end
// the watcher, and the saver run as a child process of the same executable.
#include <signal.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/idle.h"
#include "platform/idle/source.h"
#include "platform/posix/posix.h"

extern char** environ;

namespace idle {
namespace {

struct WatchState {
  const Source* source = nullptr;
  int signals = -1;  // signalfd of the signals below; they are blocked otherwise
  pid_t saver = -1;  // the running saver, -1 when none
};

// The sources built into this program, in the order they are tried. GNOME first: its idle
// monitor goes with the session's inhibitors, which its compositor and its X server do not know.
const Source* const kSources[] = {
#ifdef QG_IDLE_GNOME
    &kGnomeSource,
#endif
#ifdef QG_IDLE_WAYLAND
    &kWaylandSource,
#endif
    &kX11Source,
};

WatchState& W() {
  static WatchState state;
  return state;
}

// The ends of a session (a terminal's hang-up too), and the saver's end.
sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) sigaddset(&set, signal);
  return set;
}

// Ends the saver: SIGTERM and a moment to go, then SIGKILL.
void EndSaver() {
  WatchState& w = W();
  if (w.saver <= 0) return;
  kill(w.saver, SIGTERM);
  const double deadline = posix::MonotonicSeconds() + 2;
  while (waitpid(w.saver, nullptr, WNOHANG) == 0) {
    if (posix::MonotonicSeconds() > deadline) {
      kill(w.saver, SIGKILL);
      waitpid(w.saver, nullptr, 0);
      break;
    }
    usleep(20000);
  }
  w.saver = -1;
}

// Ends the watcher as the signal would have, so that its parent sees why it ended.
[[noreturn]] void EndBySignal(int signal) {
  EndSaver();
  ::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  _exit(128 + signal);  // only if the signal did not end it
}

// Reads the signals that arrived: an end of the session ends the watcher; the saver's end is
// noted. True when the saver ended.
bool TakeSignals() {
  WatchState& w = W();
  bool saverEnded = false;
  signalfd_siginfo info{};
  while (read(w.signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (info.ssi_signo != SIGCHLD) EndBySignal(static_cast<int>(info.ssi_signo));
    saverEnded = true;
  }
  return saverEnded;
}

// Waits for `goal`, reading the signals that come meanwhile.
Wake WaitFor(Goal goal, double idleSeconds, double maxSeconds) {
  WatchState& w = W();
  const double deadline = posix::MonotonicSeconds() + maxSeconds;
  for (;;) {
    const double left = maxSeconds < 0 ? -1 : deadline - posix::MonotonicSeconds();
    if (maxSeconds >= 0 && left <= 0) return Wake::TimedOut;
    const Wake wake = w.source->Wait(goal, idleSeconds, left, w.signals);
    if (wake != Wake::Woken) return wake;
    TakeSignals();
    if (goal == Goal::ReturnFromNow) goal = Goal::Return;  // "now" was when the wait began
  }
}

}  // namespace

Claim ClaimName(const std::string& name) {
  return posix::ClaimAbstractName(name) == posix::NameClaim::Mine ? Claim::Mine : Claim::Taken;
}

void ConnectionLost(const std::string& what) {
  std::fprintf(stderr, "quietglass: %s\n", what.c_str());
  EndSaver();
  _exit(1);
}

}  // namespace idle

namespace rt {

bool OpenIdleWatch(std::string& error) {
  using namespace idle;
  WatchState& w = W();
  posix::OpenStandardDescriptors();
  for (const Source* source : kSources) {
    std::string why;
    const OpenResult result = source->Open(why);
    if (result == OpenResult::NotThisKind) continue;
    if (result == OpenResult::Failed) {
      error = why;
      return false;
    }
    w.source = source;
    break;
  }
  if (w.source == nullptr) {
    error =
        "no way to know how long the user has been away: no GNOME session, no Wayland "
        "compositor with idle notifications and no X display";
    return false;
  }
  const sigset_t set = WatchedSignals();
  sigprocmask(SIG_BLOCK, &set, nullptr);
  w.signals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (w.signals < 0) {
    error = std::string("cannot watch for signals: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool ClaimIdleWatch() {
  return idle::W().source->ClaimWatcher() == idle::Claim::Mine;
}

void WaitUntilIdle(double seconds) {
  idle::WaitFor(idle::Goal::Idle, seconds, -1);
}

bool WaitForReturn(bool sinceNow, double maxSeconds) {
  const idle::Goal goal = sinceNow ? idle::Goal::ReturnFromNow : idle::Goal::Return;
  return idle::WaitFor(goal, 0, maxSeconds) == idle::Wake::Reached;
}

bool IdleInhibited() {
  return idle::W().source->Inhibited();
}

int RunSaver() {
  using namespace idle;
  WatchState& w = W();
  // The saver starts with the signals as a fresh process has them: none blocked, none ignored.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults = WatchedSignals();
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char program[] = "quietglass", saverSwitch[] = "/s";
  char* argv[] = {program, saverSwitch, nullptr};
  // This very executable, even when its file has been replaced or removed since it started.
  const int failed = posix_spawn(&w.saver, "/proc/self/exe", nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    w.saver = -1;
    std::fprintf(stderr, "quietglass: cannot start the saver: %s\n", std::strerror(failed));
    return 1;
  }
  for (;;) {
    if (w.source->Wait(Goal::Nothing, 0, -1, w.signals) != Wake::Woken || !TakeSignals()) continue;
    int status = 0;
    if (waitpid(w.saver, &status, WNOHANG) != w.saver) continue;
    w.saver = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
}

}  // namespace rt
