// xscreensaver's display modes on X11: drawing into a window xscreensaver names, scaled down
// into a preview, one copy per window.
#include <X11/Xatom.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/posix/posix.h"
#include "platform/x11/x11_internal.h"

namespace host {
namespace {

using namespace x11_detail;

// xscreensaver runs `quietglass --root` with XSCREENSAVER_WINDOW naming a window of one monitor's
// size, one process per monitor; its settings run `--root --window-id ID` into a small preview.
// The window and the input stay xscreensaver's: no window of our own, no grab, no pointer warp
// (a moved pointer would wake xscreensaver), and no key or pointer event is selected, so the
// saver's exit on input never fires. It runs until SIGTERM, the window's destruction or the
// display's loss. The program sees "/S" and one monitor of the window's size; a window too small
// for the saver's layout shows the primary monitor's picture scaled down to fit.

// A window smaller than this is a preview: the saver's layout was made for screens this big.
constexpr int kPreviewBelowWidth = 800, kPreviewBelowHeight = 600;

// One axis of a scaled picture: `source` screen pixels shown as `shown` window pixels from
// `offset`, in a window `window` pixels long. Each window pixel shows the one screen pixel
// nearest to its centre; those beside the picture repeat its edge, the band's colour.
struct ScaleAxis {
  int source = 1, shown = 1, offset = 0, window = 1;

  int SourceOf(int pixel) const {
    const long long t = pixel - offset;
    if (t < 0) return 0;
    if (t >= shown) return source - 1;
    return static_cast<int>((2 * t + 1) * source / (2LL * shown));
  }
  // The first window pixel showing screen pixel `s` or a later one; pieces that meet on the
  // screen thus meet in the window, and no window pixel is drawn twice.
  int FirstShowing(int s) const {
    if (s <= 0) return 0;
    if (s >= source) return window;
    const long long numerator = 2LL * s * shown - source, denominator = 2LL * source;
    const long long t = numerator <= 0 ? 0 : (numerator + denominator - 1) / denominator;
    return offset + static_cast<int>(t);
  }
};

struct HackTarget {
  Window window = 0;            // 0: the program runs on its own, with windows of its own
  bool scaled = false;          // a preview: the screen below is shown scaled into the window
  rt::PixelRect screen;         // the program's only monitor
  rt::PixelSize windowSize;     // the target's size
  rt::PixelSize previewScreen;  // what a preview shows: the primary monitor
  ScaleAxis x, y;
  std::vector<rt::Pixel> scaledPixels;
  std::vector<int> columns;
  int (*xlibErrorHandler)(Display*, XErrorEvent*) = nullptr;
  Pixmap ownMark = 0;  // what this copy's mark on the window names
};

HackTarget& Hack() {
  static HackTarget target;
  return target;
}

std::string HexId(unsigned long id) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", id);
  return text;
}

// A window id as xscreensaver writes one: hexadecimal after 0x, or decimal.
bool ParseWindowId(const std::string& text, Window& id) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10) return false;
  for (const char c : digits)
    if (!(hex ? std::isxdigit(static_cast<unsigned char>(c))
              : std::isdigit(static_cast<unsigned char>(c))))
      return false;
  const unsigned long long value = std::stoull(digits, nullptr, hex ? 16 : 10);
  if (value == 0 || value > 0xFFFFFFFFull) return false;  // X ids travel in 32 bits
  id = static_cast<Window>(value);
  return true;
}

// xscreensaver passes its hacks a few standard options; they mean nothing to this program, so a
// display mode takes them and draws as usual instead of ending, which the daemon would answer by
// starting it again at once. The one that names a visual takes it as the next argument.
bool IsIgnoredHackOption(std::string_view name, bool& takesArgument) {
  takesArgument = name == "visual";
  return takesArgument || name == "fps" || name == "install" || name == "mono" ||
         name == "window" || name == "pair";
}

