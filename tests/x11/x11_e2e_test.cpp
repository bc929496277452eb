// End-to-end tests of the real quietglass executable, each on its own Xvfb: what the saver shows
// next to the headless host, how input ends it, one copy at a time, failed starts, and sleeping.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "platform/headless.h"
#include "platform/runtime.h"
#include "startup/module1.h"

// Xlib last: its macros (None, KeyPress) would rename names in the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

extern char** environ;

namespace {

constexpr rt::Pixel kPurple = 0x310031;
// The disk's column on a 1024 x 768 screen: the artwork's x 570 to 703, from x = 112.
constexpr int kDiskColumnLeft = 112 + 570, kDiskColumnRight = 112 + 704;
constexpr double kTick = 0.150;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Polls `condition` until it holds or `seconds` have passed.
bool WaitFor(const std::function<bool()>& condition, double seconds) {
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
void Spawn(Child& child, const std::vector<std::string>& argv, const std::vector<std::string>& set,
           const std::vector<std::string>& unset, bool quiet = false) {
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
  if (quiet)
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  else
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
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

  void Start(int width, int height, const std::vector<std::string>& extra = {}) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    // Xvfb writes the display number to this descriptor once it accepts connections.
    const int ready = fcntl(fds[1], F_DUPFD, 10);  // without O_CLOEXEC, so Xvfb inherits it
    close(fds[1]);
    std::vector<std::string> argv = {
        "Xvfb",      "-displayfd", std::to_string(ready),
        "-screen",   "0",          std::to_string(width) + "x" + std::to_string(height) + "x24",
        "-nolisten", "tcp",        "-noreset"};
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

  void Launch(Child& child, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QG_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    Spawn(child, argv, {"DISPLAY=" + server.name}, {});
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

  // A mapped override-redirect window as large as the screen.
  bool SaverWindowMapped() {
    Display* d = server.display;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return false;
    bool found = false;
    for (unsigned i = 0; i < count; ++i) {
      XWindowAttributes a;
      if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
          a.override_redirect && a.x == 0 && a.y == 0 &&
          a.width == DisplayWidth(d, DefaultScreen(d)) &&
          a.height == DisplayHeight(d, DefaultScreen(d)))
        found = true;
    }
    if (children != nullptr) XFree(children);
    return found;
  }

  // The root window's pixels as 0xRRGGBB.
  rt::Picture Screenshot() {
    Display* d = server.display;
    const int width = DisplayWidth(d, DefaultScreen(d)),
              height = DisplayHeight(d, DefaultScreen(d));
    XImage* image = XGetImage(d, DefaultRootWindow(d), 0, 0, width, height, AllPlanes, ZPixmap);
    rt::Picture picture{width, height, {}};
    picture.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        picture.pixels[static_cast<std::size_t>(y) * width + x] =
            static_cast<rt::Pixel>(XGetPixel(image, x, y)) & 0xFFFFFF;
    XDestroyImage(image);
    return picture;
  }

  // Launches the saver and waits until it is on the screen, painted, and holds both grabs.
  void LaunchSaver() {
    Launch(saver, {"/s"});
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

// ---- What the saver shows ------------------------------------------------------------

// The headless host's screen `seconds` into a run at 1024 x 768.
rt::Picture HeadlessScreen(double seconds) {
  headless::Config config;
  config.screen = {1024, 768};
  config.runSeconds = seconds;
  headless::Run(config, {}, RunProgram);
  rt::Picture picture = headless::Capture();
  for (rt::Pixel& p : picture.pixels) p &= 0xFFFFFF;
  return picture;
}

bool InDiskColumn(int x) {
  return x >= kDiskColumnLeft && x < kDiskColumnRight;
}

std::vector<rt::Pixel> DiskColumn(const rt::Picture& picture) {
  std::vector<rt::Pixel> column;
  for (int y = 0; y < picture.height; ++y)
    for (int x = kDiskColumnLeft; x < kDiskColumnRight; ++x) column.push_back(picture.at(x, y));
  return column;
}

// Pixels outside the disk's column that differ, with the first one described.
long DifferencesOutsideDiskColumn(const rt::Picture& shot, const rt::Picture& want,
                                  std::string& first) {
  long count = 0;
  for (int y = 0; y < want.height; ++y) {
    for (int x = 0; x < want.width; ++x) {
      if (InDiskColumn(x) || shot.at(x, y) == want.at(x, y)) continue;
      if (count++ == 0) {
        std::ostringstream text;
        text << "(" << x << ", " << y << ") is " << std::hex << shot.at(x, y) << ", not "
             << want.at(x, y);
        first = text.str();
      }
    }
  }
  return count;
}

TEST_F(X11EndToEnd, ShowsWhatTheHeadlessHostShowsAtTheSameMoment) {
  // The headless screen before the first tick, and the disk's column after every tick of three
  // cycles (the disk hides for one tick from the second restart on).
  const rt::Picture want = HeadlessScreen(0.1);
  std::set<std::vector<rt::Pixel>> diskStates;
  for (int tick = 0; tick <= 48; ++tick)
    diskStates.insert(DiskColumn(HeadlessScreen((tick + 0.5) * kTick)));
  ASSERT_GE(diskStates.size(), 10u) << "the headless host shows no animation";

  // The artwork at (112, 84) and purple all around, in the headless picture itself.
  const rt::Picture background = rt::LoadBuiltInPicture(assets::BackgroundBmp());
  long wrongInWant = 0;
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 1024; ++x) {
      const bool art = x >= 112 && x < 912 && y >= 84 && y < 684;
      if (InDiskColumn(x) && art) continue;
      wrongInWant += want.at(x, y) != (art ? background.at(x - 112, y - 84) & 0xFFFFFF : kPurple);
    }
  EXPECT_EQ(wrongInWant, 0);

  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_NO_FATAL_FAILURE(LaunchSaver());
  // Everything outside the disk's column is painted once; wait until it all matches.
  rt::Picture shot;
  std::string first;
  long differences = -1;
  WaitFor(
      [&] {
        shot = Screenshot();
        differences = DifferencesOutsideDiskColumn(shot, want, first);
        return differences == 0;
      },
      20);
  EXPECT_EQ(differences, 0) << "first: " << first;
  // A screenshot may fall between the pieces of one tick's paint, so take another until the
  // column shows a whole animation state.
  const bool animationState =
      WaitFor([&] { return diskStates.contains(DiskColumn(Screenshot())); }, 20);
  EXPECT_TRUE(animationState) << "the disk's column matches no state of the animation";
  EXPECT_TRUE(saver.Running());
}

// ---- Input ends it -------------------------------------------------------------------

class KeyEndsIt : public X11EndToEnd, public testing::WithParamInterface<KeySym> {};

TEST_P(KeyEndsIt, AtOnce) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_NO_FATAL_FAILURE(LaunchSaver());
  const double pressed = Now();
  ASSERT_NO_FATAL_FAILURE(PressKey(GetParam()));
  ASSERT_TRUE(saver.WaitExit(10)) << "still running 10 s after the key";
  std::printf("[ key-to-exit ] %s: %.0f ms\n", XKeysymToString(GetParam()),
              (Now() - pressed) * 1000);
  ExpectEndedWithStatus0(saver);
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyEndsIt, testing::Values(XK_a, XK_Escape, XK_Shift_L),
                         [](const auto& info) { return std::string(XKeysymToString(info.param)); });

TEST_F(X11EndToEnd, TheFirstPointerReportDoesNotEndItOneMoveAfterTheGraceDoes) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_NO_FATAL_FAILURE(LaunchSaver());
  // The report at mapping started a one-second grace; watch well past it.
  EXPECT_FALSE(saver.WaitExit(2.5)) << "ended without input";
  const double moved = Now();
  MovePointer(300, 200);
  ASSERT_TRUE(saver.WaitExit(10)) << "one move after the grace period did not end it";
  std::printf("[ move-to-exit ] %.0f ms\n", (Now() - moved) * 1000);
  ExpectEndedWithStatus0(saver);
}

TEST_F(X11EndToEnd, WithinTheGraceTheThirdPointerReportEndsIt) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_NO_FATAL_FAILURE(LaunchSaver());
  MovePointer(300, 200);  // the second report, straight after the first
  EXPECT_FALSE(saver.WaitExit(0.3)) << "the second report ended it";
  MovePointer(320, 220);
  ASSERT_TRUE(saver.WaitExit(10)) << "the third report did not end it";
  ExpectEndedWithStatus0(saver);
}

