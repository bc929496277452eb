// The idle watcher (quietglass --idle TIME) on Xvfb: XTest input resets the server's idle time,
// and the saver the watcher starts is seen by its full-screen window.
#include <algorithm>
#include <fstream>

#include "tests/x11/x11_harness.h"

namespace x11_e2e {
namespace {

constexpr double kIdle = 1;  // the watcher's TIME in these tests, in seconds
// What leads a watcher to a session bus or a Wayland compositor.
const std::vector<std::string> kOtherSessions = {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR",
                                                 "WAYLAND_DISPLAY", "WAYLAND_SOCKET"};

// The processes `pid` started that still run (the kernel's list of its children).
std::vector<pid_t> ChildrenOf(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::vector<pid_t> children;
  for (pid_t child; file >> child;) children.push_back(child);
  return children;
}

bool Alive(pid_t pid) {
  return kill(pid, 0) == 0;
}

// The savers' windows come and go while the tests look at them: a window gone between the list
// and the look is no error here.
int IgnoreXErrors(Display*, XErrorEvent*) {
  return 0;
}

class X11IdleWatcher : public X11EndToEnd {
 protected:
  Child watcher;

  void SetUp() override {
    XSetErrorHandler(IgnoreXErrors);
    StartServer(640, 480);
  }

  // On the test's server alone: a session bus or a compositor of the caller's would be asked
  // first. Its stderr is read without waiting, so a failing check can show what it said so far.
  void StartWatcher(Child& child, const std::string& time = "1") {
    Spawn(child, {QG_PROGRAM, "--idle", time}, {"DISPLAY=" + server.name}, kOtherSessions);
    fcntl(child.stderrPipe, F_SETFL, O_NONBLOCK);
  }

  // Keeps the user busy for `seconds`: a pointer move four times per TIME; false if a saver
  // window appeared meanwhile.
  bool BusyWithoutSaver(double seconds) {
    const double end = Now() + seconds;
    for (int step = 0; Now() < end; ++step) {
      MovePointer(100 + step % 2, 100);
      if (WaitFor([&] { return SaverWindowMapped(); }, kIdle / 4)) return false;
    }
    return true;
  }
};

TEST_F(X11IdleWatcher, StartsAfterTheIdleTimeInputEndsTheSaverNotTheWatcherAndItComesBack) {
  MovePointer(1, 1);  // the server counts its idle time from its start
  StartWatcher(watcher);
  const double started = Now();
  ASSERT_TRUE(WaitFor([&] { return SaverWindowMapped(); }, kIdle + 5)) << watcher.Stderr();
  EXPECT_GE(Now() - started, kIdle - 0.2) << "the saver came before the idle time";

  PressKey(XK_space);
  ASSERT_TRUE(WaitFor([&] { return !SaverWindowMapped(); }, 5)) << "a key did not end the saver";
  EXPECT_TRUE(watcher.Running()) << watcher.Stderr();

  const double ended = Now();
  ASSERT_TRUE(WaitFor([&] { return SaverWindowMapped(); }, kIdle + 5))
      << "no saver after the next idle spell";
  EXPECT_GE(Now() - ended, kIdle - 0.5);
  PressKey(XK_space);
  ASSERT_TRUE(WaitFor([&] { return !SaverWindowMapped(); }, 5));

  EXPECT_TRUE(BusyWithoutSaver(3 * kIdle)) << "the saver started while the user was busy";

  // SIGTERM while the saver runs ends both.
  ASSERT_TRUE(WaitFor([&] { return SaverWindowMapped(); }, kIdle + 5));
  const std::vector<pid_t> savers = ChildrenOf(watcher.pid);
  ASSERT_EQ(savers.size(), 1u);
  kill(watcher.pid, SIGTERM);
  ASSERT_TRUE(watcher.WaitExit(5));
  EXPECT_TRUE(WIFSIGNALED(*watcher.status) && WTERMSIG(*watcher.status) == SIGTERM)
      << "status " << *watcher.status;
  EXPECT_TRUE(WaitFor([&] { return !Alive(savers[0]); }, 5)) << "the saver outlived the watcher";
  EXPECT_TRUE(WaitFor([&] { return !SaverWindowMapped(); }, 5));
}

TEST_F(X11IdleWatcher, APlayingVideoKeepsItAwayAndASecondWatcherEndsAtOnce) {
  StartWatcher(watcher);
  // The first has taken the session's watcher selection before the second starts.
  const Atom claim =
      XInternAtom(server.display, ("_QUIETGLASS_IDLE_" + std::to_string(getuid())).c_str(), False);
  ASSERT_TRUE(WaitFor([&] { return XGetSelectionOwner(server.display, claim) != None; }, 10));
  Child second;
  StartWatcher(second);
  ASSERT_TRUE(second.WaitExit(10));
  ExpectEndedWithStatus0(second);
  EXPECT_EQ(second.Stderr(), "");

  // A player resets the server's idle time, more often than TIME, while it plays.
  const double end = Now() + 3 * kIdle;
  bool saverSeen = false;
  while (Now() < end && !saverSeen) {
    XResetScreenSaver(server.display);
    XSync(server.display, False);
    saverSeen = WaitFor([&] { return SaverWindowMapped(); }, kIdle / 3);
  }
  EXPECT_FALSE(saverSeen) << "the saver started while a video played";
  EXPECT_TRUE(WaitFor([&] { return SaverWindowMapped(); }, kIdle + 5))
      << "no saver once the video stopped";
  EXPECT_TRUE(watcher.Running());
}

TEST_F(X11IdleWatcher, ASaverThatCannotStartIsNotTriedAgainBeforeTheUserIsBack) {
  // Another screen (a locker, say) holds the keyboard: the saver cannot take it and ends.
  Display* d = server.display;
  ASSERT_EQ(
      XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime),
      GrabSuccess);
  XSync(d, False);
  StartWatcher(watcher, "1");
  const auto failedStarts = [&] {
    std::string text = watcher.Stderr();
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find("holds the keyboard", at)) != std::string::npos; ++at)
      ++count;
    return count;
  };
  std::size_t failed = 0;
  WaitFor([&] { return (failed += failedStarts()) > 0; }, 10);
  ASSERT_EQ(failed, 1u) << "the saver did not try once";
  WaitFor([&] { return (failed += failedStarts()) > 1; }, 6);
  EXPECT_EQ(failed, 1u) << "tried again though the user never came back";

  XUngrabKeyboard(d, CurrentTime);
  MovePointer(50, 50);
  EXPECT_TRUE(WaitFor([&] { return SaverWindowMapped(); }, 6))
      << "no saver after the user came back and left again";
}

