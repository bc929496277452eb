// The forms runtime on the headless host: picture decoding, drawing, composition in pieces,
// invalidation, timers and nested dispatch.
#include "platform/runtime.h"

#include <gtest/gtest.h>

#include <random>

#include "assets/assets.h"
#include "platform/controls.h"
#include "platform/forms.h"
#include "platform/headless.h"

namespace {

using headless::CallAt;

// ---- Picture reader -----------------------------------------------------------------------

std::vector<std::uint8_t> Bytes(std::span<const std::uint8_t> span) {
  return {span.begin(), span.end()};
}

TEST(PictureReader, ReadsTheBuiltInPictures) {
  rt::Picture picture;
  std::string error;
  ASSERT_TRUE(rt::DecodeBmp(assets::BackgroundBmp(), picture, error)) << error;
  EXPECT_EQ(picture.width, 800);
  EXPECT_EQ(picture.height, 600);
  ASSERT_TRUE(rt::DecodeBmp(assets::DiskBmp(), picture, error)) << error;
  EXPECT_EQ(picture.width, 134);
  EXPECT_EQ(picture.height, 120);
  for (auto ico : {assets::ProgramIcon(), assets::CreatureIcon()})
    for (int bits : {4, 8}) {
      ASSERT_TRUE(rt::DecodeIco(ico, bits, picture, error)) << error;
      EXPECT_EQ(picture.width, 32);
      EXPECT_EQ(picture.height, 32);
    }
}

TEST(PictureReader, RejectsEveryTruncationAndSurvivesDamage) {
  for (auto file :
       {Bytes(assets::DiskBmp()), Bytes(assets::ProgramIcon()), Bytes(assets::CreatureIcon())}) {
    const bool isBmp = file[0] == 'B';
    auto decode = [&](const std::vector<std::uint8_t>& bytes, std::string& error) {
      rt::Picture picture;
      // A heap copy of exactly this size, so the sanitizers catch any read past the end.
      const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size() + 1]);
      std::copy(bytes.begin(), bytes.end(), exact.get());
      const std::span<const std::uint8_t> span(exact.get(), bytes.size());
      if (!isBmp) return rt::DecodeIco(span, 8, picture, error);
      std::string viewError;
      const bool viewed = rt::ViewBmp(span, picture, viewError);
      const bool decoded = rt::DecodeBmp(span, picture, error);
      EXPECT_EQ(viewed, decoded) << viewError << " / " << error;
      return decoded;
    };
    for (std::size_t size = 0; size < file.size(); size += (size < 200 ? 1 : 97)) {
      std::string error;
      EXPECT_FALSE(decode({file.begin(), file.begin() + static_cast<long>(size)}, error))
          << "size " << size;
      EXPECT_FALSE(error.empty());
    }
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
      auto damaged = file;
      for (int k = 0; k < 4; ++k)
        damaged[random() % std::min<std::size_t>(damaged.size(), 80)] =
            static_cast<std::uint8_t>(random());
      std::string error;
      decode(damaged, error);  // may succeed or fail; must not read out of bounds
    }
  }
}

// A small 8-bit BMP, bottom-up, with row padding: 3 x 2 pixels.
std::vector<std::uint8_t> TinyBmp() {
  std::vector<std::uint8_t> f = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 14 + 40 + 8, 0, 0, 0, 40,
                                 0,   0,   0, 3, 0, 0, 0, 2, 0, 0, 0,           1, 0, 8, 0};
  f.resize(14 + 40, 0);
  f[14 + 32] = 2;  // two palette entries
  for (std::uint8_t v : {0x10, 0x20, 0x30, 0, 0xFF, 0xEE, 0xDD, 0}) f.push_back(v);  // BGRx
  for (std::uint8_t v : {1, 0, 1, 0}) f.push_back(v);  // bottom row, padded to 4 bytes
  for (std::uint8_t v : {0, 1, 1, 0}) f.push_back(v);  // top row
  return f;
}

TEST(PictureReader, BottomUpRowsAndPalette) {
  rt::Picture picture;
  std::string error;
  ASSERT_TRUE(rt::DecodeBmp(TinyBmp(), picture, error)) << error;
  const rt::Pixel a = rt::Rgb(0x30, 0x20, 0x10), b = rt::Rgb(0xDD, 0xEE, 0xFF);
  EXPECT_EQ(picture.pixels, (std::vector<rt::Pixel>{a, b, b, b, a, b}));
  EXPECT_TRUE(picture.opaque);
  auto bad = TinyBmp();
  bad[14 + 40 + 8 + 4 + 2] = 2;  // the last pixel refers past the two palette entries
  EXPECT_FALSE(rt::DecodeBmp(bad, picture, error));
  // A file that fails halfway leaves the picture as it was.
  EXPECT_EQ(picture.pixels, (std::vector<rt::Pixel>{a, b, b, b, a, b}));
}

