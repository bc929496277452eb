// The saver window: placement of the artwork, the exit rule with its grace period, and the disk
// animation checked tick by tick, as state and as pixels on the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "assets/assets.h"
#include "platform/keys.h"
#include "platform/runtime.h"
#include "test_support.h"

using headless::CallAt;
using headless::ClickAt;
using headless::KeyAt;
using headless::MoveAt;
using headless::Outcome;
using testing_support::RunQuietglass;
using testing_support::Saver;
using testing_support::Screen;

namespace {

constexpr double kTick = kTickMilliseconds / 1000.0;

// ---- Placement --------------------------------------------------------------------------

TEST(AlignPic, CentresTheArtworkOnTheScreenAndPutsTheDiskAtItsStart) {
  struct Case {
    int width, height;
    float artLeft, artTop, diskLeft, diskTop;
  } cases[] = {
      {1024, 768, 1680, 1260, 10230, 6000},
      {800, 600, 0, 0, 8550, 4740},
      {640, 480, -1200, -900, 7350, 3840},  // cut off equally on both sides
      {1023, 767, 1672.5f, 1252.5f, 10222.5f, 5992.5f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    std::optional<std::array<float, 6>> seen;
    RunQuietglass(Screen(c.width, c.height, "/S", 0.1), {CallAt(0.05, [&] {
                    auto& s = Saver();
                    seen = {s.Image1.Left(), s.Image1.Top(),   s.Image2.Left(),
                            s.Image2.Top(),  s.Image2.Width(), s.Image2.Height()};
                  })});
    ASSERT_TRUE(seen);
    EXPECT_EQ((*seen)[0], c.artLeft);
    EXPECT_EQ((*seen)[1], c.artTop);
    EXPECT_EQ((*seen)[2], c.diskLeft);
    EXPECT_EQ((*seen)[3], c.diskTop);
    EXPECT_EQ((*seen)[4], 2010);
    EXPECT_EQ((*seen)[5], 1800);
  }
}

TEST(AlignPic, TheDiskSitsOnTheDriveAtOddSizes) {
  // Centred on an odd width or height the artwork lies half a pixel off the grid; the disk must
  // still start 570 px right of and 316 px below its corner.
  for (auto [w, h] : {std::pair{799, 599}, std::pair{639, 479}, std::pair{1025, 769}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    rt::PixelRect art, disk;
    RunQuietglass(Screen(w, h, "/S", 0.1), {CallAt(0.05, [&] {
                    art = Saver().Image1.PixelBox();
                    disk = Saver().Image2.PixelBox();
                  })});
    EXPECT_EQ(disk.x - art.x, 570);
    EXPECT_EQ(disk.y - art.y, 316);
  }
}

TEST(SaverWindow, CoversTheScreenWithTheProgramIcon) {
  const auto result = RunQuietglass(Screen(1024, 768, "/S", 0.1));
  ASSERT_EQ(result.windows.size(), 1u);
  const auto& window = result.windows[0];
  EXPECT_EQ(window.settings.kind, host::WindowKind::FullScreen);
  EXPECT_EQ(window.settings.caption, "");
  EXPECT_EQ(window.client, (rt::PixelRect{0, 0, 1024, 768}));
  EXPECT_NE(window.settings.icon, nullptr);
}

// ---- Exit on input ----------------------------------------------------------------------

struct ExitCase {
  const char* what;
  int width, height;
  std::vector<headless::Input> script;
  std::optional<double> endsAt;  // empty: still running when the run stops
};

TEST(ExitOnInput, GracePeriodAndKeys) {
  // The first pointer report comes when the window appears (the parked cursor lies under it).
  const ExitCase cases[] = {
      {"the first report alone never ends it", 1024, 768, {}, std::nullopt},
      {"same on a screen no larger than the artwork", 800, 600, {}, std::nullopt},
      {"a key ends it during the grace period", 1024, 768, {KeyAt(0.2, 'A', 'a')}, 0.2},
      {"a key ends it later", 1024, 768, {KeyAt(7.5, vk::kEscape)}, 7.5},
      {"a quick second report is absorbed, a third ends it",
       1024,
       768,
       {MoveAt(0.3, 500, 500), MoveAt(0.5, 600, 600)},
       0.5},
      {"the third ends it even on the artwork",
       800,
       600,
       {MoveAt(0.3, 400, 300), MoveAt(0.4, 401, 300)},
       0.4},
      {"after the grace period one move ends it", 1024, 768, {MoveAt(2.0, 10, 10)}, 2.0},
      {"a second report after the pause ends it",
       1024,
       768,
       {MoveAt(0.5, 100, 100), MoveAt(3.0, 101, 100)},
       3.0},
      {"a click at the last position is ignored",
       1024,
       768,
       {ClickAt(2.0, 1023, 767)},
       std::nullopt},
      {"a click elsewhere ends it", 1024, 768, {ClickAt(2.0, 1023, 767), ClickAt(3.0, 5, 5)}, 3.0},
      {"a flood of moves ends it at the third", 1024, 768, {}, 0.25},
  };
  for (const ExitCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<headless::Input> script = c.script;
    if (std::string(c.what).starts_with("a flood"))
      for (int i = 0; i < 20000; ++i) script.push_back(MoveAt(0.25, i % 1000, i % 700));
    const auto result = RunQuietglass(Screen(c.width, c.height, "/S", 10), script);
    if (c.endsAt) {
      EXPECT_EQ(result.outcome, Outcome::Ended);
      EXPECT_NEAR(result.endedAt, *c.endsAt, 1e-9);
    } else {
      EXPECT_EQ(result.outcome, Outcome::Stopped);
    }
  }
}

TEST(ExitOnInput, APointerMovedByAScreenChangeIsNotInput) {
  // Parked at 1919,1079, the pointer is pulled onto the smaller screen by the window system (and
  // reported there) and parked again in the new corner; only a move after that ends the saver.
  const std::vector<rt::PixelRect> before = {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
  const std::vector<std::vector<rt::PixelRect>> afters = {
      {{0, 0, 1024, 768}},                         // the resolution lowered, 1023,767
      {{0, 0, 1024, 768}, {1024, 0, 1280, 1024}},  // the pointer lands on the other monitor
      {{1280, 0, 1024, 768}, {0, 0, 1280, 1024}},  // and the primary moves right
  };
  for (const auto& after : afters) {
    SCOPED_TRACE(testing::Message() << after.size() << " monitors, primary at " << after[0].x);
    auto config = Screen(1920, 1080, "/S", 10);
    config.monitors = before;
    const auto still = RunQuietglass(config, {headless::MonitorsAt(3, after)});
    EXPECT_EQ(still.outcome, Outcome::Stopped);
    EXPECT_EQ(still.cursorX, after[0].x + 1023);
    EXPECT_EQ(still.cursorY, 767);
    const auto moved = RunQuietglass(config, {headless::MonitorsAt(3, after), MoveAt(5, 9, 9)});
    EXPECT_EQ(moved.outcome, Outcome::Ended);
    EXPECT_NEAR(moved.endedAt, 5, 1e-9);
  }
}

// ---- Animation --------------------------------------------------------------------------

struct DiskState {
  float top;
  float height;
  bool visible;
  float left;
};

// What the disk shows after tick k (from 1), with the artwork's top at `artTop`: a restart tick,
// five hold ticks, ten moving ticks; hidden on restart ticks from the second cycle on.
DiskState ExpectedDisk(int k, float artTop, float artLeft) {
  const int c = (k - 1) % 16;
  if (c == 0) return {artTop + 4740, 1800, k == 1, artLeft + 8550};
  if (c <= 5) return {artTop + 4740, 1800, true, artLeft + 8550};
  const int m = c - 5;
  return {artTop + 4740 - 60.0f * m, 1800 - 150.0f * m, true, artLeft + 8550};
}

// The screen as it should look: purple around the artwork, the disk squeezed into its box.
rt::Picture ExpectedScreen(int width, int height, const DiskState& disk, float artLeft,
                           float artTop) {
  static const rt::Picture background = rt::LoadBuiltInPicture(assets::BackgroundBmp());
  static const rt::Picture diskPicture = rt::LoadBuiltInPicture(assets::DiskBmp());
  rt::Picture screen{
      width, height,
      std::vector<rt::Pixel>(static_cast<std::size_t>(width) * height, rt::Rgb(49, 0, 49))};
  const int ax = static_cast<int>(artLeft / 15), ay = static_cast<int>(artTop / 15);
  const int dx = static_cast<int>(disk.left / 15), dy = static_cast<int>(disk.top / 15);
  const int dh = static_cast<int>(disk.height / 15);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      rt::Pixel& p = screen.pixels[static_cast<std::size_t>(y) * width + x];
      if (x >= ax && x < ax + 800 && y >= ay && y < ay + 600) p = background.at(x - ax, y - ay);
      if (disk.visible && x >= dx && x < dx + 134 && y >= dy && y < dy + dh)
        p = diskPicture.at(x - dx, (y - dy) * 120 / dh);
    }
  }
  return screen;
}

int CountDifferences(const rt::Picture& a, const rt::Picture& b) {
  if (a.width != b.width || a.height != b.height) return -1;
  int differences = 0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i) differences += a.pixels[i] != b.pixels[i];
  return differences;
}

TEST(SaverWindow, CoversEveryMonitorAndFollowsThePrimaryMidSlide) {
  // The primary right of a larger monitor, then alone and smaller while the disk slides: the
  // artwork in the primary's middle, the band everywhere else, and the disk going on with its
  // cycle on the artwork as if the screen had always been this size.
  auto config = Screen(1024, 768, "/S", 21 * kTick);
  config.monitors = {{1920, 0, 1024, 768}, {0, 0, 1920, 1080}};
  std::vector<headless::Input> script = {headless::MonitorsAt(8.3 * kTick, {{0, 0, 800, 600}})};
  for (int k = 0; k <= 20; ++k)
    script.push_back(CallAt((k + 0.5) * kTick, [k] {
      SCOPED_TRACE(testing::Message() << "tick " << k);
      const bool both = k < 8;
      const float artLeft = both ? 1920 * 15 + 1680 : 0, artTop = both ? 1260 : 0;
      EXPECT_EQ(CountDifferences(
                    headless::Capture(),
                    ExpectedScreen(both ? 2944 : 800, both ? 1080 : 600,
                                   ExpectedDisk(std::max(k, 1), artTop, artLeft), artLeft, artTop)),
                0);
    }));
  EXPECT_EQ(RunQuietglass(config, script).outcome, Outcome::Stopped);
}

TEST(SaverWindow, AnExposedAreaIsDrawnAgain) {
  // The primary right of another monitor, so the window's pixels are not the form's: the lost
  // area, band and artwork on both monitors, comes back exactly.
  auto config = Screen(1024, 768, "/S", 1);
  config.monitors = {{800, 0, 1024, 768}, {0, 0, 800, 600}};
  rt::Picture after;
  RunQuietglass(config, {headless::ExposeAt(0.5, {700, 100, 600, 600}),
                         CallAt(0.51, [&] { after = headless::Capture(); })});
  const float artLeft = 800 * 15 + 1680, artTop = 1260;
  EXPECT_EQ(CountDifferences(after, ExpectedScreen(1824, 768, ExpectedDisk(3, artTop, artLeft),
                                                   artLeft, artTop)),
            0);
}

TEST(Animation, ThreeCyclesTickByTickAsStateAndPixels) {
  for (auto [width, height] : {std::pair{800, 600}, std::pair{1024, 768}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height);
    const float artLeft = (width * 15.0f - 12000) / 2, artTop = (height * 15.0f - 9000) / 2;
    std::vector<headless::Input> script;
    int ticksSeen = 0;
    for (int k = 1; k <= 49; ++k) {
      // Half-way between tick k and tick k + 1.
      script.push_back(CallAt((k + 0.5) * kTick, [&, k] {
        ++ticksSeen;
        const auto& s = Saver();
        const DiskState want = ExpectedDisk(k, artTop, artLeft);
        SCOPED_TRACE(testing::Message() << "tick " << k);
        EXPECT_EQ(s.Image2.Top(), want.top);
        EXPECT_EQ(s.Image2.Height(), want.height);
        EXPECT_EQ(s.Image2.Visible(), want.visible);
        EXPECT_EQ(s.Image2.Left(), want.left);
        EXPECT_EQ(s.Image2.Width(), 2010);
        EXPECT_EQ(CountDifferences(headless::Capture(),
                                   ExpectedScreen(width, height, want, artLeft, artTop)),
                  0);
      }));
    }
    const auto result = RunQuietglass(Screen(width, height, "/S", 50 * kTick), script);
    EXPECT_EQ(result.outcome, Outcome::Stopped);
    EXPECT_EQ(ticksSeen, 49);
  }
}

TEST(Animation, BeforeTheFirstTickTheDiskIsAtItsStart) {
  bool checked = false;
  RunQuietglass(Screen(800, 600, "/S", 0.2), {CallAt(0.1, [&] {
                  const auto& s = Saver();
                  EXPECT_EQ(s.DiskHeight, 0);
                  EXPECT_EQ(s.Image2.Top(), 4740);
                  EXPECT_EQ(
                      CountDifferences(headless::Capture(),
                                       ExpectedScreen(800, 600, {4740, 1800, true, 8550}, 0, 0)),
                      0);
                  checked = true;
                })});
  EXPECT_TRUE(checked);
}

TEST(Animation, FollowsTheArtworkWhenItsTopMoves) {
  std::vector<std::pair<float, bool>> tops;  // disk top and visibility after each tick from 9
  std::vector<headless::Input> script = {CallAt(8.5 * kTick, [] { Saver().Image1.SetTop(300); })};
  for (int k = 9; k <= 19; ++k)
    script.push_back(CallAt((k + 0.5) * kTick, [&] {
      tops.emplace_back(Saver().Image2.Top(), Saver().Image2.Visible());
      EXPECT_EQ(Saver().Image2.Left(), 8550);  // the left edge never follows
    }));
  RunQuietglass(Screen(800, 600, "/S", 20 * kTick), script);
  const std::vector<std::pair<float, bool>> want = {
      {4560, true},  {4500, true}, {4440, true},  // still moving: 4380 is the new finish line
      {5040, false},                              // restart below the moved artwork, hidden
      {5040, true},  {5040, true}, {5040, true}, {5040, true},
      {5040, true},  {4980, true}, {4920, true}};
  EXPECT_EQ(tops, want);
}

TEST(Animation, TicksRepaintOnlyTheDiskAndNothingBetweenThem) {
  std::vector<headless::Input> script;
  bool quiet = true;
  rt::PixelRect previous{570 + 112, 316 + 84, 134, 120};
  for (int k = 1; k <= 40; ++k) {
    script.push_back(CallAt((k + 0.3) * kTick, [&, k] {
      const auto& s = Saver();
      const rt::PixelRect now = s.Image2.PixelBox();
      const rt::PixelRect allowed = rt::Union(previous, now);
      for (const rt::PixelRect& r : headless::TakePaintLog()) {
        SCOPED_TRACE(testing::Message() << "tick " << k);
        EXPECT_EQ(rt::Intersect(r, allowed), r);
      }
      previous = now;
    }));
    // Later in the same interval nothing at all is drawn.
    script.push_back(
        CallAt((k + 0.7) * kTick, [&] { quiet = quiet && headless::TakePaintLog().empty(); }));
  }
  script.insert(script.begin(), CallAt(0.01, [] { headless::TakePaintLog(); }));  // the first frame
  RunQuietglass(Screen(1024, 768, "/S", 41 * kTick), script);
  EXPECT_TRUE(quiet);
}

TEST(Animation, FirstFrameFillsTheBandWithoutComposingIt) {
  // The whole screen is painted once: the band as flat fills, only the artwork composed.
  std::vector<headless::Painted> firstFrame;
  RunQuietglass(Screen(1920, 1080, "/S", 0.1),
                {CallAt(0.01, [&] { firstFrame = headless::TakePaintLog(); })});
  const rt::PixelRect artwork{560, 240, 800, 600};
  long long area = 0;
  for (const auto& r : firstFrame) {
    area += r.area();
    if (!r.filled) {
      EXPECT_EQ(rt::Intersect(r, artwork), r);
    }
  }
  EXPECT_EQ(area, 1920LL * 1080);
}

}  // namespace