TEST_F(X11IdleWatcher, BadTimesNoIdleSourceAndALostDisplay) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--idle"},
                                               {"--idle", "5x"},
                                               {"--idle", "0"},
                                               {"--idle", "25h"},
                                               {"--idle", "-3"},
                                               {"--idle", "4m", "2m"}}) {
    Child bad;
    Launch(bad, args);
    ASSERT_TRUE(bad.WaitExit(5));
    const std::string error = bad.Stderr();
    EXPECT_TRUE(WIFEXITED(*bad.status) && WEXITSTATUS(*bad.status) == 2) << args.back();
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
  }
  Child nowhere;
  std::vector<std::string> noSession = kOtherSessions;
  noSession.push_back("DISPLAY");
  Spawn(nowhere, {QG_PROGRAM, "--idle", "4m"}, {}, noSession);
  ASSERT_TRUE(nowhere.WaitExit(10));
  const std::string error = nowhere.Stderr();
  EXPECT_TRUE(WIFEXITED(*nowhere.status) && WEXITSTATUS(*nowhere.status) == 1);
  EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;

  // The display goes away while the saver runs: the watcher and the saver end.
  StartWatcher(watcher, "1");
  ASSERT_TRUE(WaitFor([&] { return SaverWindowMapped(); }, 6));
  const std::vector<pid_t> savers = ChildrenOf(watcher.pid);
  ASSERT_EQ(savers.size(), 1u);
  XCloseDisplay(server.display);
  server.display = nullptr;
  kill(server.process.pid, SIGKILL);
  ASSERT_TRUE(watcher.WaitExit(10)) << "the watcher outlived its display";
  EXPECT_TRUE(WIFEXITED(*watcher.status) && WEXITSTATUS(*watcher.status) == 1);
  EXPECT_TRUE(WaitFor([&] { return !Alive(savers[0]); }, 5));
}

}  // namespace
}  // namespace x11_e2e
