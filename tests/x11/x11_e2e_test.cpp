// End-to-end tests of the real quietglass executable, each on its own Xvfb: what the saver shows
// next to the headless host, how input ends it, one copy at a time, failed starts, and sleeping.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
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
#include "saver/frm_screen_saver.h"
#include "startup/module1.h"

// Last: it brings Xlib, whose macros would rename names in the headers above.
#include "tests/x11/x11_harness.h"

namespace x11_e2e {
namespace {

// The disk's column on a 1024 x 768 screen: the artwork's x 570 to 703, from x = 112.
constexpr int kDiskColumnLeft = 112 + 570, kDiskColumnRight = 112 + 704;
constexpr double kTick = kTickMilliseconds / 1000.0;

// ---- What the saver shows ------------------------------------------------------------

// The headless host's screen `seconds` into a run on one monitor of `screen`.
rt::Picture HeadlessScreen(double seconds, rt::PixelSize screen = {1024, 768}) {
  headless::Config config;
  config.screen = screen;
  config.runSeconds = seconds;
  headless::Run(config, {}, RunProgram);
  rt::Picture picture = headless::Capture();
  for (rt::Pixel& p : picture.pixels) p &= 0xFFFFFF;
  return picture;
}

// On a screen `width` pixels wide: the artwork lies in the middle.
bool InDiskColumn(int x, int width = 1024) {
  const int shift = (width - 1024) / 2;
  return x >= kDiskColumnLeft + shift && x < kDiskColumnRight + shift;
}

std::vector<rt::Pixel> DiskColumn(const rt::Picture& picture) {
  std::vector<rt::Pixel> column;
  for (int y = 0; y < picture.height; ++y)
    for (int x = kDiskColumnLeft; x < kDiskColumnRight; ++x) column.push_back(picture.at(x, y));
  return column;
}

// Pixels outside the disk's column that differ, with the first one described; `want` is compared
// with the part of `shot` that starts at column `left`.
long DifferencesOutsideDiskColumn(const rt::Picture& shot, const rt::Picture& want,
                                  std::string& first, int left = 0) {
  long count = 0;
  for (int y = 0; y < want.height; ++y) {
    for (int x = 0; x < want.width; ++x) {
      if (InDiskColumn(x, want.width) || shot.at(left + x, y) == want.at(x, y)) continue;
      if (count++ == 0) {
        std::ostringstream text;
        text << "(" << left + x << ", " << y << ") is " << std::hex << shot.at(left + x, y)
             << ", not " << want.at(x, y);
        first = text.str();
      }
    }
  }
  return count;
}

// The screen comes to show `want`, outside the disk's column, within 20 seconds.
void ExpectComesToShow(const std::function<rt::Picture()>& screenshot, const rt::Picture& want) {
  std::string first;
  long differences = -1;
  WaitFor(
      [&] { return (differences = DifferencesOutsideDiskColumn(screenshot(), want, first)) == 0; },
      20);
  EXPECT_EQ(differences, 0) << "the first: " << first;
}

// Pixels of `area` in `shot` that are not the band's purple.
long NotPurple(const rt::Picture& shot, const rt::PixelRect& area) {
  long count = 0;
  for (int y = area.y; y < area.bottom(); ++y)
    for (int x = area.x; x < area.right(); ++x) count += shot.at(x, y) != kPurple;
  return count;
}

// A start that fails ends within seconds with status 1 and says why on one line of stderr.
void ExpectFailedStart(Child& saver) {
  ASSERT_TRUE(saver.WaitExit(10)) << "still running 10 s later";
  EXPECT_TRUE(WIFEXITED(*saver.status) && WEXITSTATUS(*saver.status) == 1)
      << "status " << *saver.status;
  const std::string text = saver.Stderr();
  std::printf("[ stderr ] %s", text.c_str());
  EXPECT_TRUE(text.starts_with("quietglass: ") && text.ends_with("\n")) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
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

// Forwards one X connection from the abstract socket of display `argv[1]` to the socket of
// display `argv[2]`, bytes only (descriptors passed along the way are dropped), and ends with
// it. Its background part listens, so that it is the client's peer, before the foreground one
// returns.
constexpr char kRelay[] = R"(
import os, select, socket, sys
listener = socket.socket(socket.AF_UNIX)
listener.bind("\0/tmp/.X11-unix/X" + sys.argv[1])
ready, told = os.pipe()
if os.fork():
    os._exit(len(os.read(ready, 1)) != 1)
listener.listen(1)
os.write(told, b"!")
client = listener.accept()[0]
listener.close()
server = socket.socket(socket.AF_UNIX)
server.connect("/tmp/.X11-unix/X" + sys.argv[2])
other = {client: server, server: client}
while True:
    for side in select.select([client, server], [], [])[0]:
        data = side.recv(65536)
        if not data:
            os._exit(0)
        other[side].sendall(data)
)";

// A saver in an IPC namespace of its own, as in a container, shares shared-memory ids with the
// server but not segments. Here the server's namespace holds a segment under the very id the
// saver's first one gets: the saver must still show its own pixels, connected directly and
// through a relay that lives in its own namespace (whose peer is then no proof of the server).
TEST_F(X11EndToEnd, InAnIpcNamespaceOfItsOwnItShowsItsOwnPixels) {
  Child probe;
  Spawn(probe, {"unshare", "--ipc", "true"}, {}, {}, true);
  if (!probe.WaitExit(10) || !WIFEXITED(*probe.status) || WEXITSTATUS(*probe.status) != 0)
    GTEST_SKIP() << "unshare --ipc is not permitted here";
  const rt::Picture want = HeadlessScreen(0.1);
  ASSERT_NO_FATAL_FAILURE(server.Start(
      1024, 768, {}, 24,
      {"unshare", "--ipc", "sh", "-c", "ipcmk -M 4194304 > /dev/null && exec \"$0\" \"$@\""}));
  ASSERT_NO_FATAL_FAILURE(server.Connect());
  const std::string relayed = std::to_string(700 + getpid() % 200);
  for (const bool relay : {false, true}) {
    SCOPED_TRACE(relay ? "through a relay" : "directly");
    std::vector<std::string> wrapper = {"unshare", "--ipc"};
    if (relay)
      wrapper.insert(wrapper.end(), {"sh", "-c",
                                     std::string("/usr/bin/python3 -c '") + kRelay + "' " +
                                         relayed + " " + server.name.substr(1) +
                                         " && DISPLAY=:" + relayed + " exec \"$0\" \"$@\""});
    ASSERT_NO_FATAL_FAILURE(LaunchSaver(wrapper));
    ExpectComesToShow([&] { return Screenshot(); }, want);
    kill(saver.pid, SIGKILL);
    ASSERT_TRUE(saver.WaitExit(10));
    close(saver.stderrPipe);
    saver.stderrPipe = -1;
    saver.status.reset();
  }
}

// xscreensaver ends copies at any moment, some within milliseconds of their start: none may
// leave a shared-memory segment behind, which would stay until the machine restarts.
TEST_F(X11EndToEnd, CopiesEndedAsTheyStartLeaveNoSharedMemory) {
  ASSERT_NO_FATAL_FAILURE(StartServer(320, 240));
  std::set<std::string> copies;
  for (int i = 0; i < 100; ++i) {
    Child copy;
    Launch(copy, {"/s"});
    usleep(static_cast<useconds_t>(i % 40 * 1000));
    kill(copy.pid, SIGTERM);
    ASSERT_TRUE(copy.WaitExit(10));
    copies.insert(std::to_string(copy.pid));
  }
  // Columns: key shmid perms size cpid ...
  std::ifstream list("/proc/sysvipc/shm");
  std::string line;
  std::getline(list, line);
  int left = 0;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::string key, id, perms, size, creator;
    fields >> key >> id >> perms >> size >> creator;
    left += copies.count(creator) != 0;
  }
  EXPECT_EQ(left, 0) << "segments left by copies ended as they started";
}

// Two monitors side by side on one 3840 x 1080 screen: the artwork on the primary as on a screen
// of its own, the band's purple on the other, and a move on the other ends the saver too.
class TwoMonitors : public X11EndToEnd, public testing::WithParamInterface<bool> {};

TEST_P(TwoMonitors, ArtworkOnThePrimaryBandOnTheOtherAndAMoveThereEndsIt) {
  const bool primaryOnTheRight = GetParam();
  const rt::PixelRect left{0, 0, 1920, 1080}, right{1920, 0, 1920, 1080};
  const rt::PixelRect primary = primaryOnTheRight ? right : left;
  const rt::PixelRect other = primaryOnTheRight ? left : right;
  const rt::Picture want = HeadlessScreen(0.1, {1920, 1080});
  ASSERT_NO_FATAL_FAILURE(StartServer(3840, 1080));
  ASSERT_NO_FATAL_FAILURE(SetMonitors({primary, other}));
  ASSERT_NO_FATAL_FAILURE(LaunchSaver());
  std::string first;
  long differences = -1, band = -1;
  WaitFor(
      [&] {
        const rt::Picture shot = Screenshot();
        differences = DifferencesOutsideDiskColumn(shot, want, first, primary.x);
        band = NotPurple(shot, other);
        return differences == 0 && band == 0;
      },
      20);
  EXPECT_EQ(differences, 0) << "on the primary, the first: " << first;
  EXPECT_EQ(band, 0) << "pixels on the other monitor are not the band's";
  // The report at mapping started the grace period; a move after it, on the other monitor.
  EXPECT_FALSE(saver.WaitExit(1.5)) << "ended without input";
  MovePointer(other.x + 600, 500);
  ASSERT_TRUE(saver.WaitExit(10)) << "a move on the other monitor did not end it";
  ExpectEndedWithStatus0(saver);
}

INSTANTIATE_TEST_SUITE_P(Primary, TwoMonitors, testing::Values(false, true), [](const auto& info) {
  return std::string(info.param ? "OnTheRight" : "OnTheLeft");
});

// The screen grows while the saver runs, as when a monitor is plugged in: the saver covers all of
// it, and the artwork moves to the middle of the new screen.
TEST_F(X11EndToEnd, WhenTheScreenGrowsItCoversItAllAndCentresTheArtwork) {
  const rt::Picture want = HeadlessScreen(0.1, {1920, 1080});
  ASSERT_NO_FATAL_FAILURE(StartServer(1920, 1080));  // the largest the screen can become
  ASSERT_EQ(RunTool({"xrandr", "--output", "screen", "--off", "--fb", "1024x768"}), 0);
  ASSERT_NO_FATAL_FAILURE(LaunchSaver());
  ASSERT_EQ(RunTool({"xrandr", "--fb", "1920x1080", "--output", "screen", "--auto"}), 0);
  std::string first;
  long differences = -1;
  WaitFor(
      [&] {
        const rt::Picture shot = Screenshot();
        differences = shot.width == want.width && shot.height == want.height
                          ? DifferencesOutsideDiskColumn(shot, want, first)
                          : -1;
        return differences == 0;
      },
      20);
  EXPECT_EQ(differences, 0) << "the first: " << first;
  EXPECT_TRUE(saver.Running());
}

// The screen shrinks under the saver: the server pulls the parked pointer onto what is left,
// which is not the user. The saver parks it in the new corner and goes on, and a move
// afterwards still ends it. The monitor set on the screen keeps its size, larger than the
// screen now: only the part on the screen counts.
TEST_F(X11EndToEnd, APointerPulledOntoASmallerScreenDoesNotEndIt) {
  ASSERT_NO_FATAL_FAILURE(StartServer(1920, 1080));
  ASSERT_EQ(RunTool({"xrandr", "--output", "screen", "--off", "--fb", "1920x1080"}), 0);
  ASSERT_NO_FATAL_FAILURE(SetMonitors({{0, 0, 1920, 1080}}));
  ASSERT_NO_FATAL_FAILURE(LaunchSaver());
  EXPECT_FALSE(saver.WaitExit(1.5)) << "ended without input";
  ASSERT_EQ(RunTool({"xrandr", "--fb", "1024x768"}), 0);
  EXPECT_FALSE(saver.WaitExit(2)) << "the screen's change ended it";
  Display* d = server.display;
  Window root, child;
  int x = 0, y = 0, windowX, windowY;
  unsigned mask;
  XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &windowX, &windowY, &mask);
  EXPECT_EQ(x, 1023);
  EXPECT_EQ(y, 767);
  MovePointer(500, 400);
  ASSERT_TRUE(saver.WaitExit(10)) << "a move after the change did not end it";
  ExpectEndedWithStatus0(saver);
}