// ---- One copy at a time, unsupported switches ------------------------------------------

TEST_F(X11EndToEnd, ASecondSaverAndAPreviewEndAtOnceWithoutAWindow) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  Display* d = server.display;
  XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
  XSync(d, True);

  // No other copy runs: the preview switch still ends it without a window.
  struct Case {
    const char* what;
    std::vector<std::string> args;
    bool saverRunning;
  } cases[] = {{"/p with nothing running", {"/p", "1234"}, false},
               {"a second /s", {"/s"}, true},
               {"a second /S", {"/S"}, true},
               {"/p while the saver runs", {"/p", "1234"}, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.saverRunning && !saver.Running()) {
      ASSERT_NO_FATAL_FAILURE(LaunchSaver());
      XSync(d, True);  // the saver's own window events are not the second copy's
    }
    Child second;
    const double started = Now();
    Launch(second, c.args);
    ASSERT_TRUE(second.WaitExit(10)) << "still running after 10 s";
    std::printf("[ ended in ] %s: %.0f ms\n", c.what, (Now() - started) * 1000);
    ExpectEndedWithStatus0(second);
    XSync(d, False);
    int created = 0;
    while (XPending(d) > 0) {
      XEvent event;
      XNextEvent(d, &event);
      created += event.type == CreateNotify || event.type == MapNotify;
    }
    EXPECT_EQ(created, 0) << "it made or mapped a window";
    if (c.saverRunning) {
      EXPECT_TRUE(saver.Running()) << "the first saver ended";
    }
  }
}

