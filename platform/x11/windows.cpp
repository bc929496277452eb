// The X11 host's windows and what the window manager reads from them: dialog hints and icon,
// frame extents, the bands on other screens and the saver's grabs.
#include <X11/Xatom.h>
#include <poll.h>

#include <algorithm>
#include <cstdio>

#include "platform/posix/posix.h"
#include "platform/x11/x11_internal.h"

namespace host::x11_detail {

namespace {

void SetCardinals(Window window, const char* property, Atom type, const long* values, int count) {
  XChangeProperty(S().display, window, Intern(property), type, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(values), count);
}

}  // namespace

// Everything the window manager reads from a dialog before mapping it: what kind of window it
// is, and which of move, resize, minimize, maximize and close it offers.
void SetDialogHints(Window window, const WindowSettings& settings) {
  Display* display = S().display;
  XSizeHints* size = XAllocSizeHints();
  size->flags = USPosition | PPosition | PWinGravity;
  size->x = settings.outer.x;
  size->y = settings.outer.y;
  if (!settings.sizable) {
    size->flags |= PMinSize | PMaxSize;
    size->min_width = size->max_width = std::max(1, settings.client.width);
    size->min_height = size->max_height = std::max(1, settings.client.height);
  }
  size->win_gravity = NorthWestGravity;  // the position is the frame's top-left corner
  XSetWMNormalHints(display, window, size);
  XFree(size);

  XWMHints* wm = XAllocWMHints();
  wm->flags = InputHint | StateHint;
  wm->input = True;
  wm->initial_state = NormalState;
  XSetWMHints(display, window, wm);
  XFree(wm);

  XStoreName(display, window, settings.caption.c_str());
  XChangeProperty(display, window, Intern("_NET_WM_NAME"), Intern("UTF8_STRING"), 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(settings.caption.data()),
                  static_cast<int>(settings.caption.size()));
  // Motif hints: functions the window manager may offer and the decorations it draws. Every
  // window may be moved and closed (a close request ends a dialog cleanly).
  constexpr long kFunctions = 1, kDecorations = 2;
  constexpr long kFuncResize = 2, kFuncMove = 4, kFuncMinimize = 8, kFuncMaximize = 16,
                 kFuncClose = 32;
  constexpr long kDecorBorder = 2, kDecorResize = 4, kDecorTitle = 8, kDecorMenu = 16,
                 kDecorMinimize = 32, kDecorMaximize = 64;
  long functions = kFuncMove | kFuncClose, decorations = kDecorBorder | kDecorTitle;
  if (settings.sizable) functions |= kFuncResize, decorations |= kDecorResize;
  if (settings.controlBox) decorations |= kDecorMenu;
  if (settings.minButton) functions |= kFuncMinimize, decorations |= kDecorMinimize;
  if (settings.maxButton) functions |= kFuncMaximize, decorations |= kDecorMaximize;
  const long motif[5] = {kFunctions | kDecorations, functions, decorations, 0, 0};
  SetCardinals(window, "_MOTIF_WM_HINTS", Intern("_MOTIF_WM_HINTS"), motif, 5);
  const long dialogType = static_cast<long>(Intern("_NET_WM_WINDOW_TYPE_DIALOG"));
  SetCardinals(window, "_NET_WM_WINDOW_TYPE", XA_ATOM, &dialogType, 1);
  if (!settings.inTaskbar) {
    const long skipTaskbar = static_cast<long>(Intern("_NET_WM_STATE_SKIP_TASKBAR"));
    SetCardinals(window, "_NET_WM_STATE", XA_ATOM, &skipTaskbar, 1);
  }
  Atom deleteWindow = Intern("WM_DELETE_WINDOW");
  XSetWMProtocols(display, window, &deleteWindow, 1);
}

void SetIcon(Window window, const rt::Picture* icon) {
  if (icon == nullptr || icon->empty()) return;
  std::vector<long> data{icon->width, icon->height};  // format 32 travels as longs in Xlib
  for (const rt::Pixel p : icon->pixels) data.push_back(static_cast<long>(p));
  SetCardinals(window, "_NET_WM_ICON", XA_CARDINAL, data.data(), static_cast<int>(data.size()));
}

namespace {

// A running EWMH window manager leaves a live window named in _NET_SUPPORTING_WM_CHECK.
bool WindowManagerRunning() {
  X11State& s = S();
  const auto readCheck = [&](Window window, Window& out) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    const bool ok =
        XGetWindowProperty(s.display, window, Intern("_NET_SUPPORTING_WM_CHECK"), 0, 1, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        type == XA_WINDOW && format == 32 && count == 1;
    if (ok) out = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
    if (data != nullptr) XFree(data);
    return ok;
  };
  Window check = 0, again = 0;
  if (!readCheck(s.root, check)) return false;
  BeginTrap();  // a window manager that has gone leaves a stale id behind
  const bool live = readCheck(check, again);
  return EndTrap() && live && again == check;
}

}  // namespace

// Asks the window manager which frame it would give a dialog, waiting a moment for the answer.
FrameExtents AskFrameExtents(const WindowSettings& settings) {
  X11State& s = S();
  FrameExtents frame;
  if (!WindowManagerRunning()) return frame;
  XSetWindowAttributes attributes{};
  attributes.event_mask = PropertyChangeMask;
  const Window probe = XCreateWindow(s.display, s.root, 0, 0, std::max(1, settings.client.width),
                                     std::max(1, settings.client.height), 0, CopyFromParent,
                                     InputOutput, CopyFromParent, CWEventMask, &attributes);
  SetDialogHints(probe, settings);
  XEvent request{};
  request.xclient.type = ClientMessage;
  request.xclient.window = probe;
  request.xclient.message_type = Intern("_NET_REQUEST_FRAME_EXTENTS");
  request.xclient.format = 32;
  XSendEvent(s.display, s.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &request);
  const Atom extents = Intern("_NET_FRAME_EXTENTS");
  const double deadline = posix::MonotonicSeconds() + 0.5;
  for (bool answered = false; !answered && posix::MonotonicSeconds() < deadline;) {
    XEvent event;
    while (XCheckTypedWindowEvent(s.display, probe, PropertyNotify, &event))
      answered = answered || event.xproperty.atom == extents;
    if (!answered)
      posix::PollFor(ConnectionNumber(s.display), POLLIN,
                     std::max(0.0, std::min(0.05, deadline - posix::MonotonicSeconds())));
  }
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(s.display, probe, extents, 0, 4, False, XA_CARDINAL, &type, &format,
                         &count, &after, &data) == Success &&
      type == XA_CARDINAL && format == 32 && count == 4) {
    const auto* values = reinterpret_cast<const long*>(data);
    frame = {static_cast<int>(values[0]), static_cast<int>(values[2]), static_cast<int>(values[1]),
             static_cast<int>(values[3])};
  }
  if (data != nullptr) XFree(data);
  XDestroyWindow(s.display, probe);
  return frame;
}

