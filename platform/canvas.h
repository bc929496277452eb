// Where controls paint: a window-pixel rectangle of a buffer with a clip, and the two things drawn
// into it besides flat fills: pictures and lines of text.
#pragma once

#include <string_view>

#include "platform/font.h"
#include "platform/geometry.h"
#include "platform/picture.h"

namespace rt {

// `pixels` covers `area` (window pixels), `stride` pixels from one row to the next; nothing
// outside `clip` changes.
struct Canvas {
  Pixel* pixels = nullptr;
  int stride = 0;
  PixelRect area;
  PixelRect clip;

  void Fill(const PixelRect& rect, Pixel colour);
  void Put(int x, int y, Pixel colour) {
    if (clip.contains(x, y) && area.contains(x, y))
      pixels[(y - area.y) * stride + (x - area.x)] = colour;
  }
};

// Draws `picture` into `box` (window pixels): at natural size from the box's top-left corner, or
// stretched to fill it. Transparent pixels leave what is below.
void DrawPicture(Canvas& canvas, const Picture& picture, const PixelRect& box, bool stretch);

// Draws one line of text with its left edge at column `x` and the line's top at row `top`,
// setting glyph pixels to `colour`. When `underlineIndex` is the byte index of a character in
// `utf8`, that character's advance is underlined.
void DrawText(Canvas& canvas, int x, int top, const BitmapFont& font, std::string_view utf8,
              Pixel colour, int underlineIndex = -1);

}  // namespace rt
