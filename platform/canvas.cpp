// Drawing into a canvas: flat fills, pictures (natural size or stretched) and lines of text.
#include "platform/canvas.h"

#include <algorithm>

namespace rt {

void Canvas::Fill(const PixelRect& rect, Pixel colour) {
  const PixelRect r = Intersect(rect, clip);
  for (int y = r.y; y < r.bottom(); ++y) {
    Pixel* row = pixels + (y - area.y) * stride + (r.x - area.x);
    std::fill(row, row + r.width, colour);
  }
}

namespace {

// The source column of each drawn column when `width` columns stretch over `boxWidth`: a
// running remainder instead of a division per pixel, giving (x * width / boxWidth).
struct ColumnStep {
  ColumnStep(int width, int boxWidth, int firstX)
      : width(width),
        boxWidth(boxWidth),
        column(static_cast<int>(static_cast<long long>(firstX) * width / boxWidth)),
        rest(static_cast<long long>(firstX) * width % boxWidth) {}
  void next() {
    rest += width;
    while (rest >= boxWidth) {
      rest -= boxWidth;
      ++column;
    }
  }
  int width, boxWidth, column;
  long long rest;
};

// One row of a picture read in place: always opaque, each index looked up in the palette.
void DrawIndexedRow(const Picture& picture, int sy, const PixelRect& box, const PixelRect& r,
                    bool stretch, Pixel* dst) {
  const std::uint8_t* src = picture.indexRow(sy);
  const Pixel* palette = picture.palette.data();
  if (!stretch || box.width == picture.width) {
    const std::uint8_t* from = src + (r.x - box.x);
    for (int i = 0; i < r.width; ++i) dst[i] = palette[from[i]];
    return;
  }
  ColumnStep step(picture.width, box.width, r.x - box.x);
  for (int i = 0; i < r.width; ++i, step.next()) dst[i] = palette[src[step.column]];
}

}  // namespace

void DrawPicture(Canvas& canvas, const Picture& picture, const PixelRect& box, bool stretch) {
  if (picture.empty() || box.empty()) return;
  // At natural size the picture sits in the box's top-left corner; stretched, it fills the box
  // (nearest pixel, so the disk squeezes without blurring its dithers).
  const int drawWidth = stretch ? box.width : picture.width;
  const int drawHeight = stretch ? box.height : picture.height;
  const PixelRect r = Intersect(Intersect(canvas.clip, box), {box.x, box.y, drawWidth, drawHeight});
  for (int y = r.y; y < r.bottom(); ++y) {
    const int sy =
        stretch ? static_cast<int>(static_cast<long long>(y - box.y) * picture.height / box.height)
                : y - box.y;
    Pixel* dst = canvas.pixels + (y - canvas.area.y) * canvas.stride + (r.x - canvas.area.x);
    if (picture.indexed()) {
      DrawIndexedRow(picture, sy, box, r, stretch, dst);
      continue;
    }
    const Pixel* src = picture.pixels.data() + static_cast<std::size_t>(sy) * picture.width;
    if (!stretch || box.width == picture.width) {  // columns one to one (the disk keeps its width)
      const Pixel* from = src + (r.x - box.x);
      if (picture.opaque) {
        std::copy(from, from + r.width, dst);
      } else {
        // A select rather than a branch, so the row copies in vector registers.
        for (int i = 0; i < r.width; ++i) dst[i] = (from[i] >> 24) ? from[i] : dst[i];
      }
      continue;
    }
    ColumnStep step(picture.width, box.width, r.x - box.x);
    for (int i = 0; i < r.width; ++i, step.next()) {
      const Pixel p = src[step.column];
      if (p >> 24) dst[i] = p;  // transparent icon pixels show what lies below
    }
  }
}

void DrawText(Canvas& canvas, int x, int top, const BitmapFont& font, std::string_view utf8,
              Pixel colour, int underlineIndex) {
  const PixelRect area = Intersect(canvas.clip, canvas.area);
  if (area.empty() || canvas.pixels == nullptr) return;
  const auto plot = [&](int px, int py) { canvas.Put(px, py, colour); };
  int penX = x;
  for (std::size_t pos = 0; pos < utf8.size();) {
    const std::size_t charStart = pos;
    const Glyph& glyph = FindGlyph(font, NextCodePoint(utf8, pos));
    const int left = penX + glyph.left;
    const int glyphTop = top + glyph.top;
    // Whole glyphs outside the area are skipped without looking at their bits.
    const PixelRect box{left, glyphTop, glyph.width, glyph.height};
    if (!Intersect(box, area).empty()) {
      for (int row = 0; row < glyph.height; ++row) {
        for (int col = 0; col < glyph.width; ++col) {
          if (GlyphPixel(font, glyph, col, row)) plot(left + col, glyphTop + row);
        }
      }
    }
    if (static_cast<int>(charStart) == underlineIndex) {
      const int firstRow = top + font.ascent + font.underlineOffset;
      for (int row = firstRow; row < firstRow + font.underlineThickness; ++row) {
        for (int col = penX; col < penX + glyph.advance; ++col) plot(col, row);
      }
    }
    penX += glyph.advance;
  }
}

}  // namespace rt