// The server's other screens show the band's colour in a plain window each, so the saver hides
// all that the server shows. Their input reaches the saver's own window through its grabs.
void CoverOtherScreens(rt::Pixel colour) {
  X11State& s = S();
  for (int i = 0; i < ScreenCount(s.display); ++i) {
    if (i == s.screen) continue;
    XColor exact{};
    exact.red = static_cast<unsigned short>(((colour >> 16) & 0xFF) * 257);
    exact.green = static_cast<unsigned short>(((colour >> 8) & 0xFF) * 257);
    exact.blue = static_cast<unsigned short>((colour & 0xFF) * 257);
    exact.flags = DoRed | DoGreen | DoBlue;
    XSetWindowAttributes attributes{};
    attributes.background_pixel = XAllocColor(s.display, DefaultColormap(s.display, i), &exact)
                                      ? exact.pixel
                                      : BlackPixel(s.display, i);
    attributes.override_redirect = True;
    attributes.event_mask = VisibilityChangeMask;  // raised again when something comes over it
    const Window band = XCreateWindow(s.display, RootWindow(s.display, i), 0, 0,
                                      static_cast<unsigned>(DisplayWidth(s.display, i)),
                                      static_cast<unsigned>(DisplayHeight(s.display, i)), 0,
                                      CopyFromParent, InputOutput, CopyFromParent,
                                      CWBackPixel | CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(s.display, band);
    s.bands.emplace_back(i, band);
  }
}

// Keyboard and pointer go to the saver whatever is under the pointer. Another client may hold a
// grab for a moment (a menu closing), so try for about a second. A window must be viewable to
// grab, so the root window takes them first: a saver that cannot have them never shows.
constexpr unsigned kPointerEvents = ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
bool TakeGrabs(Window window) {
  Display* display = S().display;
  bool keyboard = false, pointer = false;
  const double deadline = posix::MonotonicSeconds() + 1.0;
  for (bool first = true; !(keyboard && pointer) && (first || posix::MonotonicSeconds() < deadline);
       first = false) {
    if (!first) poll(nullptr, 0, 10);
    if (!keyboard)
      keyboard = XGrabKeyboard(display, window, False, GrabModeAsync, GrabModeAsync, CurrentTime) ==
                 GrabSuccess;
    if (!pointer)
      pointer = XGrabPointer(display, window, False, kPointerEvents, GrabModeAsync, GrabModeAsync,
                             None, None, CurrentTime) == GrabSuccess;
  }
  return keyboard && pointer;
}

// The frame the window manager gives a dialog; a full-screen window has none.
FrameExtents DialogFrame(const WindowSettings& settings) {
  X11State& s = S();
  if (settings.kind == WindowKind::FullScreen) return {};
  // Every dialog has the same decorations, so the window manager is asked once.
  if (!s.frameKnown) {
    s.dialogFrame = AskFrameExtents(settings);
    s.frameKnown = true;
  }
  return s.dialogFrame;
}

// A dialog, or the saver's full-screen window with its grabs and the bands on other screens.
NativeWindow CreateX11Window(const WindowSettings& settings) {
  X11State& s = S();
  const bool fullScreen = settings.kind == WindowKind::FullScreen;
  XSetWindowAttributes attributes{};
  attributes.background_pixel = PixelValue(settings.background);
  attributes.border_pixel = 0;  // needed, with the colormap, when the visual is not the root's
  attributes.colormap = s.colormap;
  attributes.override_redirect = fullScreen ? True : False;
  attributes.event_mask = ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask |
                          PointerMotionMask | StructureNotifyMask |
                          (fullScreen ? VisibilityChangeMask : PropertyChangeMask);
  const Window xid = XCreateWindow(
      s.display, s.root, settings.outer.x, settings.outer.y, std::max(1, settings.client.width),
      std::max(1, settings.client.height), 0, s.depth, InputOutput, s.visual,
      CWBackPixel | CWBorderPixel | CWColormap | CWOverrideRedirect | CWEventMask, &attributes);
  if (xid == 0) return 0;
  XClassHint classHint{const_cast<char*>("quietglass"), const_cast<char*>("Quietglass")};
  XSetClassHint(s.display, xid, &classHint);
  // Nothing lists an override-redirect window, so only a dialog's icon is ever seen; the
  // saver skips the atom's round trip and the 4 KB property.
  if (!fullScreen) {
    SetDialogHints(xid, settings);
    SetIcon(xid, settings.icon);
  }
  if (s.gc == nullptr) s.gc = XCreateGC(s.display, xid, 0, nullptr);
  if (fullScreen) {
    // A screen hidden while the keyboard or the pointer goes elsewhere could not be ended.
    if (!TakeGrabs(s.root)) {
      std::fprintf(stderr, "quietglass: another program holds the keyboard or the pointer\n");
      EndProcess(1);
    }
    s.fullScreens.push_back(xid);
    if (s.bands.empty()) CoverOtherScreens(settings.background);
  }
  XMapRaised(s.display, xid);
  XFlush(s.display);
  return xid;
}

}  // namespace host::x11_detail
