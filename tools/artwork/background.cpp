// The background picture: dark purple, the logo at the upper left, the text block below it and the
// drive at the right.
#include <array>
#include <string_view>

#include "tools/artwork/dithers.h"
#include "tools/artwork/font.h"
#include "tools/artwork/logo.h"
#include "tools/artwork/pictures.h"

namespace artwork {
namespace {

constexpr std::array<std::u32string_view, 4> kTextLines = {
    U"3.1 boot    12.5", U"Copyright © 1991-1994", U"Pellwin Systems, Ltd.",
    U"All Rights Reserved."};
constexpr int kTextLeft = 160;
constexpr int kTextTop = 344;
constexpr int kLinePitch = 24;

struct Box {
  int left, top, right, bottom;  // inclusive
};

constexpr Box kDrive = {560, 266, 715, 303};
constexpr Box kSlot = {kDrive.left + 8, kDrive.top + 6, kDrive.right - 8, 279};
constexpr Box kActivityLight = {585, 294, 592, 295};
constexpr Box kEjectButton = {678, 288, 702, 295};
constexpr int kEjectRightSideBottom = 291;  // the right side is shorter than the left

void Put(rt::Picture& canvas, int x, int y, rt::Pixel colour) {
  canvas.pixels[static_cast<std::size_t>(y) * canvas.width + x] = colour;
}

template <typename ColourAt>
void Fill(rt::Picture& canvas, const Box& box, ColourAt colourAt) {
  for (int y = box.top; y <= box.bottom; ++y) {
    for (int x = box.left; x <= box.right; ++x) Put(canvas, x, y, colourAt(x, y));
  }
}

// Top bar two rows thick, sides one pixel wide; the button's inside and open bottom stay drive
// body.
void DrawEjectButton(rt::Picture& canvas) {
  const Box& b = kEjectButton;
  for (int x = b.left; x <= b.right; ++x) {
    Put(canvas, x, b.top, x % 2 == 0 ? kEjectLight : kGreyDark);
    Put(canvas, x, b.top + 1, x % 2 == 0 ? kEjectShadow : x % 4 == 1 ? kEjectLight : kGreyDark);
  }
  const auto side = [](int y) { return y % 2 == 0 ? kEjectLight : kEjectShadow; };
  for (int y = b.top; y <= b.bottom; ++y) Put(canvas, b.left, y, side(y));
  for (int y = b.top; y <= kEjectRightSideBottom; ++y) Put(canvas, b.right, y, side(y));
}

void DrawDrive(rt::Picture& canvas) {
  const auto black = [](int, int) { return kBlack; };
  Fill(canvas, kDrive, SalmonDither);
  Fill(canvas, kSlot, black);
  Fill(canvas, kActivityLight, black);
  DrawEjectButton(canvas);
}

}  // namespace

rt::Picture DrawBackground() {
  rt::Picture canvas{kBackgroundWidth, kBackgroundHeight, {}};
  canvas.pixels.assign(static_cast<std::size_t>(kBackgroundWidth) * kBackgroundHeight, kPurple);
  DrawLogo(canvas, 0, 0);
  for (std::size_t line = 0; line < kTextLines.size(); ++line)
    DrawTextLine(canvas, kTextLines[line], kTextLeft,
                 kTextTop + kLinePitch * static_cast<int>(line));
  DrawDrive(canvas);
  return canvas;
}

}  // namespace artwork
