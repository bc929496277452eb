// The real quietglass as an xscreensaver display mode, without the daemon: drawing into a window
// it is given (XSCREENSAVER_WINDOW or --window-id), the scaled preview, how it ends, one copy per
// window, and command lines that name no window.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

// Last: it brings Xlib.
#include "tests/x11/x11_hack_support.h"

namespace x11_e2e {
namespace {

class X11DisplayMode : public X11EndToEnd {
 protected:
  // As a display mode conventionally ends on xscreensaver's SIGTERM: by that signal.
  static void ExpectEndedBySigterm(const Child& child) {
    EXPECT_TRUE(WIFSIGNALED(*child.status) && WTERMSIG(*child.status) == SIGTERM)
        << "status " << *child.status;
  }

  // Runs quietglass with `args`, XSCREENSAVER_WINDOW set to `named` (or unset when empty).
  void LaunchMode(Child& child, const std::vector<std::string>& args,
                  const std::string& named = "") {
    std::vector<std::string> argv = {QG_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> set = {"DISPLAY=" + server.name}, unset;
    if (named.empty())
      unset.push_back("XSCREENSAVER_WINDOW");
    else
      set.push_back("XSCREENSAVER_WINDOW=" + named);
    Spawn(child, argv, set, unset);
  }

  // Waits until `window` shows `want` beside the disk's column; the difference count, 0 when it
  // does.
  long WaitForPicture(Window window, const rt::Picture& want, Child& child, std::string& first) {
    long differences = -1;
    WaitFor(
        [&] {
          const rt::Picture shot = WindowImage(server.display, window, want.width, want.height);
          differences = DifferencesBesideTheDisk(shot, 0, 0, want, first);
          return differences == 0 || !child.Running();
        },
        20);
    return differences;
  }
};

TEST_F(X11DisplayMode, DrawsTheSaverIntoXscreensaversWindowAndLeavesTheInputAlone) {
  ASSERT_NO_FATAL_FAILURE(StartServer(1024, 768));
  Display* d = server.display;
  const Window target = MakeTargetWindow(d, {0, 0, 1024, 768});
  MovePointer(500, 400);
  XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
  XSync(d, True);

  ASSERT_NO_FATAL_FAILURE(LaunchMode(saver, {"--root"}, Hex(target)));
  std::string first;
  EXPECT_EQ(WaitForPicture(target, HeadlessSaver(1024, 768), saver, first), 0)
      << "first: " << first << "; " << (saver.Running() ? "" : saver.Stderr());
  ASSERT_TRUE(saver.Running());

  // Nothing of its own and nothing taken: no window, no grab, the pointer where it was.
  EXPECT_EQ(WindowsCreatedOrMapped(), 0) << "it made or mapped a window";
  EXPECT_FALSE(KeyboardGrabbedElsewhere());
  EXPECT_FALSE(PointerGrabbedElsewhere());
  Window root, child;
  int rootX = 0, rootY = 0, x, y;
  unsigned mask;
  XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rootX, &rootY, &x, &y, &mask);
  EXPECT_EQ(rootX, 500);
  EXPECT_EQ(rootY, 400);
  // Input is xscreensaver's to act on, not the display mode's.
  ASSERT_NO_FATAL_FAILURE(PressKey(XK_a));
  MovePointer(100, 100);
  MovePointer(900, 700);
  EXPECT_FALSE(saver.WaitExit(2)) << "input ended it";