// Every pixel of a picture, whichever way it holds them.
std::vector<rt::Pixel> AllPixels(const rt::Picture& picture) {
  std::vector<rt::Pixel> all;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) all.push_back(picture.at(x, y));
  return all;
}

// TinyBmp stored top-down: the same picture.
std::vector<std::uint8_t> TinyTopDownBmp() {
  auto f = TinyBmp();
  f[14 + 8] = 0xFE;  // height -2
  for (int i = 1; i < 4; ++i) f[14 + 8 + i] = 0xFF;
  std::swap_ranges(f.end() - 8, f.end() - 4, f.end() - 4);
  return f;
}

TEST(PictureReader, EightBitPicturesAreReadInPlaceWithTheSamePixels) {
  const std::vector<std::uint8_t> tiny = TinyBmp(), topDown = TinyTopDownBmp();
  for (std::span<const std::uint8_t> file :
       {std::span<const std::uint8_t>(tiny), std::span<const std::uint8_t>(topDown),
        assets::BackgroundBmp(), assets::DiskBmp()}) {
    rt::Picture decoded, viewed;
    std::string error;
    ASSERT_TRUE(rt::DecodeBmp(file, decoded, error)) << error;
    ASSERT_TRUE(rt::ViewBmp(file, viewed, error)) << error;
    EXPECT_TRUE(viewed.indexed());
    EXPECT_TRUE(viewed.pixels.empty());  // nothing decoded, nothing copied
    EXPECT_GE(viewed.indices, file.data());
    EXPECT_LT(viewed.indices, file.data() + file.size());
    EXPECT_TRUE(viewed.opaque);
    EXPECT_EQ(viewed.width, decoded.width);
    EXPECT_EQ(viewed.height, decoded.height);
    EXPECT_EQ(AllPixels(viewed), decoded.pixels) << decoded.width << "x" << decoded.height;
  }
}

TEST(PictureReader, ReadingInPlaceChecksIndicesAndDecodesOtherDepths) {
  auto bad = TinyBmp();
  bad[14 + 40 + 8 + 4 + 2] = 2;  // the last pixel refers past the two palette entries
  rt::Picture picture;
  std::string error;
  const auto good = TinyBmp();
  ASSERT_TRUE(rt::ViewBmp(good, picture, error));
  const rt::Picture before = picture;
  EXPECT_FALSE(rt::ViewBmp(bad, picture, error));
  EXPECT_EQ(error, "pixel refers past the palette");
  EXPECT_EQ(picture.indices, before.indices);  // left as it was
  // A 24-bit picture has no palette to look up: it is decoded.
  std::vector<std::uint8_t> deep = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                                    0,   0,   0, 1, 0, 0, 0, 1, 0, 0, 0,  1, 0, 24, 0};
  deep.resize(54, 0);
  for (std::uint8_t v : {0x30, 0x20, 0x10, 0}) deep.push_back(v);
  ASSERT_TRUE(rt::ViewBmp(deep, picture, error)) << error;
  EXPECT_FALSE(picture.indexed());
  EXPECT_EQ(picture.pixels, std::vector<rt::Pixel>{rt::Rgb(0x10, 0x20, 0x30)});
}

// A picture read in place draws exactly like its decoded twin, at natural size and stretched
// both ways, through clips that cut it at odd places.
TEST(PictureReader, InPlacePicturesDrawLikeDecodedOnes) {
  rt::Picture decoded, viewed;
  std::string error;
  ASSERT_TRUE(rt::DecodeBmp(assets::DiskBmp(), decoded, error));
  ASSERT_TRUE(rt::ViewBmp(assets::DiskBmp(), viewed, error));
  const rt::PixelRect area{3, 5, 301, 257};
  for (auto [box, stretch] : {std::pair{rt::PixelRect{10, 20, 134, 120}, false},
                              std::pair{rt::PixelRect{-7, 11, 134, 47}, true},
                              std::pair{rt::PixelRect{40, -3, 271, 251}, true},
                              std::pair{rt::PixelRect{9, 9, 61, 130}, true}}) {
    for (const rt::PixelRect clip : {area, rt::PixelRect{50, 40, 33, 17}}) {
      std::vector<rt::Pixel> a(static_cast<std::size_t>(area.area()), 7), b = a;
      rt::Canvas ca{a.data(), area.width, area, clip}, cb{b.data(), area.width, area, clip};
      rt::DrawPicture(ca, decoded, box, stretch);
      rt::DrawPicture(cb, viewed, box, stretch);
      EXPECT_EQ(a, b) << box.x << "," << box.y << " " << box.width << "x" << box.height;
      EXPECT_NE(a, std::vector<rt::Pixel>(a.size(), 7));  // something was drawn
    }
  }
}

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
