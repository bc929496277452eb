// The disk picture: a blue floppy seen from the front, shutter at the top, label running off the
// bottom edge. The disk fills the picture; only its cut corners and notches show the background.
#include <array>

#include "tools/artwork/dithers.h"
#include "tools/artwork/pictures.h"

namespace artwork {
namespace {

enum class Fill { kDark, kShutter, kLabel, kCut };

struct Area {
  int left, top, right, bottom;  // inclusive
  Fill fill;
};

// Drawn in order over the blue body; later areas cover earlier ones.
constexpr std::array kAreas = {
    // Recess left of the shutter, narrower where the notch bites into the top edge.
    Area{18, 0, 33, 1, Fill::kDark}, Area{14, 2, 33, 39, Fill::kDark},
    Area{16, 40, 35, 41, Fill::kDark},
    // Shutter, its bottom two rows set in by 2 px, and its window.
    Area{34, 0, 103, 39, Fill::kShutter}, Area{36, 40, 101, 41, Fill::kShutter},
    Area{75, 8, 88, 37, Fill::kDark},
    // Cross mark at the top left: an upright bar with a widening foot at rows 8-11.
    Area{6, 6, 7, 15, Fill::kDark}, Area{6, 8, 8, 8, Fill::kDark}, Area{5, 9, 8, 9, Fill::kDark},
    Area{4, 10, 9, 11, Fill::kDark},
    // Small rectangular mark at the bottom left.
    Area{4, 110, 9, 113, Fill::kDark},
    // Label frame: top bar, sides 4 px wide on their first four rows, then 2 px.
    Area{16, 52, 119, 53, Fill::kDark}, Area{14, 54, 17, 57, Fill::kDark},
    Area{118, 54, 121, 57, Fill::kDark}, Area{14, 58, 15, 119, Fill::kDark},
    Area{120, 58, 121, 119, Fill::kDark},
    // Label.
    Area{18, 54, 117, 57, Fill::kLabel}, Area{16, 58, 119, 119, Fill::kLabel},
    // Cut corners and the notches in the top edge.
    Area{0, 0, 3, 1, Fill::kCut}, Area{0, 2, 1, 3, Fill::kCut}, Area{126, 0, 133, 1, Fill::kCut},
    Area{128, 2, 133, 3, Fill::kCut}, Area{130, 4, 133, 5, Fill::kCut},
    Area{132, 6, 133, 7, Fill::kCut}, Area{14, 0, 17, 1, Fill::kCut},
    Area{104, 0, 105, 1, Fill::kCut}};

rt::Pixel FillColour(Fill fill, int x, int y) {
  switch (fill) {
    case Fill::kDark:
      return DarkDither(x, y);
    case Fill::kShutter:
      return ShutterDither(x, y);
    case Fill::kLabel:
      return kWhite;
    case Fill::kCut:
      return kPurple;
  }
  return kPurple;
}

}  // namespace

rt::Picture DrawDisk() {
  rt::Picture canvas{kDiskWidth, kDiskHeight, {}};
  canvas.pixels.resize(static_cast<std::size_t>(kDiskWidth) * kDiskHeight);
  for (int y = 0; y < kDiskHeight; ++y) {
    for (int x = 0; x < kDiskWidth; ++x)
      canvas.pixels[static_cast<std::size_t>(y) * kDiskWidth + x] = BlueDither(x, y);
  }
  for (const Area& area : kAreas) {
    for (int y = area.top; y <= area.bottom; ++y) {
      for (int x = area.left; x <= area.right; ++x)
        canvas.pixels[static_cast<std::size_t>(y) * kDiskWidth + x] = FillColour(area.fill, x, y);
    }
  }
  return canvas;
}

}  // namespace artwork
