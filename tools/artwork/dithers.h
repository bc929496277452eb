// The fixed 4 x 4 ordered dithers of the artwork, tied to each picture's own coordinates.
#pragma once

#include "tools/artwork/palette.h"

namespace artwork {

// Drive body and text: 6 of every 16 pixels dark.
constexpr rt::Pixel SalmonDither(int x, int y) {
  const bool dark =
      (y % 2 == 1 && x % 2 == 0) || (y % 4 == 2 && x % 4 == 1) || (y % 4 == 0 && x % 4 == 3);
  return dark ? kSalmonDark : kSalmonLight;
}

// The disk's blue dots: 6 of every 16 pixels.
constexpr bool BlueDot(int x, int y) {
  return (y % 2 == 1 && x % 2 == 0) || (y % 4 == 0 && x % 4 == 1) || (y % 4 == 2 && x % 4 == 3);
}

// Disk body.
constexpr rt::Pixel BlueDither(int x, int y) {
  return BlueDot(x, y) ? kBlueDark : kBlueLight;
}

// Disk recess, shutter window, label frame and marks: the blue dots, deeper on odd rows.
constexpr rt::Pixel DarkDither(int x, int y) {
  if (!BlueDot(x, y)) return kNavy;
  return y % 2 == 0 ? kBlueDark : kNavyDeep;
}

// Disk shutter: 5 of every 16 pixels light.
constexpr rt::Pixel ShutterDither(int x, int y) {
  const bool light = (y % 2 == 0 && x % 2 == 0) || (y % 4 == 1 && x % 4 == 3);
  return light ? kGreyLight : kGreyDark;
}

}  // namespace artwork
