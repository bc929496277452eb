// The forms runtime on the headless host: drawing, composition in pieces, invalidation, timers
// and nested dispatch.
#include "platform/runtime.h"

#include <gtest/gtest.h>

#include "platform/controls.h"
#include "platform/forms.h"
#include "platform/headless.h"

namespace {

using headless::CallAt;

// ---- Drawing and composition --------------------------------------------------------------

rt::Picture Gradient(int width, int height) {
  rt::Picture p{width, height, {}, true};  // opaque: it may hide what lies below
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p.pixels.push_back(rt::Rgb(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                                 static_cast<std::uint8_t>(x ^ y)));
  return p;
}

struct PictureForm : rt::Form {
  rt::Picture big = Gradient(1100, 150);
  rt::Picture tiny{2,
                   3,
                   {rt::Rgb(1, 0, 0), rt::Rgb(2, 0, 0), rt::Rgb(3, 0, 0), 0, rt::Rgb(5, 0, 0),
                    rt::Rgb(6, 0, 0)}};
  rt::Image back{*this};
  rt::Image stretched{*this};
  rt::Image natural{*this};
  PictureForm() {
    BackColor = rt::Rgb(9, 9, 9);
    back.SetPicture(&big);
    back.Move(15 * 37, 15 * 61, 15 * 1100, 15 * 150);  // crosses piece edges at odd places
    stretched.SetPicture(&tiny);
    stretched.SetStretch(true);
    stretched.Move(15 * 5, 15 * 7, 15 * 4, 15 * 6);  // twice as wide and high
    natural.SetPicture(&tiny);
    natural.Move(15 * 20, 15 * 7, 15 * 4, 15 * 2);  // a box wider and shorter than the picture
    OnLoad = [this] { SetWindowState(rt::WindowState::Maximized); };
  }
};

rt::Pixel At(const rt::Picture& screen, int x, int y) {
  return screen.at(x, y);
}

TEST(Composition, PiecesAddUpToTheExactPicture) {
  headless::Config config;
  config.screen = {1200, 300};
  config.runSeconds = 0.1;
  rt::Picture screen;
  headless::Run(config, {CallAt(0.05, [&] { screen = headless::Capture(); })},
                [] { rt::NewForm<PictureForm>().Show(); });
  const rt::Picture big = Gradient(1100, 150);
  int wrong = 0;
  for (int y = 0; y < 300; ++y)
    for (int x = 40; x < 1200; ++x) {
      const bool inside = x >= 37 && x < 1137 && y >= 61 && y < 211;
      wrong += At(screen, x, y) != (inside ? big.at(x - 37, y - 61) : rt::Rgb(9, 9, 9));
    }
  EXPECT_EQ(wrong, 0);
  // Stretched 2 x 3 into 4 x 6: every source pixel becomes a 2 x 2 block; the transparent one
  // shows the window's colour.
  const rt::Pixel want[6][4] = {{1, 1, 2, 2}, {1, 1, 2, 2}, {3, 3, 0, 0},
                                {3, 3, 0, 0}, {5, 5, 6, 6}, {5, 5, 6, 6}};
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(At(screen, 5 + x, 7 + y), want[y][x]
                                              ? rt::Rgb(static_cast<std::uint8_t>(want[y][x]), 0, 0)
                                              : rt::Rgb(9, 9, 9))
          << x << "," << y;
  // At natural size the picture keeps its pixels and is cut by the box.
  EXPECT_EQ(At(screen, 20, 7), rt::Rgb(1, 0, 0));
  EXPECT_EQ(At(screen, 21, 8), rt::Rgb(9, 9, 9));  // transparent
  EXPECT_EQ(At(screen, 22, 7), rt::Rgb(9, 9, 9));  // box wider than the picture
  EXPECT_EQ(At(screen, 20, 9), rt::Rgb(9, 9, 9));  // cut off by the box
}

TEST(Composition, ScreensOfAnySizeIncludingNone) {
  for (auto [w, h] : {std::pair{0, 0}, std::pair{1, 1}, std::pair{47, 33}, std::pair{5000, 3}}) {
    headless::Config config;
    config.screen = {w, h};
    config.runSeconds = 0.1;
    const auto result = headless::Run(config, {}, [] { rt::NewForm<PictureForm>().Show(); });
    // With no monitor there is nothing to cover: the program ends at once, as a failure.
    const bool none = w == 0;
    EXPECT_EQ(result.outcome, none ? headless::Outcome::Ended : headless::Outcome::Stopped);
    EXPECT_EQ(result.exitStatus, none ? 1 : 0);
  }
}

TEST(Invalidation, ManyScatteredChangesCollapseIntoTheirBounds) {
  headless::Config config;
  config.screen = {1200, 300};
  config.runSeconds = 0.2;
  std::vector<headless::Painted> painted;
  headless::Run(config,
                {CallAt(0.05,
                        [] {
                          headless::TakePaintLog();
                          auto& form = *rt::FindForm<PictureForm>();
                          for (int i = 0; i < 20; ++i)
                            form.InvalidatePixels({i * 50, i * 10, 5, 5});
                          rt::DoEvents();
                        }),
                 CallAt(0.06, [&] { painted = headless::TakePaintLog(); })},
                [] { rt::NewForm<PictureForm>().Show(); });
  // Every changed pixel is painted, none twice, and the many changes became few rectangles.
  for (int i = 0; i < 20; ++i) {
    const rt::PixelRect changed{i * 50, i * 10, 5, 5};
    long long covered = 0;
    for (const auto& r : painted) covered += rt::Intersect(r, changed).area();
    EXPECT_EQ(covered, 25) << i;
  }
  for (std::size_t a = 0; a < painted.size(); ++a)
    for (std::size_t b = a + 1; b < painted.size(); ++b)
      EXPECT_TRUE(rt::Intersect(painted[a], painted[b]).empty());
  // Twenty changes kept apart would be twenty rectangles; merged, they are far fewer.
  EXPECT_LT(painted.size(), 20u / 2);
}

// ---- Timers and dispatch ------------------------------------------------------------------

struct TickingForm : rt::Form {
  rt::Timer timer{*this};
  std::vector<double> ticks;
  bool blockFirst = false;
  TickingForm() {
    timer.SetInterval(100);
    timer.OnTimer = [this] {
      ticks.push_back(headless::Now());
      if (blockFirst && ticks.size() == 1) {
        // A handler that dispatches for a second: the timer must not run inside itself,
        // and must not make up for the ticks it missed.
        rt::RunUntil([] { return false; }, 1.0);
      }
    };
  }
};

TEST(Timers, TickAtTheirIntervalWithoutReentryOrBursts) {
  headless::Config config;
  config.runSeconds = 1.55;
  for (bool block : {false, true}) {
    SCOPED_TRACE(block);
    headless::Run(config, {}, [block] {
      auto& form = rt::NewForm<TickingForm>();
      form.blockFirst = block;
      form.Show();
    });
    const auto& ticks = rt::FindForm<TickingForm>()->ticks;
    std::vector<double> want;
    if (!block) {
      for (int k = 1; k <= 15; ++k) want.push_back(k * 0.1);
    } else {
      want = {0.1};
      for (int k = 0; k <= 4; ++k) want.push_back(1.1 + k * 0.1);  // resumes one interval on
    }
    ASSERT_EQ(ticks.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(ticks[i], want[i], 1e-6);
  }
}

TEST(Timers, SleepWhenNothingIsDue) {
  // With no timer and no input, a run waits for its whole time in one step.
  headless::Config config;
  config.runSeconds = 3600;
  const auto result = headless::Run(config, {}, [] { rt::NewForm<PictureForm>().Show(); });
  EXPECT_EQ(result.outcome, headless::Outcome::Stopped);
  EXPECT_EQ(result.endedAt, 3600);
}

struct ClosingForm : rt::Form {
  int keys = 0;
  ClosingForm() {
    OnKeyDown = [this](std::int16_t&, std::int16_t&) { ++keys; };
  }
};

TEST(Dispatch, ClosingTheLastWindowEndsTheLoop) {
  headless::Config config;
  headless::Input close;
  close.at = 0.5;
  close.kind = headless::InputKind::Close;
  const auto result = headless::Run(config, {headless::KeyAt(0.2, 'A'), close},
                                    [] { rt::NewForm<ClosingForm>().Show(); });
  EXPECT_EQ(result.outcome, headless::Outcome::Returned);
  EXPECT_EQ(result.endedAt, 0.5);
  EXPECT_EQ(rt::FindForm<ClosingForm>()->keys, 1);
}

TEST(Dispatch, ModalShowReturnsWhenItsWindowCloses) {
  headless::Config config;
  headless::Input close;
  close.at = 0.7;
  close.kind = headless::InputKind::Close;
  double returnedAt = -1;
  headless::Run(config, {close}, [&] {
    rt::NewForm<ClosingForm>().Show(rt::ShowMode::Modal);
    returnedAt = headless::Now();
  });
  EXPECT_EQ(returnedAt, 0.7);
}

}  // namespace