// The window a display mode's command line names: `--window-id ID`, or `--root` with
// XSCREENSAVER_WINDOW; `window` stays 0 for any other command line, whose switches the program
// reads as usual. False, with the reason, for a display mode's command line that names no window.
// Each switch may have one dash or two, and an error quotes it as typed.
bool HackWindowRequested(int argc, char** argv, Window& window, std::string& error) {
  window = 0;
  // Without one of its two switches a command line is the program's own, whatever else it holds.
  const auto ownSwitch = [](std::string_view arg) {
    return arg == "-root" || arg == "--root" || arg == "-window-id" || arg == "--window-id";
  };
  if (std::none_of(argv + std::min(argc, 1), argv + argc, ownSwitch)) return true;
  const char* root = nullptr;  // as typed
  const char* id = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::string_view name = arg;
    if (name.starts_with("--"))
      name.remove_prefix(2);
    else if (name.starts_with("-"))
      name.remove_prefix(1);
    bool takesArgument = false;
    if (name == arg) {  // no dash: "root" alone is no switch
      error = "'" + std::string(arg) + "' is no option of xscreensaver's display mode";
      return false;
    } else if (name == "root") {
      root = argv[i];
    } else if (name == "window-id") {
      if (i + 1 == argc) {
        error = std::string(arg) + " needs a window id";
        return false;
      }
      id = argv[++i];
    } else if (IsIgnoredHackOption(name, takesArgument)) {
      if (takesArgument && ++i == argc) {
        error = std::string(arg) + " needs a value";
        return false;
      }
    } else {
      // A display mode that ended at once would only be started again by xscreensaver, on a
      // black screen: the mistake is named instead.
      error = "'" + std::string(arg) + "' is no option of xscreensaver's display mode";
      return false;
    }
  }
  if (id != nullptr) {
    if (ParseWindowId(id, window)) return true;
    error = std::string("'") + id + "' is no window id (0x... or decimal)";
    return false;
  }
  if (root == nullptr) return true;
  // xscreensaver always names its window. Without one, --root gets no root window either: on
  // today's desktops it lies under the desktop's own windows, and a saver there would run unseen
  // with no input to end it.
  const char* named = std::getenv("XSCREENSAVER_WINDOW");
  if (named == nullptr || *named == '\0') {
    error = std::string(root) +
            " draws into xscreensaver's window and XSCREENSAVER_WINDOW names none "
            "(/s runs the saver on its own)";
    return false;
  }
  if (ParseWindowId(named, window)) return true;
  error = std::string("XSCREENSAVER_WINDOW '") + named + "' is no window id";
  return false;
}

// The window's size decides what the program's screen is and how it is shown.
void SetHackWindowSize(int width, int height) {
  HackTarget& h = Hack();
  h.windowSize = {width, height};
  h.scaled = width < kPreviewBelowWidth || height < kPreviewBelowHeight;
  if (!h.scaled) {
    h.screen = {0, 0, width, height};
    return;
  }
  const int sw = std::max(1, h.previewScreen.width), sh = std::max(1, h.previewScreen.height);
  h.screen = {0, 0, sw, sh};
  // The whole screen fits, its shape kept.
  int shownWidth = width, shownHeight = height;
  if (static_cast<long long>(width) * sh <= static_cast<long long>(height) * sw)
    shownHeight = static_cast<int>((2LL * sh * width + sw) / (2LL * sw));
  else
    shownWidth = static_cast<int>((2LL * sw * height + sh) / (2LL * sh));
  shownWidth = std::max(1, shownWidth);
  shownHeight = std::max(1, shownHeight);
  h.x = {sw, shownWidth, (width - shownWidth) / 2, width};
  h.y = {sh, shownHeight, (height - shownHeight) / 2, height};
}

// The window pixels that show `area` of the screen.
rt::PixelRect ShownInWindow(const rt::PixelRect& area) {
  const HackTarget& h = Hack();
  const int left = h.x.FirstShowing(area.x), top = h.y.FirstShowing(area.y);
  return {left, top, h.x.FirstShowing(area.right()) - left, h.y.FirstShowing(area.bottom()) - top};
}

// xscreensaver takes an end by any other status than its own signal for a failure. Nothing is
// left to tidy: the server drops what was ours with the connection, and no shared memory
// outlives the process. The handler is reset on entry (SA_RESETHAND), so this ends it once
// the handler returns.
void EndOnSignal(int signal) {
  raise(signal);
}

// The window may go while pixels are on their way to it; that ends the program as its
// DestroyNotify does. Every other error is Xlib's to report.
int HackError(Display* display, XErrorEvent* error) {
  if (error->resourceid == Hack().window &&
      (error->error_code == BadWindow || error->error_code == BadDrawable))
    _exit(0);
  return Hack().xlibErrorHandler(display, error);
}

