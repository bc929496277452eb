// Pixel rectangles and the twips-to-pixels rule shared by the runtime and the hosts.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace rt {

// Positions in program code are twips; the runtime assumes the standard 96 dots per inch.
constexpr float kTwipsPerPixel = 15.0f;

// Halves round up, below zero too: pictures whose edges lie half a pixel off the grid (the
// artwork centred on an odd-sized screen) keep their distance in pixels.
inline int TwipsToPixels(float twips) {
  return static_cast<int>(std::floor(static_cast<double>(twips) / kTwipsPerPixel + 0.5));
}
inline float PixelsToTwips(int pixels) {
  return static_cast<float>(pixels) * kTwipsPerPixel;
}

struct PixelSize {
  int width = 0;
  int height = 0;
  bool operator==(const PixelSize&) const = default;
};

struct PixelPoint {
  int x = 0;
  int y = 0;
  bool operator==(const PixelPoint&) const = default;
};

// A rectangle of pixels; empty when either side is 0 or less.
struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool empty() const { return width <= 0 || height <= 0; }
  int right() const { return x + width; }    // one past the last column
  int bottom() const { return y + height; }  // one past the last row
  long long area() const { return empty() ? 0 : static_cast<long long>(width) * height; }
  bool contains(int px, int py) const {
    return px >= x && px < right() && py >= y && py < bottom();
  }
  bool operator==(const PixelRect&) const = default;
};

inline PixelRect Intersect(const PixelRect& a, const PixelRect& b) {
  const int x = std::max(a.x, b.x), y = std::max(a.y, b.y);
  const int r = std::min(a.right(), b.right()), btm = std::min(a.bottom(), b.bottom());
  if (r <= x || btm <= y) return {};
  return {x, y, r - x, btm - y};
}

// The smallest rectangle holding both; an empty side is ignored.
inline PixelRect Union(const PixelRect& a, const PixelRect& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  const int x = std::min(a.x, b.x), y = std::min(a.y, b.y);
  return {x, y, std::max(a.right(), b.right()) - x, std::max(a.bottom(), b.bottom()) - y};
}

// Adds `rect` to a list of areas to redraw. Past a few rectangles, one covering them all costs
// less than the work of each: more than 8 become their bounding box.
inline void AddToBoundedList(std::vector<PixelRect>& rects, const PixelRect& rect) {
  if (rect.empty()) return;
  rects.push_back(rect);
  if (rects.size() <= 8) return;
  PixelRect all;
  for (const PixelRect& r : rects) all = Union(all, r);
  rects.assign(1, all);
}

}  // namespace rt