// A server with two screens: the saver on the first covers the second with the band's purple,
// a copy started on the second does not run, and a move on the second ends the saver.
TEST_F(X11EndToEnd, OnAServerWithTwoScreensItCoversBoth) {
  ASSERT_NO_FATAL_FAILURE(server.Start(800, 600, {"-screen", "1", "640x480x24"}));
  ASSERT_NO_FATAL_FAILURE(server.Connect());
  ASSERT_EQ(ScreenCount(server.display), 2);
  ASSERT_NO_FATAL_FAILURE(LaunchSaver());
  const double shown = Now();
  long band = -1;
  WaitFor([&] { return (band = NotPurple(Screenshot(1), {0, 0, 640, 480})) == 0; }, 20);
  EXPECT_EQ(band, 0) << "pixels of the second screen are not the band's";

  Child second;
  Launch(second, {"/s"}, server.name + ".1");
  ASSERT_TRUE(second.WaitExit(10)) << "a copy on the second screen runs";
  ExpectEndedWithStatus0(second);

  // The report at mapping started the grace period; a move after it, on the second screen.
  EXPECT_FALSE(saver.WaitExit(std::max(0.0, shown + 1.5 - Now()))) << "ended without input";
  XTestFakeMotionEvent(server.display, 1, 300, 200, CurrentTime);
  XSync(server.display, False);
  ASSERT_TRUE(saver.WaitExit(10)) << "a move on the second screen did not end it";
  ExpectEndedWithStatus0(saver);
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
  ASSERT_NO_FATAL_FAILURE(server.Start(1024, 768, {"-listen", "tcp"}));
  ASSERT_NO_FATAL_FAILURE(server.Connect());
  Display* d = server.display;
  XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
  XSync(d, True);
  const std::string number = server.name.substr(1);

  // No other copy runs: the preview switch still ends it without a window. The same server by
  // another name is the same display; a copy short of file descriptors must not run either.
  struct Case {
    const char* what;
    std::vector<std::string> args;
    bool saverRunning;
    std::string display = "";
    std::vector<std::string> wrapper = {};
  } cases[] = {{"/p with nothing running", {"/p", "1234"}, false},
               {"a second /s", {"/s"}, true},
               {"a second /S", {"/S"}, true},
               {"/p while the saver runs", {"/p", "1234"}, true},
               {"a second /s on unix:N", {"/s"}, true, "unix:" + number},
               {"a second /s on localhost:N", {"/s"}, true, "localhost:" + number},
               {"a second /s with 4 descriptors",
                {"/s"},
                true,
                "",
                // Descriptor 3 freed (a test runner may pass one on), then the only one left.
                {"sh", "-c", "exec 3<&- && ulimit -n 4 && exec \"$0\" \"$@\""}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.saverRunning && !saver.Running()) {
      ASSERT_NO_FATAL_FAILURE(LaunchSaver());
      XSync(d, True);  // the saver's own window events are not the second copy's
    }
    Child second;
    const double started = Now();
    Launch(second, c.args, c.display, c.wrapper);
    ASSERT_TRUE(second.WaitExit(10)) << "still running after 10 s";
    std::printf("[ ended in ] %s: %.0f ms\n", c.what, (Now() - started) * 1000);
    ExpectEndedWithStatus0(second);
    EXPECT_EQ(WindowsCreatedOrMapped(), 0) << "it made or mapped a window";
    if (c.saverRunning) {
      EXPECT_TRUE(saver.Running()) << "the first saver ended";
    }
  }
  // A saver that crashed leaves nothing behind that would keep the next one from running.
  kill(saver.pid, SIGKILL);
  ASSERT_TRUE(saver.WaitExit(10));
  Child next;
  ASSERT_NO_FATAL_FAILURE(Launch(next, {"/s"}));
  EXPECT_TRUE(WaitFor([&] { return !next.Running() || SaverWindowMapped(); }, 20));
  EXPECT_TRUE(next.Running()) << "the next saver did not run: " << next.Stderr();
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

// With only three descriptors free, the catching of Xlib's words once took them all, and the
// display could not be opened.
TEST_F(X11EndToEnd, WithFewDescriptorsLeftItStillStarts) {
#ifdef __SANITIZE_ADDRESS__
  // The sanitizers' runtime takes descriptors of its own (a pipe to test whether memory can be
  // read), so at this limit it reports faults that are not there.
  GTEST_SKIP() << "needs descriptors the sanitizers' runtime takes";
#endif
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_NO_FATAL_FAILURE(LaunchSaver({"sh", "-c", "ulimit -n 6; exec \"$0\" \"$@\""}));
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
  // And one whose socket takes the connection and never answers: listening, never accepting.
  // Xlib tries the abstract socket of a display number first.
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  int silent = unused;
  for (bool bound = false; !bound;) {
    ++silent;
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(silent);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, path.data(), path.size());
    bound = access(path.c_str(), F_OK) != 0 &&
            bind(listener, reinterpret_cast<const sockaddr*>(&address),
                 static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size())) == 0;
  }
  ASSERT_EQ(listen(listener, 4), 0);

  struct Case {
    const char* what;
    std::vector<std::string> set, unset;
    const char* mentions;
    bool alarmBlocked = false;  // as a parent may leave SIGALRM for its children
  } cases[] = {
      {"no DISPLAY", {}, {"DISPLAY"}, "DISPLAY"},
      {"no server there", {"DISPLAY=:" + std::to_string(unused)}, {}, "cannot open display"},
      {"a server that refuses us",
       {"DISPLAY=" + server.name, std::string("XAUTHORITY=") + directory + "/none"},
       {},
       "uthoriz"},
      {"a server that never answers", {"DISPLAY=:" + std::to_string(silent)}, {}, "answer"},
      {"a server that never answers, SIGALRM blocked",
       {"DISPLAY=:" + std::to_string(silent)},
       {},
       "answer",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Child run;
    sigset_t blocked, previous;  // the child starts with the test's mask
    sigemptyset(&blocked);
    if (c.alarmBlocked) sigaddset(&blocked, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    Spawn(run, {QG_PROGRAM, "/s"}, c.set, c.unset);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_TRUE(run.WaitExit(20));
    EXPECT_TRUE(WIFEXITED(*run.status) && WEXITSTATUS(*run.status) != 0);
    const std::string text = run.Stderr();
    std::printf("[ stderr ] %s: %s", c.what, text.c_str());
    EXPECT_TRUE(text.starts_with("quietglass: ")) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_TRUE(text.ends_with("\n")) << text;
    EXPECT_NE(text.find(c.mentions), std::string::npos) << text;
  }
  close(listener);
  std::remove((std::string(directory) + "/authority").c_str());
  rmdir(directory);
}

// The server goes away while the saver runs: one line and status 1. Started with its standard
// descriptors closed, the saver once ended by SIGPIPE instead, on a pipe left on descriptor 2;
// and so it did when the reader of its stderr had gone.
enum class Stderr { Read, Closed, Unread };
class TheServerGoingAway : public X11EndToEnd, public testing::WithParamInterface<Stderr> {};

TEST_P(TheServerGoingAway, EndsTheSaverWithStatus1) {
  const Stderr how = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartServer());
  if (how == Stderr::Closed)
    ASSERT_NO_FATAL_FAILURE(LaunchSaver({"sh", "-c", "exec \"$0\" \"$@\" 0<&- 1>&- 2>&-"}));
  else
    ASSERT_NO_FATAL_FAILURE(LaunchSaver());
  if (how == Stderr::Unread) {
    close(saver.stderrPipe);
    saver.stderrPipe = -1;
  }
  XCloseDisplay(server.display);
  server.display = nullptr;
  kill(server.process.pid, SIGKILL);
  ASSERT_TRUE(saver.WaitExit(10)) << "still running 10 s after the server went";
  EXPECT_TRUE(WIFEXITED(*saver.status) && WEXITSTATUS(*saver.status) == 1)
      << "status " << *saver.status
      << (WIFSIGNALED(*saver.status) ? ", signal " + std::to_string(WTERMSIG(*saver.status)) : "");
  if (how == Stderr::Read) {
    const std::string text = saver.Stderr();
    std::printf("[ stderr ] %s", text.c_str());
    EXPECT_TRUE(text.starts_with("quietglass: ") && text.ends_with("\n")) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Started, TheServerGoingAway,
                         testing::Values(Stderr::Read, Stderr::Closed, Stderr::Unread),
                         [](const auto& info) {
                           return std::string(info.param == Stderr::Read     ? "Plainly"
                                              : info.param == Stderr::Closed ? "WithoutDescriptors"
                                                                             : "WithStderrUnread");
                         });

// Another program keeps the keyboard or the pointer grabbed (here the test's own connection):
// the saver must not cover a screen it could not be ended on. It gives up after about a second.
class AGrabHeldElsewhere : public X11EndToEnd, public testing::WithParamInterface<bool> {};

TEST_P(AGrabHeldElsewhere, KeepsTheSaverFromShowing) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  Display* d = server.display;
  const Window root = DefaultRootWindow(d);
  const bool keyboard = GetParam();
  const int grabbed =
      keyboard
          ? XGrabKeyboard(d, root, False, GrabModeAsync, GrabModeAsync, CurrentTime)
          : XGrabPointer(d, root, False, 0, GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
  ASSERT_EQ(grabbed, GrabSuccess);
  XSelectInput(d, root, SubstructureNotifyMask);
  XSync(d, True);
  Launch(saver, {"/s"});
  ASSERT_NO_FATAL_FAILURE(ExpectFailedStart(saver));
  int mapped = 0;
  while (XPending(d) > 0) {
    XEvent event;
    XNextEvent(d, &event);
    mapped += event.type == MapNotify;
  }
  EXPECT_EQ(mapped, 0) << "a window was shown";
}

INSTANTIATE_TEST_SUITE_P(Of, AGrabHeldElsewhere, testing::Values(true, false),
                         [](const auto& info) {
                           return std::string(info.param ? "TheKeyboard" : "ThePointer");
                         });

// A default visual that is not TrueColor: the saver draws with a TrueColor visual of the screen
// where there is one (a DirectColor default) and says on one line that it cannot draw where there
// is none (8-bit PseudoColor, whose only TrueColor visual has 8 bits).
struct VisualCase {
  const char* name;
  int depth;
  std::vector<std::string> extra;
  bool drawable;
};
void PrintTo(const VisualCase& c, std::ostream* out) {
  *out << c.name;
}

class ADefaultVisualThatIsNotTrueColor : public X11EndToEnd,
                                         public testing::WithParamInterface<VisualCase> {};

TEST_P(ADefaultVisualThatIsNotTrueColor, IsNotDrawnWith) {
  const VisualCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(server.Start(1024, 768, c.extra, c.depth));
  ASSERT_NO_FATAL_FAILURE(server.Connect());
  Display* d = server.display;
  ASSERT_NE(DefaultVisual(d, DefaultScreen(d))->c_class, TrueColor);
  if (!c.drawable) {
    Launch(saver, {"/s"});
    ASSERT_NO_FATAL_FAILURE(ExpectFailedStart(saver));
    return;
  }
  const rt::Picture want = HeadlessScreen(0.1);
  ASSERT_NO_FATAL_FAILURE(LaunchSaver());
  ExpectComesToShow([&] { return Screenshot(); }, want);
  // The pixel values alone look right on any 24-bit visual: the window's class tells.
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  ASSERT_TRUE(XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count));
  int trueColor = 0;
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable)
      trueColor += a.visual->c_class == TrueColor;
  }
  if (children != nullptr) XFree(children);
  EXPECT_EQ(trueColor, 1) << "the saver's window is not TrueColor";
}

INSTANTIATE_TEST_SUITE_P(Visuals, ADefaultVisualThatIsNotTrueColor,
                         testing::Values(VisualCase{"DirectColor", 24, {"-cc", "5"}, true},
                                         VisualCase{"PseudoColor8Bit", 8, {}, false}),
                         [](const auto& info) { return std::string(info.param.name); });

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
}  // namespace x11_e2e
