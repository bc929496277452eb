// Logo geometry: bar edges per row pair, the joint at the bottom of each V, and the band dithers.
#include "tools/artwork/logo.h"

#include <algorithm>
#include <span>

namespace artwork {
namespace {

constexpr int kBarWidth = 20;  // 18 px of colour, then the edge
constexpr int kColourWidth = 18;
constexpr int kMarkShift = 25;  // the second mark lies this far right of the first

// round(total * step / steps) for non-negative values.
constexpr int RoundedShare(int total, int step, int steps) {
  return (2 * total * step + steps) / (2 * steps);
}

// Order in which the positions of a 4-pixel run turn to the next band's colour.
constexpr std::array<int, 4> kDitherRank = {0, 2, 1, 3};

// A bar's pixel `offset` px right of its left edge: band colour, then a light and a dark edge.
rt::Pixel BarPixel(std::span<const Band> bands, int offset, int x, int y) {
  if (offset < kColourWidth) return BandColour(bands, x, y);
  return offset == kColourWidth ? kGreyLight : kGreyDark;
}

}  // namespace

// Long bar: x 320 on the top row pair, 260 on rows 264-265 and 230 on the bottom pair. Shapes
// repeat on both rows of a pair (the logo is drawn at double height).
int LongBarLeft(int y) {
  const int pair = (y - kLogoTop) / 2;
  constexpr int kUpperPairs = 49;  // from the top pair to rows 264-265
  constexpr int kLowerPairs = 25;  // from there to the bottom pair
  if (pair <= kUpperPairs) return 320 - RoundedShare(60, pair, kUpperPairs);
  return 260 - RoundedShare(30, pair - kUpperPairs, kLowerPairs);
}

// Short bar: x 200 on its top pair, 230 on the bottom pair.
int ShortBarLeft(int y) {
  constexpr int kPairs = 24;
  return 200 + RoundedShare(30, (y - kShortBarTop) / 2, kPairs);
}

int JointColumn(int longLeft, int shortLeft, int barWidth) {
  return std::max(longLeft, (longLeft + shortLeft + barWidth) / 2);
}

rt::Pixel BandColour(std::span<const Band> bands, int x, int y) {
  std::array<const Band*, 3> present{};
  int count = 0;
  for (const Band& band : bands) {
    if (band.firstRow <= y && y <= band.lastRow && count < 3) present[count++] = &band;
  }
  const int slot = (x + y) % 4;
  if (count == 1) return present[0]->colour;
  if (count == 2) {
    // Bands are listed top to bottom, so the first one is fading out and the second coming in,
    // a little more on every row of their shared rows.
    const Band& fading = *present[0];
    const Band& rising = *present[1];
    const int first = std::max(fading.firstRow, rising.firstRow);
    const int rows = std::min(fading.lastRow, rising.lastRow) - first + 1;
    const int risingShare = 1 + 3 * (y - first) / rows;  // of every 4 pixels
    return kDitherRank[slot] < risingShare ? rising.colour : fading.colour;
  }
  // Three bands meet where the short bars turn from deep to light blue: the middle one takes half.
  if (slot == 1) return present[0]->colour;
  if (slot == 3) return present[2]->colour;
  return present[1]->colour;
}

void DrawLogo(rt::Picture& canvas, int originX, int originY) {
  const auto put = [&](int x, int y, rt::Pixel colour) {
    const int cx = x - originX;
    const int cy = y - originY;
    if (cx >= 0 && cy >= 0 && cx < canvas.width && cy < canvas.height)
      canvas.pixels[static_cast<std::size_t>(cy) * canvas.width + cx] = colour;
  };
  // The right mark first, so that the left one lies in front where they cross.
  for (int shift : {kMarkShift, 0}) {
    for (int y = kLogoTop; y <= kLogoBottom; ++y) {
      const int longLeft = LongBarLeft(y) + shift;
      int joint = longLeft;  // the short bar, where there is one, ends left of the joint
      if (y >= kShortBarTop) {
        const int shortLeft = ShortBarLeft(y) + shift;
        joint = JointColumn(longLeft, shortLeft, kBarWidth);
        for (int x = shortLeft; x < std::min(shortLeft + kBarWidth, joint); ++x)
          put(x, y, BarPixel(kShortBarBands, x - shortLeft, x, y));
      }
      for (int x = joint; x < longLeft + kBarWidth; ++x)
        put(x, y, BarPixel(kLongBarBands, x - longLeft, x, y));
    }
  }
}

}  // namespace artwork
