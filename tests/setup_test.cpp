// The about dialog on the headless host: placement, focus and tab order, the button, the
// read-only addresses and the hidden creature.
#include <gtest/gtest.h>

#include "platform/controls.h"
#include "platform/keys.h"
#include "setup/frm_setup.h"
#include "test_support.h"

using headless::CallAt;
using headless::ClickAt;
using headless::KeyAt;
using headless::Outcome;
using testing_support::RunQuietglass;
using testing_support::Screen;

namespace {

FrmSetup& Dialog() {
  return *rt::FindForm<FrmSetup>();
}

// Where the dialog's client area lies on a 640 x 480 screen, found by a short first run.
rt::PixelRect DialogClient() {
  const auto result = RunQuietglass(Screen(640, 480, "/c", 0.01));
  return result.windows.at(0).client;
}

// A point inside a control, in screen pixels.
std::pair<int, int> Inside(const rt::PixelRect& client, const rt::Control& control, int dx = 0,
                           int dy = 0) {
  const rt::PixelRect box = control.PixelBox();
  return {client.x + box.x + box.width / 2 + dx, client.y + box.y + box.height / 2 + dy};
}

TEST(SetupDialog, WindowSettingsAndPlacement) {
  auto config = Screen(800, 600, "", 1);  // 12000 x 9000 twips
  config.dialogFrame = {7, 27, 8, 4};     // an outer size of 3600 x 4800 twips
  const auto result = RunQuietglass(config);
  ASSERT_EQ(result.windows.size(), 1u);
  const host::WindowSettings& window = result.windows[0].settings;
  EXPECT_EQ(window.kind, host::WindowKind::Dialog);
  EXPECT_EQ(window.caption, "Quietglass v1.01");
  EXPECT_EQ(window.client, (rt::PixelSize{225, 289}));
  EXPECT_EQ(window.outer, (rt::PixelRect{280, 112, 240, 320}));  // (4200, 1680) twips, not 2100
  EXPECT_EQ(Dialog().Left(), 4200);
  EXPECT_EQ(Dialog().Top(), 1680);
}

TEST(SetupDialog, TabVisitsOnlyTheLogoAndTheButton) {
  std::vector<const rt::Control*> focus;
  auto record = [&] { focus.push_back(Dialog().ActiveControl()); };
  std::vector<headless::Input> script = {CallAt(0.05, record)};
  for (int i = 1; i <= 3; ++i) {
    script.push_back(KeyAt(0.1 * i, vk::kTab));
    script.push_back(CallAt(0.1 * i + 0.05, record));
  }
  script.push_back(KeyAt(0.5, vk::kTab, 0, host::kShiftMask));
  script.push_back(CallAt(0.55, record));
  RunQuietglass(Screen(640, 480, "", 1), script);
  const FrmSetup& d = Dialog();
  const std::vector<const rt::Control*> want = {&d.Picture1, &d.Command1, &d.Picture1, &d.Command1,
                                                &d.Picture1};
  EXPECT_EQ(focus, want);
}

struct KeyCase {
  const char* what;
  std::vector<headless::Input> keys;
  bool ends;
};

TEST(SetupDialog, KeysOnTheLogoAndTheButton) {
  const KeyCase cases[] = {
      {"Enter on the logo", {KeyAt(0.1, vk::kReturn, 13)}, false},
      {"Escape on the logo", {KeyAt(0.1, vk::kEscape, 27)}, false},
      {"Space on the logo", {KeyAt(0.1, vk::kSpace, ' ')}, false},
      {"Alt+O anywhere", {KeyAt(0.1, 'O', 0, host::kAltMask)}, true},
      {"O without Alt", {KeyAt(0.1, 'O', 'o')}, false},
      {"Enter on the button", {KeyAt(0.1, vk::kTab), KeyAt(0.2, vk::kReturn, 13)}, true},
      {"Space on the button", {KeyAt(0.1, vk::kTab), KeyAt(0.2, vk::kSpace, ' ')}, true},
      {"Escape on the button", {KeyAt(0.1, vk::kTab), KeyAt(0.2, vk::kEscape, 27)}, false},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto result = RunQuietglass(Screen(640, 480, "", 1), c.keys);
    EXPECT_EQ(result.outcome, c.ends ? Outcome::Ended : Outcome::Stopped);
  }
}

TEST(SetupDialog, ButtonClicksOnReleaseInside) {
  const rt::PixelRect client = DialogClient();
  auto [bx, by] = Inside(client, Dialog().Command1);
  headless::Input down = headless::MoveAt(0.1, bx, by), up = down;
  down.kind = headless::InputKind::Down;
  up.kind = headless::InputKind::Up;
  auto moveAway = headless::MoveAt(0.2, bx - 100, by);
  up.at = 0.3;
  EXPECT_EQ(
      RunQuietglass(Screen(640, 480, "", 1), {headless::MoveAt(0.05, bx, by), down, moveAway, up})
          .outcome,
      Outcome::Stopped);
  EXPECT_EQ(RunQuietglass(Screen(640, 480, "", 1), {ClickAt(0.1, bx, by)}).outcome, Outcome::Ended);
}

TEST(SetupDialog, WindowManagerCloseEndsTheProgram) {
  headless::Input close;
  close.at = 0.4;
  close.kind = headless::InputKind::Close;
  const auto result = RunQuietglass(Screen(640, 480, "/c:1234", 1), {close});
  EXPECT_EQ(result.outcome, Outcome::Ended);
  EXPECT_EQ(result.endedAt, 0.4);
}

TEST(SetupDialog, AddressesAreReadOnlyFromTheKeyboardButSelectable) {
  const rt::PixelRect client = DialogClient();
  for (bool first : {true, false}) {
    SCOPED_TRACE(first ? "Text1" : "Text2");
    rt::TextBox& (*box)() = first ? +[]() -> rt::TextBox& { return Dialog().Text1; }
                                  : +[]() -> rt::TextBox& { return Dialog().Text2; };
    const auto [x, y] = Inside(client, box(), -40);
    headless::Input down = headless::MoveAt(0.1, x, y), drag = headless::MoveAt(0.15, x + 40, y),
                    up = drag;
    down.kind = headless::InputKind::Down;
    drag.button = host::kLeftButton;
    up.kind = headless::InputKind::Up;
    up.at = 0.2;
    std::string before, after;
    int selected = 0;
    bool focused = false;
    const auto result = RunQuietglass(
        Screen(640, 480, "", 2),
        {CallAt(0.05, [&] { before = box().Text(); }), headless::MoveAt(0.08, x, y), down, drag, up,
         CallAt(0.25,
                [&] {
                  selected = box().SelLength();
                  focused = box().HasFocus();
                }),
         KeyAt(0.3, 'X', 'x'), KeyAt(0.35, vk::kBack, 8), KeyAt(0.4, vk::kDelete),
         CallAt(0.6, [&] { after = box().Text(); })});
    EXPECT_EQ(result.outcome, Outcome::Stopped);
    EXPECT_TRUE(focused);
    EXPECT_GT(selected, 0);
    EXPECT_EQ(before.size(), 22u);
    EXPECT_EQ(after, before);
  }
}

rt::Picture Crop(const rt::Picture& screen, const rt::PixelRect& r) {
  rt::Picture out{r.width, r.height, {}};
  for (int y = r.y; y < r.bottom(); ++y)
    for (int x = r.x; x < r.right(); ++x) out.pixels.push_back(screen.at(x, y));
  return out;
}

TEST(SetupDialog, DoubleClickOnTheLogoShowsTheCreature) {
  const rt::PixelRect client = DialogClient();
  const rt::PixelRect logoBox = Dialog().Picture1.PixelBox();
  const rt::PixelRect inside{client.x + logoBox.x + 2, client.y + logoBox.y + 2, 32, 32};
  const auto [x, y] = Inside(client, Dialog().Picture1);
  rt::Picture opened, afterSingle, afterDouble, afterSecondDouble;
  const auto result = RunQuietglass(
      Screen(640, 480, "", 3),
      {CallAt(0.05, [&] { opened = Crop(headless::Capture(), inside); }), ClickAt(0.1, x, y),
       CallAt(0.7, [&] { afterSingle = Crop(headless::Capture(), inside); }), ClickAt(1.0, x, y),
       ClickAt(1.2, x, y), CallAt(1.3, [&] { afterDouble = Crop(headless::Capture(), inside); }),
       ClickAt(2.0, x, y), ClickAt(2.1, x, y),
       CallAt(2.2, [&] { afterSecondDouble = Crop(headless::Capture(), inside); })});
  EXPECT_EQ(result.outcome, Outcome::Stopped);
  const FrmSetup& d = Dialog();
  EXPECT_FALSE(d.Picture2.Visible());
  EXPECT_EQ(d.Picture1.GetPicture(), &d.Creature);
  // Before: the logo, fully opaque. After: the creature over the button face.
  int logoWrong = 0, creatureWrong = 0;
  for (int i = 0; i < 32 * 32; ++i) {
    logoWrong += opened.pixels[i] != d.Logo.pixels[i];
    const rt::Pixel c = d.Creature.pixels[i];
    creatureWrong += afterDouble.pixels[i] != ((c >> 24) ? c : rt::kButtonFace);
  }
  EXPECT_EQ(logoWrong, 0);
  EXPECT_EQ(creatureWrong, 0);
  EXPECT_EQ(afterSingle.pixels, opened.pixels);
  EXPECT_EQ(afterSecondDouble.pixels, afterDouble.pixels);
}

}  // namespace