// The window a display mode's command line names, checked to be there, becomes the target.
bool AdoptHackTarget(Window requested, std::string& error) {
  X11State& s = S();
  XWindowAttributes attributes{};
  BeginTrap();
  const Status found = XGetWindowAttributes(s.display, requested, &attributes);
  if (!EndTrap() || found == 0) {
    error = "no window " + HexId(requested) + " on display '" + DisplayString(s.display) + "'";
    return false;
  }
  if (attributes.c_class == InputOnly) {
    error = "window " + HexId(requested) + " is input-only: nothing can be drawn in it";
    return false;
  }
  if (attributes.visual == nullptr || attributes.visual->c_class != TrueColor) {
    error = "window " + HexId(requested) + " has no true-colour visual";
    return false;
  }
  HackTarget& h = Hack();
  h.window = requested;
  // Images take the window's own visual and depth, which need not be the screen's default.
  s.visual = attributes.visual;
  s.depth = attributes.depth;
  h.previewScreen = {s.monitors.front().width, s.monitors.front().height};
  SetHackWindowSize(attributes.width, attributes.height);
  struct sigaction end {};
  end.sa_handler = EndOnSignal;
  end.sa_flags = SA_RESETHAND;
  sigaction(SIGTERM, &end, nullptr);  // how xscreensaver ends a display mode
  h.xlibErrorHandler = XSetErrorHandler(HackError);
  return true;
}

// One copy per window, so that xscreensaver's copies on several monitors run side by side. A
// copy marks its window with one property naming a 1 x 1 pixmap of its own, which the server
// frees with the copy's connection: a mark whose pixmap is still there is another live copy's.
// One atom serves every window, since the server never frees an atom and xscreensaver brings
// a new window at every activation.
InstanceAnswer MarkHackWindow() {
  X11State& s = S();
  const Window window = Hack().window;
  const Atom mark = Intern(("_QUIETGLASS_" + std::to_string(getuid()) + "_COPY").c_str());
  if (mark == None) return InstanceAnswer::CannotTell;
  if (Hack().ownMark == 0) Hack().ownMark = XCreatePixmap(s.display, window, 1, 1, 1);
  // The server is held from the look to the marking, so two copies cannot both find it free.
  XGrabServer(s.display);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  BeginTrap();
  XGetWindowProperty(s.display, window, mark, 0, 1, False, XA_PIXMAP, &type, &format, &count,
                     &after, &data);
  const bool read = EndTrapAfterReply();
  Pixmap holder = None;
  if (read && type == XA_PIXMAP && format == 32 && count == 1)
    holder = static_cast<Pixmap>(*reinterpret_cast<const unsigned long*>(data));
  if (data != nullptr) XFree(data);
  bool taken = false;
  if (holder != None && holder != Hack().ownMark) {
    Window root;
    int x, y;
    unsigned width = 0, height = 0, border, depth = 0;
    BeginTrap();
    const Status alive =
        XGetGeometry(s.display, holder, &root, &x, &y, &width, &height, &border, &depth);
    taken = EndTrapAfterReply() && alive != 0 && width == 1 && height == 1 && depth == 1;
  }
  if (!taken) {
    const unsigned long ours = Hack().ownMark;
    XChangeProperty(s.display, window, mark, XA_PIXMAP, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&ours), 1);
  }
  XUngrabServer(s.display);
  XFlush(s.display);
  return taken ? InstanceAnswer::Taken : InstanceAnswer::Mine;
}

// xscreensaver may start the next copy on a window as soon as it has told the last one to end,
// before the server has seen that one go: a taken window is asked again for a moment.
InstanceAnswer ClaimHackWindow() {
  InstanceAnswer answer = MarkHackWindow();
  for (int attempt = 0; attempt < 10 && answer == InstanceAnswer::Taken; ++attempt) {
    poll(nullptr, 0, 50);
    answer = MarkHackWindow();
  }
  return answer;
}

// The full-screen window is the target: only its size, its exposures and its end are heard of.
NativeWindow AdoptHackWindow() {
  X11State& s = S();
  const Window window = Hack().window;
  XSelectInput(s.display, window, StructureNotifyMask | ExposureMask);
  if (s.gc == nullptr) s.gc = XCreateGC(s.display, window, 0, nullptr);
  XFlush(s.display);
  return window;
}

