// What the display-mode tests share: the headless picture of a screen, windows like the ones
// xscreensaver hands its display modes, and comparisons that leave out the disk's column, where
// the animation changes pixels from one moment to the next.
#pragma once

#include <cstdio>
#include <sstream>
#include <string>

#include "platform/headless.h"
#include "platform/runtime.h"
#include "startup/module1.h"

// Last: it brings Xlib, whose macros would rename names in the headers above.
#include "tests/x11/x11_harness.h"

namespace x11_e2e {

// The headless host's screen of `width` x `height` before the first animation tick.
inline rt::Picture HeadlessSaver(int width, int height) {
  headless::Config config;
  config.screen = {width, height};
  config.runSeconds = 0.1;
  headless::Run(config, {}, RunProgram);
  rt::Picture picture = headless::Capture();
  for (rt::Pixel& p : picture.pixels) p &= 0xFFFFFF;
  return picture;
}

// The screen columns the disk passes through on a screen `width` wide (an even width): the
// artwork's x 570 to 703, the artwork centred.
struct DiskColumns {
  int left, right;
  explicit DiskColumns(int width) : left((width - 800) / 2 + 570), right((width - 800) / 2 + 704) {}
  bool contains(int x) const { return x >= left && x < right; }
};

inline std::string Hex(unsigned long id) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", id);
  return text;
}

// A mapped window as xscreensaver makes one for a display mode: override-redirect, black, of
// `depth` bits (0: the screen's own visual).
inline Window MakeTargetWindow(Display* d, const rt::PixelRect& r, int depth = 0) {
  const int screen = DefaultScreen(d);
  XSetWindowAttributes a{};
  a.background_pixel = 0;
  a.border_pixel = 0;
  a.override_redirect = True;
  unsigned long mask = CWBackPixel | CWBorderPixel | CWOverrideRedirect;
  Visual* visual = CopyFromParent;
  XVisualInfo info{};
  if (depth != 0) {
    if (!XMatchVisualInfo(d, screen, depth, TrueColor, &info)) return 0;
    visual = info.visual;
    a.colormap = XCreateColormap(d, RootWindow(d, screen), visual, AllocNone);
    mask |= CWColormap;
  }
  const Window window =
      XCreateWindow(d, RootWindow(d, screen), r.x, r.y, r.width, r.height, 0,
                    depth != 0 ? depth : CopyFromParent, InputOutput, visual, mask, &a);
  XMapWindow(d, window);
  XSync(d, False);
  return window;
}

// A window's pixels as 0xRRGGBB; empty when the window is gone.
inline rt::Picture WindowImage(Display* d, Window window, int width, int height) {
  XImage* image = XGetImage(d, window, 0, 0, width, height, AllPlanes, ZPixmap);
  rt::Picture picture{width, height, {}};
  if (image == nullptr) return {};
  picture.pixels.resize(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      picture.pixels[static_cast<std::size_t>(y) * width + x] =
          static_cast<rt::Pixel>(XGetPixel(image, x, y)) & 0xFFFFFF;
  XDestroyImage(image);
  return picture;
}

// Pixels of `shot` from (`left`, `top`) that differ from `want` outside the disk's column, the
// first one described.
inline long DifferencesBesideTheDisk(const rt::Picture& shot, int left, int top,
                                     const rt::Picture& want, std::string& first) {
  if (shot.width < left + want.width || shot.height < top + want.height) {
    first = "no picture";
    return -1;
  }
  const DiskColumns disk(want.width);
  long count = 0;
  for (int y = 0; y < want.height; ++y)
    for (int x = 0; x < want.width; ++x) {
      if (disk.contains(x) || shot.at(left + x, top + y) == want.at(x, y)) continue;
      if (count++ == 0) {
        std::ostringstream text;
        text << "(" << x << ", " << y << ") is " << std::hex << shot.at(left + x, top + y)
             << ", not " << want.at(x, y);
        first = text.str();
      }
    }
  return count;
}

}  // namespace x11_e2e
