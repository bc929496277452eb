// The end-to-end tests' harness: a child process, an Xvfb of its own per test, and a fixture
// that starts quietglass on it, looks at its windows and grabs, and types and moves with XTest.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/geometry.h"
#include "platform/picture.h"

// Xlib last: its macros (None, KeyPress) would rename names in the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

extern char** environ;

namespace x11_e2e {

constexpr rt::Pixel kPurple = 0x310031;

inline double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Polls `condition` until it holds or `seconds` have passed.
inline bool WaitFor(const std::function<bool()>& condition, double seconds) {
  const double deadline = Now() + seconds;
  for (;;) {
    if (condition()) return true;
    if (Now() > deadline) return false;
    poll(nullptr, 0, 20);
  }
}

// A child process started with posix_spawn; its stderr goes to a pipe read after it ends.
struct Child {
  pid_t pid = -1;
  int stderrPipe = -1;
  std::optional<int> status;

  ~Child() {
    if (pid > 0 && !status) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (stderrPipe >= 0) close(stderrPipe);
  }

  bool Running() {
    if (pid <= 0 || status) return false;  // waitpid(-1) would reap some other child
    int raw = 0;
    if (waitpid(pid, &raw, WNOHANG) == pid) status = raw;
    return !status;
  }

  // Waits up to `seconds` for the process to end; false if it still runs.
  bool WaitExit(double seconds) {
    return WaitFor([&] { return !Running(); }, seconds);
  }

  std::string Stderr() {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(stderrPipe, buffer, sizeof buffer)) > 0) text.append(buffer, n);
    return text;
  }
};

// Starts `argv` with the environment changed by `set` (NAME=VALUE) and `unset` (NAME).
inline void Spawn(Child& child, const std::vector<std::string>& argv,
                  const std::vector<std::string>& set, const std::vector<std::string>& unset,
                  bool quiet = false) {
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool drop = false;
    for (const auto& s : set) drop = drop || s.substr(0, s.find('=')) == name;
    for (const auto& u : unset) drop = drop || u == name;
    if (!drop) environment.push_back(entry);
  }
  environment.insert(environment.end(), set.begin(), set.end());
  std::vector<char*> envp, args;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argvCopy = argv;
  for (auto& a : argvCopy) args.push_back(a.data());
  args.push_back(nullptr);

  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  }
  const int failed = posix_spawnp(&child.pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  child.stderrPipe = fds[0];
  ASSERT_EQ(failed, 0) << "cannot start " << argv[0] << ": " << std::strerror(failed);
}

// An Xvfb of its own on a display it picks itself, and the test's connection to it.
struct XServer {
  Child process;
  std::string name;
  Display* display = nullptr;

  ~XServer() {
    if (display != nullptr) XCloseDisplay(display);
    if (process.pid > 0 && process.Running()) {
      kill(process.pid, SIGTERM);
      if (!process.WaitExit(10)) kill(process.pid, SIGKILL);
    }
  }

  // Screen 0 of `width` x `height` at `depth` bits; `extra` goes to Xvfb (later options win),
  // and `wrapper` runs it (a command that ends by executing its arguments).
  void Start(int width, int height, const std::vector<std::string>& extra = {}, int depth = 24,
             const std::vector<std::string>& wrapper = {}) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    // Xvfb writes the display number to this descriptor once it accepts connections.
    const int ready = fcntl(fds[1], F_DUPFD, 10);  // without O_CLOEXEC, so Xvfb inherits it
    close(fds[1]);
    std::vector<std::string> argv = wrapper;
    const std::string screen =
        std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    // -noreset: RandR monitors set with xrandr would vanish with the last client otherwise.
    const std::vector<std::string> xvfb = {"Xvfb",      "-displayfd", std::to_string(ready),
                                           "-screen",   "0",          screen,
                                           "-nolisten", "tcp",        "-noreset"};
    argv.insert(argv.end(), xvfb.begin(), xvfb.end());
    argv.insert(argv.end(), extra.begin(), extra.end());
    Spawn(process, argv, {}, {}, true);
    close(ready);
    std::string number;
    const bool reported = WaitFor(
        [&] {
          char c;
          pollfd fd{fds[0], POLLIN, 0};
          while (poll(&fd, 1, 0) > 0 && read(fds[0], &c, 1) == 1) {
            if (c == '\n') return true;
            number += c;
          }
          return !process.Running();
        },
        30);
    close(fds[0]);
    ASSERT_TRUE(reported && process.Running() && !number.empty())
        << "Xvfb did not start (scripts/install-x11-test-deps installs it)";
    name = ":" + number;
  }

  void Connect() {
    display = XOpenDisplay(name.c_str());
    ASSERT_NE(display, nullptr) << "cannot connect to " << name;
  }
};

class X11EndToEnd : public testing::Test {
 protected:
  XServer server;
  Child saver;

  void StartServer(int width = 1024, int height = 768) {
    server.Start(width, height);
    if (!HasFatalFailure()) server.Connect();
  }

  // Starts quietglass on the test's server, or on `display`, through `wrapper` when one is given.
  void Launch(Child& child, const std::vector<std::string>& args, const std::string& display = "",
              const std::vector<std::string>& wrapper = {}) {
    std::vector<std::string> argv = wrapper;
    argv.push_back(QG_PROGRAM);
    argv.insert(argv.end(), args.begin(), args.end());
    Spawn(child, argv, {"DISPLAY=" + (display.empty() ? server.name : display)}, {});
  }

