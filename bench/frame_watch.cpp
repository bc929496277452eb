// quietglass_frame_watch: starts a program on the current X display and reports how long it took
// until the saver's whole first frame was on the screen, then waits for the program to end.
//   quietglass_frame_watch [--timeout SECONDS] -- PROGRAM ARGS...
// Prints "pid N" and then "first_frame_ms T" (or "first_frame_ms none" on a timeout, after which
// the program is ended). The frame it waits for is the one the headless host composes for the
// same screen size, so the comparison is pixel-exact.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/headless.h"
#include "platform/picture.h"
#include "startup/module1.h"

// Xlib last: it defines macros (KeyPress, None, ...) that clash with names in the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char** environ;

namespace {

// The artwork's size in pixels; it sits centred on the screen.
constexpr int kArtworkWidth = 800, kArtworkHeight = 600;
// Where the disk may be on the artwork during the first ticks; it moves, so it is not compared.
constexpr rt::PixelRect kDiskArea{570, 262, 134, 174};
constexpr long kPollNanos = 500'000;  // 0.5 ms between looks

double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Turns an X pixel value of a true-colour visual into 0xRRGGBB.
struct ColourFormat {
  unsigned long redMask = 0, greenMask = 0, blueMask = 0;

  static int Shift(unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
      mask >>= 1;
      ++shift;
    }
    return shift;
  }
  static std::uint32_t Channel(unsigned long value, unsigned long mask) {
    const unsigned long bits = (value & mask) >> Shift(mask);
    const unsigned long max = mask >> Shift(mask);
    return max == 0 ? 0 : static_cast<std::uint32_t>(bits * 255 / max);
  }
  std::uint32_t Rgb(unsigned long value) const {
    return Channel(value, redMask) << 16 | Channel(value, greenMask) << 8 |
           Channel(value, blueMask);
  }
};

struct Probe {
  int x, y;
  std::uint32_t rgb;
};

class RootScreen {
 public:
  explicit RootScreen(Display* display) : display_(display), root_(DefaultRootWindow(display)) {
    const Visual* visual = DefaultVisual(display, DefaultScreen(display));
    format_ = {visual->red_mask, visual->green_mask, visual->blue_mask};
    width_ = DisplayWidth(display, DefaultScreen(display));
    height_ = DisplayHeight(display, DefaultScreen(display));
  }
  int width() const { return width_; }
  int height() const { return height_; }

  // Reads a rectangle of the screen as 0xRRGGBB values, row by row; empty when X refused.
  std::vector<std::uint32_t> Read(const rt::PixelRect& rect) const {
    std::vector<std::uint32_t> rgb;
    XImage* image = XGetImage(display_, root_, rect.x, rect.y, static_cast<unsigned>(rect.width),
                              static_cast<unsigned>(rect.height), AllPlanes, ZPixmap);
    if (image == nullptr) return rgb;
    rgb.reserve(static_cast<std::size_t>(rect.width) * rect.height);
    for (int y = 0; y < rect.height; ++y)
      for (int x = 0; x < rect.width; ++x) rgb.push_back(format_.Rgb(XGetPixel(image, x, y)));
    XDestroyImage(image);
    return rgb;
  }

  bool Matches(const Probe& probe) const {
    const auto rgb = Read({probe.x, probe.y, 1, 1});
    return !rgb.empty() && rgb[0] == probe.rgb;
  }

 private:
  Display* display_;
  Window root_;
  ColourFormat format_;
  int width_ = 0, height_ = 0;
};

std::uint32_t RgbOf(rt::Pixel pixel) {
  return pixel & 0xFFFFFFu;
}

// The saver's first frame on a screen of this size, as the headless host composes it.
rt::Picture ExpectedFirstFrame(int width, int height) {
  headless::Config config;
  config.screen = {width, height};
  config.commandLine = "/S";
  config.runSeconds = 0;  // stops right after the first paint
  headless::Run(config, {}, RunProgram);
  return headless::Capture();
}

rt::PixelRect ArtworkOn(const rt::Picture& frame) {
  const rt::PixelRect artwork{(frame.width - kArtworkWidth) / 2,
                              (frame.height - kArtworkHeight) / 2, kArtworkWidth, kArtworkHeight};
  return rt::Intersect(artwork, {0, 0, frame.width, frame.height});
}