// ---- Failed starts ---------------------------------------------------------------------

// An X authority file with one random cookie: a server started with it refuses everyone else.
std::string WriteAuthorityFile(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  const auto field = [&](const std::string& bytes) {
    out.put(static_cast<char>(bytes.size() >> 8)).put(static_cast<char>(bytes.size() & 0xFF));
    out << bytes;
  };
  std::random_device random;
  std::string cookie;
  for (int i = 0; i < 16; ++i) cookie += static_cast<char>(random() & 0xFF);
  out.put(1).put(0);  // FamilyLocal
  field("localhost");
  field("0");
  field("MIT-MAGIC-COOKIE-1");
  field(cookie);
  return path;
}

TEST_F(X11EndToEnd, WithoutAUsableDisplayItSaysWhyOnOneLine) {
  char directory[] = "/tmp/quietglass-x11-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string authority = WriteAuthorityFile(std::string(directory) + "/authority");
  ASSERT_NO_FATAL_FAILURE(server.Start(320, 240, {"-auth", authority}));
  // A display number with neither a server nor a lock file.
  int unused = 900;
  while (access(("/tmp/.X11-unix/X" + std::to_string(unused)).c_str(), F_OK) == 0 ||
         access(("/tmp/.X" + std::to_string(unused) + "-lock").c_str(), F_OK) == 0)
    ++unused;

  struct Case {
    const char* what;
    std::vector<std::string> set, unset;
    const char* mentions;
  } cases[] = {
      {"no DISPLAY", {}, {"DISPLAY"}, "DISPLAY"},
      {"no server there", {"DISPLAY=:" + std::to_string(unused)}, {}, "cannot open display"},
      {"a server that refuses us",
       {"DISPLAY=" + server.name, std::string("XAUTHORITY=") + directory + "/none"},
       {},
       "uthoriz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Child run;
    Spawn(run, {QG_PROGRAM, "/s"}, c.set, c.unset);
    ASSERT_TRUE(run.WaitExit(20));
    EXPECT_TRUE(WIFEXITED(*run.status) && WEXITSTATUS(*run.status) != 0);
    const std::string text = run.Stderr();
    std::printf("[ stderr ] %s: %s", c.what, text.c_str());
    EXPECT_TRUE(text.starts_with("quietglass: ")) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_TRUE(text.ends_with("\n")) << text;
    EXPECT_NE(text.find(c.mentions), std::string::npos) << text;
  }
  std::remove((std::string(directory) + "/authority").c_str());
  rmdir(directory);
}

// ---- Sleeping between ticks ------------------------------------------------------------

struct ProcessSample {
  char state = '?';
  long cpuTicks = 0;  // user + system, in clock ticks
};

std::optional<ProcessSample> ReadStat(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  // The name may hold blanks and parentheses; the fields after it are plain.
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  ProcessSample sample;
  std::string skip;
  fields >> sample.state;
  for (int field = 4; field <= 13; ++field) fields >> skip;
  long user = 0, system = 0;
  fields >> user >> system;
  sample.cpuTicks = user + system;
  return sample;
}

TEST_F(X11EndToEnd, SleepsBetweenTicksForTenSeconds) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_NO_FATAL_FAILURE(LaunchSaver());
  const auto before = ReadStat(saver.pid);
  ASSERT_TRUE(before);
  std::string states;
  const double start = Now();
  for (int i = 1; i <= 40; ++i) {
    // Samples spread over the ten seconds, at no fixed phase to the 150 ms ticks.
    WaitFor([&] { return Now() >= start + i * 0.25; }, 10);
    const auto sample = ReadStat(saver.pid);
    ASSERT_TRUE(sample) << "the saver ended";
    states += sample->state;
  }
  const auto after = ReadStat(saver.pid);
  ASSERT_TRUE(after);
  const double cpu = static_cast<double>(after->cpuTicks - before->cpuTicks) /
                     static_cast<double>(sysconf(_SC_CLK_TCK));
  std::printf("[ cpu ] %.2f s of CPU in %.1f s; states %s\n", cpu, Now() - start, states.c_str());
  const auto sleeping = std::count(states.begin(), states.end(), 'S');
  EXPECT_GT(sleeping, static_cast<long>(states.size()) / 2) << states;
  EXPECT_TRUE(saver.Running());
}

}  // namespace