// The events of a display mode's window; false for those the runtime does not hear of.
bool TranslateHack(XEvent& xevent) {
  HackTarget& h = Hack();
  if (xevent.xany.window != h.window) return false;
  Event out;
  switch (xevent.type) {
    case DestroyNotify:
      _exit(0);
    case ConfigureNotify: {
      const int width = xevent.xconfigure.width, height = xevent.xconfigure.height;
      if (rt::PixelSize{width, height} == h.windowSize) return false;
      SetHackWindowSize(width, height);
      out.type = EventType::ScreenChanged;  // the runtime covers the new size and repaints
      break;
    }
    case Expose: {
      out.type = EventType::Exposed;
      out.window = h.window;
      rt::PixelRect area{xevent.xexpose.x, xevent.xexpose.y, xevent.xexpose.width,
                         xevent.xexpose.height};
      if (h.scaled) {
        const int left = h.x.SourceOf(area.x), top = h.y.SourceOf(area.y);
        area = {left, top, h.x.SourceOf(area.right() - 1) + 1 - left,
                h.y.SourceOf(area.bottom() - 1) + 1 - top};
      }
      out.x = area.x;
      out.y = area.y;
      out.width = area.width;
      out.height = area.height;
      break;
    }
    default:
      return false;
  }
  rt::PostEvent(out);
  return true;
}

// A preview's pixels: each window pixel takes the one screen pixel it shows.
void PresentScaled(Window window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  HackTarget& h = Hack();
  const rt::PixelRect shown = ShownInWindow(area);
  if (shown.empty()) return;  // a scaled-down area may fall between two window pixels
  h.columns.resize(static_cast<std::size_t>(shown.width));
  for (int i = 0; i < shown.width; ++i) h.columns[i] = h.x.SourceOf(shown.x + i) - area.x;
  h.scaledPixels.resize(static_cast<std::size_t>(shown.width) * shown.height);
  rt::Pixel* out = h.scaledPixels.data();
  for (int j = 0; j < shown.height; ++j) {
    const rt::Pixel* row =
        pixels + static_cast<std::ptrdiff_t>(h.y.SourceOf(shown.y + j) - area.y) * stride;
    for (int i = 0; i < shown.width; ++i) *out++ = row[h.columns[i]];
  }
  PutPixels(window, shown, h.scaledPixels.data(), shown.width);
}

void FillScaled(Window window, const rt::PixelRect& area, rt::Pixel colour) {
  const rt::PixelRect shown = ShownInWindow(area);
  if (shown.empty()) return;  // a scaled-down area may fall between two window pixels
  FillArea(window, shown, colour);
}

// ---- The display mode's entry points ---------------------------------------------------------

StartResult Start(int argc, char** argv, std::string& error) {
  Window requested = 0;
  if (!HackWindowRequested(argc, argv, requested, error)) return StartResult::Failed;
  if (requested == 0) {
    error = "no display mode asked for (--root or --window-id)";
    return StartResult::NotThisKind;
  }
  if (!Connect(argc, argv, error) || !AdoptHackTarget(requested, error)) return StartResult::Failed;
  return StartResult::Started;
}

std::string CommandLineText() {
  return "/S";  // a display mode is the saver
}

std::vector<rt::PixelRect> Monitors() {
  return {Hack().screen};
}

void MoveCursor(int, int) {
  // The pointer is xscreensaver's, and a move would wake it.
}

NativeWindow CreateWindow(const WindowSettings& settings) {
  if (settings.kind == WindowKind::FullScreen) return AdoptHackWindow();
  return CreateX11Window(settings);
}

void Present(NativeWindow window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  if (Hack().scaled) return PresentScaled(window, area, pixels, stride);
  PutPixels(window, area, pixels, stride);
}

void Fill(NativeWindow window, const rt::PixelRect& area, rt::Pixel colour) {
  if (Hack().scaled) return FillScaled(window, area, colour);
  FillArea(window, area, colour);
}

void Wait(double timeoutSeconds) {
  WaitForEvents(timeoutSeconds, TranslateHack);
}

}  // namespace
}  // namespace host

// Named as the X11 host is: QUIETGLASS_HOST=x11 picks X11, and its display modes with it.
const host::Host host::kDisplayModeHost = {
    .name = "x11",
    .Start = Start,
    .CommandLineText = CommandLineText,
    .ClaimInstance = ClaimHackWindow,
    .EndProcess = host::x11_detail::EndProcess,
    .Monitors = Monitors,
    .MonotonicSeconds = posix::MonotonicSeconds,
    .ClockSeconds = posix::LocalSecondsSinceMidnight,
    .MoveCursor = MoveCursor,
    .FrameFor = host::x11_detail::DialogFrame,
    .CreateWindow = CreateWindow,
    .Present = Present,
    .Fill = Fill,
    .Flush = host::x11_detail::FlushRequests,
    .Wait = Wait,
};