  ASSERT_EQ(kill(saver.pid, SIGTERM), 0);
  ASSERT_TRUE(saver.WaitExit(10)) << "SIGTERM did not end it";
  ExpectEndedBySigterm(saver);
}

// xscreensaver's standard hack options, with one dash or two and in any order, must not end it:
// the daemon would start it again at once, over and over, on a black screen.
TEST_F(X11DisplayMode, TakesXscreensaversStandardOptionsAndDrawsAsUsual) {
  ASSERT_NO_FATAL_FAILURE(StartServer(800, 600));
  const Window target = MakeTargetWindow(server.display, {0, 0, 800, 600});
  ASSERT_NO_FATAL_FAILURE(LaunchMode(
      saver,
      {"-fps", "-root", "--visual", "default", "-install", "-mono", "--window", "-pair", "--fps"},
      Hex(target)));
  std::string first;
  EXPECT_EQ(WaitForPicture(target, HeadlessSaver(800, 600), saver, first), 0)
      << "first: " << first << "; " << (saver.Running() ? "" : saver.Stderr());
  ASSERT_TRUE(saver.Running()) << saver.Stderr();
  ASSERT_EQ(kill(saver.pid, SIGTERM), 0);
  ASSERT_TRUE(saver.WaitExit(10)) << "SIGTERM did not end it";
  ExpectEndedBySigterm(saver);
}

// A preview shows the 1920 x 1080 screen fitted into its window, each window pixel showing the
// screen pixel nearest its centre; the pixels beside the picture repeat the screen's edge.
constexpr int kScreenWidth = 1920, kScreenHeight = 1080;
struct Preview {
  int width, height;
  rt::PixelRect shown;  // where the screen's picture lies in the window
} constexpr kPreviews[] = {
    {400, 300, {0, 37, 400, 225}},  // as the settings' preview: bands above and below
    {500, 200, {72, 0, 356, 200}},  // made wider: bands left and right
};

int SourceOf(int pixel, int shownFrom, int shownLength, int sourceLength) {
  const int t = pixel - shownFrom;
  if (t < 0) return 0;
  if (t >= shownLength) return sourceLength - 1;
  return (2 * t + 1) * sourceLength / (2 * shownLength);
}

TEST_F(X11DisplayMode, APreviewShowsTheWholeScreenScaledDownUntilItsWindowGoes) {
  ASSERT_NO_FATAL_FAILURE(StartServer(kScreenWidth, kScreenHeight));
  Display* d = server.display;
  // A 32-bit window on a 24-bit screen: the pictures must take the window's depth.
  const Preview& initial = kPreviews[0];
  const Window target = MakeTargetWindow(d, {50, 60, initial.width, initial.height}, 32);
  ASSERT_NE(target, 0u) << "Xvfb offers no 32-bit visual";
  const rt::Picture screen = HeadlessSaver(kScreenWidth, kScreenHeight);
  const DiskColumns disk(kScreenWidth);

  ASSERT_NO_FATAL_FAILURE(LaunchMode(saver, {"--root", "--window-id", Hex(target)}));
  for (const Preview& preview : kPreviews) {
    SCOPED_TRACE(std::to_string(preview.width) + " x " + std::to_string(preview.height));
    if (&preview != &initial) {
      XResizeWindow(d, target, preview.width, preview.height);
      XSync(d, False);
    }
    const auto columnSource = [&](int x) {
      return SourceOf(x, preview.shown.x, preview.shown.width, kScreenWidth);
    };
    const auto rowSource = [&](int y) {
      return SourceOf(y, preview.shown.y, preview.shown.height, kScreenHeight);
    };
    long differences = -1;
    std::string first;
    WaitFor(
        [&] {
          const rt::Picture shot = WindowImage(d, target, preview.width, preview.height);
          differences = shot.empty() ? -1 : 0;
          for (int y = 0; y < preview.height && !shot.empty(); ++y)
            for (int x = 0; x < preview.width; ++x) {
              if (disk.contains(columnSource(x)) ||
                  shot.at(x, y) == screen.at(columnSource(x), rowSource(y)))
                continue;
              if (differences++ == 0)
                first = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
            }
          return differences == 0 || !saver.Running();
        },
        20);
    EXPECT_EQ(differences, 0) << "first at " << first << "; "
                              << (saver.Running() ? "" : saver.Stderr());
    ASSERT_TRUE(saver.Running());
  }

  XDestroyWindow(d, target);
  XSync(d, False);
  ASSERT_TRUE(saver.WaitExit(10)) << "the window's end did not end it";
  ExpectEndedWithStatus0(saver);
}

TEST_F(X11DisplayMode, OneCopyRunsPerWindow) {
  ASSERT_NO_FATAL_FAILURE(StartServer(1024, 768));
  Display* d = server.display;
  const Window left = MakeTargetWindow(d, {0, 0, 320, 240}),
               right = MakeTargetWindow(d, {400, 0, 320, 240});
  const auto painted = [&](Window window, Child& child) {
    return WaitFor(
        [&] { return !child.Running() || WindowImage(d, window, 320, 240).at(0, 0) == kPurple; },
        20);
  };

  Child second, other;
  ASSERT_NO_FATAL_FAILURE(LaunchMode(saver, {"--window-id", Hex(left)}));
  ASSERT_TRUE(painted(left, saver) && saver.Running()) << saver.Stderr();
  // The server never frees an atom: copies on new windows must not make new ones. Atoms are
  // numbered in the order they are made.
  const Atom before = XInternAtom(d, "QUIETGLASS_TEST_BEFORE", False);
  ASSERT_NO_FATAL_FAILURE(LaunchMode(second, {"--window-id", std::to_string(left)}));
  ASSERT_TRUE(second.WaitExit(10)) << "a second copy on the same window still runs";
  ExpectEndedWithStatus0(second);
  ASSERT_NO_FATAL_FAILURE(LaunchMode(other, {"--root"}, Hex(right)));
  ASSERT_TRUE(painted(right, other) && other.Running()) << other.Stderr();
  EXPECT_TRUE(saver.Running());
  EXPECT_EQ(XInternAtom(d, "QUIETGLASS_TEST_AFTER", False), before + 1);

  for (Child* child : {&saver, &other}) {
    ASSERT_EQ(kill(child->pid, SIGTERM), 0);
    ASSERT_TRUE(child->WaitExit(10));
    ExpectEndedBySigterm(*child);
  }
}

TEST_F(X11DisplayMode, LosingTheDisplayEndsItOnOneLine) {
  ASSERT_NO_FATAL_FAILURE(StartServer(320, 240));
  // The root window outlives the test's connection, which goes first.
  const Window root = DefaultRootWindow(server.display);
  ASSERT_NO_FATAL_FAILURE(LaunchMode(saver, {"--root"}, Hex(root)));
  ASSERT_TRUE(WaitFor(
      [&] {
        return !saver.Running() || WindowImage(server.display, root, 1, 1).at(0, 0) == kPurple;
      },
      20));
  ASSERT_TRUE(saver.Running()) << saver.Stderr();
  XCloseDisplay(server.display);
  server.display = nullptr;
  kill(server.process.pid, SIGTERM);
  ASSERT_TRUE(server.process.WaitExit(10));

  ASSERT_TRUE(saver.WaitExit(10)) << "still running without its display";
  EXPECT_TRUE(WIFEXITED(*saver.status) && WEXITSTATUS(*saver.status) == 1) << *saver.status;
  const std::string text = saver.Stderr();
  EXPECT_TRUE(text.starts_with("quietglass: ")) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

TEST_F(X11DisplayMode, ACommandLineThatNamesNoWindowSaysWhyOnOneLine) {
  ASSERT_NO_FATAL_FAILURE(StartServer(320, 240));
  Display* d = server.display;
  const Window inputOnly = XCreateWindow(d, DefaultRootWindow(d), 0, 0, 320, 240, 0, 0, InputOnly,
                                         CopyFromParent, 0, nullptr);
  XMapWindow(d, inputOnly);
  XSync(d, False);
  struct Case {
    std::vector<std::string> args;
    std::string named;  // XSCREENSAVER_WINDOW
    const char* mentions;
  } cases[] = {
      {{"--root"}, "", "XSCREENSAVER_WINDOW"},
      {{"-root", "-fps"}, "", "quietglass: -root draws"},  // the switch as typed
      {{"-root", "--visual"}, "", "--visual needs a value"},
      {{"--root", "--bogus"}, "0x7ffff0", "'--bogus' is no option"},
      {{"--root", "fps"}, "0x7ffff0", "'fps' is no option"},
      {{"--root"}, "0x7ffff0", "no window 0x7ffff0"},
      {{"--window-id"}, "", "needs a window id"},
      {{"--root", "--window-id", "0xZZ"}, "", "no window id"},
      {{"--window-id", "8388592"}, "", "no window 0x7ffff0"},
      {{"--root"}, Hex(inputOnly), "input-only"},
  };
  for (const Case& c : cases) {
    std::string what;
    for (const auto& a : c.args) what += a + " ";
    SCOPED_TRACE(what + c.named);
    Child run;
    ASSERT_NO_FATAL_FAILURE(LaunchMode(run, c.args, c.named));
    ASSERT_TRUE(run.WaitExit(10));
    EXPECT_TRUE(WIFEXITED(*run.status) && WEXITSTATUS(*run.status) == 1) << *run.status;
    const std::string text = run.Stderr();
    EXPECT_TRUE(text.starts_with("quietglass: ")) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_NE(text.find(c.mentions), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace x11_e2e