  // True while another client holds the keyboard (or pointer) grab.
  bool KeyboardGrabbedElsewhere() {
    Display* d = server.display;
    const int result =
        XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (result == GrabSuccess) XUngrabKeyboard(d, CurrentTime);
    XSync(d, False);
    return result == AlreadyGrabbed;
  }
  bool PointerGrabbedElsewhere() {
    Display* d = server.display;
    const int result = XGrabPointer(d, DefaultRootWindow(d), False, 0, GrabModeAsync, GrabModeAsync,
                                    None, None, CurrentTime);
    if (result == GrabSuccess) XUngrabPointer(d, CurrentTime);
    XSync(d, False);
    return result == AlreadyGrabbed;
  }

  // The size of a screen as it is now: Xlib's DisplayWidth keeps the size it had at connecting.
  std::pair<unsigned, unsigned> RootSize(int screen = -1) {
    Display* d = server.display;
    Window root;
    int x, y;
    unsigned width = 0, height = 0, border, depth;
    XGetGeometry(d, RootWindow(d, screen < 0 ? DefaultScreen(d) : screen), &root, &x, &y, &width,
                 &height, &border, &depth);
    return {width, height};
  }

  // A mapped override-redirect window as large as the screen.
  bool SaverWindowMapped() {
    Display* d = server.display;
    const auto [width, height] = RootSize();
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return false;
    bool found = false;
    for (unsigned i = 0; i < count; ++i) {
      XWindowAttributes a;
      if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
          a.override_redirect && a.x == 0 && a.y == 0 && a.width == static_cast<int>(width) &&
          a.height == static_cast<int>(height))
        found = true;
    }
    if (children != nullptr) XFree(children);
    return found;
  }

  // How many windows were created or mapped on the root since the last call (the root's
  // substructure events must be selected).
  int WindowsCreatedOrMapped() {
    Display* d = server.display;
    XSync(d, False);
    int created = 0;
    while (XPending(d) > 0) {
      XEvent event;
      XNextEvent(d, &event);
      created += event.type == CreateNotify || event.type == MapNotify;
    }
    return created;
  }

  // Runs a tool such as xrandr on the test's server; its exit status, or -1.
  int RunTool(const std::vector<std::string>& argv) {
    Child tool;
    Spawn(tool, argv, {"DISPLAY=" + server.name}, {}, true);
    if (tool.pid <= 0 || !tool.WaitExit(30)) return -1;
    return WIFEXITED(*tool.status) ? WEXITSTATUS(*tool.status) : -1;
  }

  // Splits screen 0 into RandR monitors, the first of them the primary.
  void SetMonitors(const std::vector<rt::PixelRect>& monitors) {
    for (std::size_t i = 0; i < monitors.size(); ++i) {
      const rt::PixelRect& m = monitors[i];
      const auto millimetres = [](int pixels) { return std::to_string(pixels * 254 / 960); };
      const std::string geometry = std::to_string(m.width) + "/" + millimetres(m.width) + "x" +
                                   std::to_string(m.height) + "/" + millimetres(m.height) + "+" +
                                   std::to_string(m.x) + "+" + std::to_string(m.y);
      // The first takes the place of the output's own monitor.
      ASSERT_EQ(RunTool({"xrandr", "--setmonitor", (i == 0 ? "*M" : "M") + std::to_string(i),
                         geometry, i == 0 ? "screen" : "none"}),
                0)
          << "xrandr (scripts/install-x11-test-deps installs it)";
    }
  }

  // The root window's pixels as 0xRRGGBB, of the default screen or of `screen`.
  rt::Picture Screenshot(int screen = -1) {
    Display* d = server.display;
    if (screen < 0) screen = DefaultScreen(d);
    const auto [width, height] = RootSize(screen);
    XImage* image = XGetImage(d, RootWindow(d, screen), 0, 0, width, height, AllPlanes, ZPixmap);
    rt::Picture picture{static_cast<int>(width), static_cast<int>(height), {}};
    picture.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int row = 0; row < picture.height; ++row)
      for (int column = 0; column < picture.width; ++column)
        picture.pixels[static_cast<std::size_t>(row) * width + column] =
            static_cast<rt::Pixel>(XGetPixel(image, column, row)) & 0xFFFFFF;
    XDestroyImage(image);
    return picture;
  }

  // Launches the saver and waits until it is on the screen, painted, and holds both grabs.
  void LaunchSaver(const std::vector<std::string>& wrapper = {}) {
    Launch(saver, {"/s"}, "", wrapper);
    ASSERT_TRUE(WaitFor(
        [&] {
          return !saver.Running() ||
                 (SaverWindowMapped() && KeyboardGrabbedElsewhere() && PointerGrabbedElsewhere() &&
                  Screenshot().at(0, 0) == kPurple);
        },
        30));
    ASSERT_TRUE(saver.Running()) << saver.Stderr();
  }

  void MovePointer(int x, int y) {
    XTestFakeMotionEvent(server.display, -1, x, y, CurrentTime);
    XSync(server.display, False);
  }

  void PressKey(KeySym sym) {
    const KeyCode code = XKeysymToKeycode(server.display, sym);
    ASSERT_NE(code, 0);
    XTestFakeKeyEvent(server.display, code, True, CurrentTime);
    XTestFakeKeyEvent(server.display, code, False, CurrentTime);
    XSync(server.display, False);
  }

  void ExpectEndedWithStatus0(Child& child) {
    ASSERT_TRUE(child.status);
    EXPECT_TRUE(WIFEXITED(*child.status) && WEXITSTATUS(*child.status) == 0)
        << "status " << *child.status << ", stderr: " << child.Stderr();
  }
};

}  // namespace x11_e2e