// A few pixels that are right only once the frame is complete: the band at the screen's corners
// and, in each cell of a grid over the artwork, its last pixel that differs from the band (the
// artwork's edges are the band's colour, so its own corners would match an empty window).
std::vector<Probe> ProbesOf(const rt::Picture& frame) {
  constexpr int kCells = 4;
  std::vector<Probe> probes;
  for (const auto& [x, y] :
       {std::pair{0, 0}, std::pair{frame.width - 1, 0}, std::pair{0, frame.height - 1},
        std::pair{frame.width - 1, frame.height - 1}})
    probes.push_back({x, y, RgbOf(frame.at(x, y))});
  const std::uint32_t band = probes.front().rgb;
  const rt::PixelRect art = ArtworkOn(frame);
  for (int row = 0; row < kCells; ++row) {
    for (int column = 0; column < kCells; ++column) {
      const int left = art.x + art.width * column / kCells;
      const int right = art.x + art.width * (column + 1) / kCells;
      const int top = art.y + art.height * row / kCells;
      const int bottom = art.y + art.height * (row + 1) / kCells;
      bool found = false;
      for (int y = bottom - 1; y >= top && !found; --y)
        for (int x = right - 1; x >= left && !found; --x)
          if (RgbOf(frame.at(x, y)) != band) {
            probes.push_back({x, y, RgbOf(frame.at(x, y))});
            found = true;
          }
    }
  }
  return probes;
}

// Pixels of the artwork that differ from the expected frame, the disk's path left out.
long ArtworkMismatches(const RootScreen& screen, const rt::Picture& frame) {
  const rt::PixelRect art = ArtworkOn(frame);
  const auto rgb = screen.Read(art);
  if (rgb.empty()) return art.area();
  const rt::PixelRect disk{art.x + kDiskArea.x, art.y + kDiskArea.y, kDiskArea.width,
                           kDiskArea.height};
  long mismatches = 0;
  for (int y = art.y; y < art.bottom(); ++y)
    for (int x = art.x; x < art.right(); ++x)
      if (!disk.contains(x, y) &&
          rgb[static_cast<std::size_t>(y - art.y) * art.width + (x - art.x)] !=
              RgbOf(frame.at(x, y)))
        ++mismatches;
  return mismatches;
}

bool AllMatch(const RootScreen& screen, const std::vector<Probe>& probes) {
  for (const Probe& probe : probes)
    if (!screen.Matches(probe)) return false;
  return true;
}

int Usage(const char* why) {
  std::fprintf(stderr,
               "quietglass_frame_watch: %s\nusage: quietglass_frame_watch [--timeout SECONDS] -- "
               "PROGRAM ARGS...\n",
               why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  double timeout = 10;
  int programAt = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") {
      programAt = i + 1;
      break;
    }
    if (arg == "--timeout" && i + 1 < argc) {
      timeout = std::atof(argv[++i]);
    } else {
      return Usage("unknown option");
    }
  }
  if (programAt < 0 || programAt >= argc) return Usage("no program given");

  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return Usage("cannot open the display (is DISPLAY set?)");
  const RootScreen screen(display);
  const rt::Picture expected = ExpectedFirstFrame(screen.width(), screen.height());
  const std::vector<Probe> probes = ProbesOf(expected);
  if (AllMatch(screen, probes) && ArtworkMismatches(screen, expected) == 0)
    return Usage("the screen already shows the frame; use a fresh display");

  pid_t pid = 0;
  const double start = MonotonicSeconds();
  if (posix_spawn(&pid, argv[programAt], nullptr, nullptr, argv + programAt, environ) != 0) {
    std::perror("quietglass_frame_watch: cannot start the program");
    return 2;
  }
  std::printf("pid %d\n", static_cast<int>(pid));
  std::fflush(stdout);

  double firstFrame = -1;
  while (MonotonicSeconds() - start < timeout) {
    if (AllMatch(screen, probes)) {
      const double seen = MonotonicSeconds();
      if (ArtworkMismatches(screen, expected) == 0) {
        firstFrame = seen - start;
        break;
      }
    }
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      std::printf("first_frame_ms none\n");
      std::fprintf(stderr, "quietglass_frame_watch: the program ended before its first frame\n");
      return 1;
    }
    const timespec pause{0, kPollNanos};
    nanosleep(&pause, nullptr);
  }
  if (firstFrame < 0) {
    std::printf("first_frame_ms none\n");
    std::fflush(stdout);
    kill(pid, SIGTERM);
  } else {
    std::printf("first_frame_ms %.1f\n", firstFrame * 1000);
    std::fflush(stdout);
  }
  XCloseDisplay(display);
  int status = 0;
  waitpid(pid, &status, 0);
  return firstFrame < 0 ? 1 : 0;
}
