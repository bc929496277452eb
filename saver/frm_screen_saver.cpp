// The saver window's layout, its placement of the artwork, the exit check and the animation tick.
#include "saver/frm_screen_saver.h"

#include "assets/assets.h"
#include "platform/runtime.h"
#include "startup/module1.h"

namespace {

// Offsets in the artwork, in twips (15 twips a pixel): where the disk starts below and right of
// the artwork's top-left corner, and the drive's slot, where a cycle restarts.
constexpr float kDiskStartOffset = 4740;    // 316 px
constexpr float kDiskLeftOffset = 8550;     // 570 px
constexpr float kFinishLine = 4080;         // 272 px
constexpr float kArtworkWidth = 12000;      // 800 px, the background's natural size
constexpr float kArtworkHeight = 9000;      // 600 px
constexpr float kDiskWidth = 2010;          // 134 px, the disk's natural size
constexpr std::int16_t kFullHeight = 1800;  // 120 px
constexpr std::int16_t kShrinkPerTick = 150;
constexpr float kRisePerTick = 60;
constexpr std::int16_t kHoldTicks = 5;

}  // namespace

frmScreenSaver::frmScreenSaver()
    : Background(rt::LoadBuiltInPicture(assets::BackgroundBmp())),
      Disk(rt::LoadBuiltInPicture(assets::DiskBmp())),
      ProgramIcon(rt::LoadBuiltInIcon(assets::ProgramIcon(), 8)) {
  // Maximized by its load handler, so it covers every monitor without a frame; the purple
  // matches the artwork's edges, so the band around it is seamless.
  Caption = "";
  ControlBox = false;
  MinButton = false;
  MaxButton = false;
  BackColor = rt::Rgb(49, 0, 49);
  Icon = &ProgramIcon;
  ClientWidth = kArtworkWidth;
  ClientHeight = kArtworkHeight;

  Image1.SetPicture(&Background);
  Image1.Move(0, 0, kArtworkWidth, kArtworkHeight);
  Image2.SetPicture(&Disk);
  Image2.SetStretch(true);  // a shorter box squeezes the whole disk
  Image2.Move(kDiskLeftOffset, kDiskStartOffset, kDiskWidth, kFullHeight);
  tmrAnimation.SetInterval(kTickMilliseconds);

  OnLoad = [this] { Form_Load(); };
  OnResize = [this] { Form_Resize(); };
  OnKeyDown = [this](std::int16_t& keyCode, std::int16_t& shift) { Form_KeyDown(keyCode, shift); };
  OnMouseDown = [this](std::int16_t b, std::int16_t s, float x, float y) {
    Form_MouseDown(b, s, x, y);
  };
  OnMouseMove = [this](std::int16_t b, std::int16_t s, float x, float y) {
    Form_MouseMove(b, s, x, y);
  };
  tmrAnimation.OnTimer = [this] { tmrAnimation_Timer(); };
}

void frmScreenSaver::Form_Load() {
  SetWindowState(rt::WindowState::Maximized);
  AlignPic();
  Module1.IgnoreNextMove = true;
}

// The screen changed (a monitor plugged in, a new resolution): the artwork goes back to the
// middle of the primary monitor, and a disk on its way keeps its place on the artwork, so the
// cycle goes on as if the screen had always had the new size.
void frmScreenSaver::Form_Resize() {
  const float oldTop = Image1.Top();
  AlignPic();
  if (DiskHeight < 1) return;  // no tick yet: the disk is at its start, where AlignPic put it
  DiskTop += Image1.Top() - oldTop;
  Image2.SetTop(DiskTop);
}

void frmScreenSaver::AlignPic() {
  // The screen's size (the primary monitor's), not the window's, which covers every monitor.
  Image1.SetTop((rt::ScreenHeightTwips() - Image1.Height()) / 2);
  Image1.SetLeft((rt::ScreenWidthTwips() - Image1.Width()) / 2);
  Image2.SetTop(Image1.Top() + kDiskStartOffset);
  Image2.SetLeft(Image1.Left() + kDiskLeftOffset);
}

void frmScreenSaver::Form_KeyDown(std::int16_t&, std::int16_t&) {
  const float keyPosition = -1;  // a key reports the impossible pointer position (-1, -1)
  CheckActivity(keyPosition, keyPosition);
}

void frmScreenSaver::Form_MouseDown(std::int16_t, std::int16_t, float X, float Y) {
  CheckActivity(X, Y);
}

void frmScreenSaver::Form_MouseMove(std::int16_t, std::int16_t, float X, float Y) {
  CheckActivity(X, Y);
}

void frmScreenSaver::CheckActivity(const float& X, const float& Y) {
  if (X == Module1.LastMouseX && Y == Module1.LastMouseY) return;  // nothing moved
  Module1.LastMouseX = X;
  Module1.LastMouseY = Y;
  if (X == -1 || !Module1.IgnoreNextMove) EndSaver();
  // The first changed position (the window system's report when the window appears) starts a
  // one-second grace period; a nested call during it only clears the flag.
  Pause(1);
  Module1.IgnoreNextMove = false;
}

void frmScreenSaver::EndSaver() {
  rt::EndProgram();
}

void frmScreenSaver::tmrAnimation_Timer() {
  if (HoldTicks > 0) {
    --HoldTicks;
    Image2.SetVisible(true);
    return;
  }
  if (DiskHeight < 1) {
    DiskHeight = kFullHeight;  // the very first tick; DiskTop is left as it is
  } else {
    DiskHeight = static_cast<std::int16_t>(DiskHeight - kShrinkPerTick);
    DiskTop -= kRisePerTick;
  }
  // The artwork's top is read every tick, so the disk follows the artwork should it move.
  const float artworkTop = Image1.Top();
  if (DiskTop <= artworkTop + kFinishLine) {
    DiskTop = artworkTop + kDiskStartOffset;
    DiskHeight = kFullHeight;
    HoldTicks = kHoldTicks;
    if (HasCycled == 1)
      Image2.SetVisible(false);  // from the second restart on, the disk vanishes for a tick
    else
      HasCycled = 1;
  }
  Image2.SetHeight(DiskHeight);
  Image2.SetTop(DiskTop);
}
