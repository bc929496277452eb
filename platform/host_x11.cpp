// The X11 host: Xlib windows, input translated to the runtime's events, pixels put with MIT-SHM
// where the server has it. Layout, painting and timers stay in the runtime.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#ifdef QG_WITH_XRANDR
#include <X11/extensions/Xrandr.h>
#endif
#ifdef QG_WITH_XINERAMA
#include <X11/extensions/Xinerama.h>
#endif
#include <X11/keysym.h>
#ifdef QG_WITH_SHM_FD
#include <X11/Xlib-xcb.h>
#include <xcb/shm.h>
#endif
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

// Xlib's KeyPress macro would rename the runtime's event of that name.
constexpr int kXKeyPressEvent = KeyPress;
#undef KeyPress

#include "platform/host.h"
#include "platform/posix/posix.h"

namespace host {
namespace {

struct X11State {
  std::string commandLine;
  Display* display = nullptr;
  int screen = 0;
  Window root = 0;
  Visual* visual = nullptr;  // TrueColor, for every window of the program
  int depth = 0;
  Colormap colormap = 0;
  GC gc = nullptr;                            // one for every window: they share the visual
  std::vector<rt::PixelRect> monitors;        // primary first
  bool randrMonitors = false;                 // the server listed its monitors with RandR 1.5
  int randrEventBase = -1;                    // -1: no RandR 1.2 changes to follow
  std::vector<Window> fullScreens;            // resized with the desktop
  std::vector<std::pair<int, Window>> bands;  // the band colour on each other screen
  std::vector<char> buffer;                   // converted pixels for XPutImage
  bool useShm = false;
  bool shmFdTried = false;  // asked whether the server takes a segment as a descriptor
  bool shmByFd = false;     // it does, and the segment is a mapping of ours, not System V's
  XShmSegmentInfo shm{};
  std::size_t shmSize = 0;
  bool unflushed = false;   // requests wait in Xlib's buffer
  std::size_t shmUsed = 0;  // bytes from the segment's start the server may still read
  int trappedError = 0;
  unsigned long trapFrom = 0;  // the first request a trap covers
  int (*previousErrorHandler)(Display*, XErrorEvent*) = nullptr;
  bool noDisplay = false;  // DISPLAY names none: not an X11 start
  bool frameKnown = false;
  FrameExtents dialogFrame;
};

X11State& S() {
  static X11State state;
  return state;
}

Atom Intern(const char* name) {
  return XInternAtom(S().display, name, False);
}

// Some calls may fail on the server (a missing SHM segment, a window that is gone); those run
// between BeginTrap and EndTrap instead of ending the process in Xlib's default handler. An
// error of a request sent before the trap still goes to that handler: the serial tells them
// apart, so no round trip is needed to begin a trap.
int TrapError(Display* display, XErrorEvent* error) {
  X11State& s = S();
  if (error->serial < s.trapFrom) return s.previousErrorHandler(display, error);
  s.trappedError = error->error_code;
  return 0;
}
void BeginTrap() {
  X11State& s = S();
  s.trapFrom = NextRequest(s.display);
  s.trappedError = 0;
  s.previousErrorHandler = XSetErrorHandler(TrapError);
}
bool EndTrap() {
  X11State& s = S();
  XSync(s.display, False);
  XSetErrorHandler(s.previousErrorHandler);
  return s.trappedError == 0;
}
// For a trap whose last request waited for its reply: the server answers in order, so every
// error of the trapped requests has arrived already and no round trip is needed to end it.
bool EndTrapAfterReply() {
  X11State& s = S();
  XSetErrorHandler(s.previousErrorHandler);
  return s.trappedError == 0;
}

int ChannelShift(unsigned long mask) {
  int shift = 0;
  while (mask != 0 && (mask & 1) == 0) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

// The visual's pixel value for an 0xAARRGGBB colour.
unsigned long PixelValue(rt::Pixel colour) {
  const Visual* v = S().visual;
  const auto channel = [](unsigned value, unsigned long mask) {
    const unsigned long max = mask >> ChannelShift(mask);
    return ((value * max + 127) / 255) << ChannelShift(mask);
  };
  return channel((colour >> 16) & 0xFF, v->red_mask) |
         channel((colour >> 8) & 0xFF, v->green_mask) | channel(colour & 0xFF, v->blue_mask);
}

// Copies `area` of `pixels` into `image`, fast for the usual 32-bit 0x00RRGGBB layout.
void Convert(XImage* image, const rt::Pixel* pixels, int stride) {
  const Visual* v = S().visual;
  const bool plain = image->bits_per_pixel == 32 && v->red_mask == 0xFF0000 &&
                     v->green_mask == 0xFF00 && v->blue_mask == 0xFF;
  for (int y = 0; y < image->height; ++y) {
    const rt::Pixel* src = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    if (plain) {
      auto* dst = reinterpret_cast<std::uint32_t*>(image->data + y * image->bytes_per_line);
      // A 32-bit visual's spare bits are alpha, which a compositing manager reads: opaque.
      const std::uint32_t spare = image->depth == 32 ? 0xFF000000u : 0;
      for (int x = 0; x < image->width; ++x) dst[x] = (src[x] & 0xFFFFFF) | spare;
    } else {
      for (int x = 0; x < image->width; ++x) XPutPixel(image, x, y, PixelValue(src[x]));
    }
  }
}

void DropShmSegment() {
  X11State& s = S();
  if (s.shmSize == 0) return;
  XShmDetach(s.display, &s.shm);
  XSync(s.display, False);  // the server lets go before the memory does
  if (s.shmByFd)
    munmap(s.shm.shmaddr, s.shmSize);
  else
    shmdt(s.shm.shmaddr);
  s.shmSize = 0;
  s.shmUsed = 0;
}

// A server in another IPC namespace (the saver in a container of its own, or behind a relay)
// attaches whatever segment has our id there, or none. A few pixels put through the segment into
// a pixmap and read back tell whether it sees ours. Runs inside the attach's trap.
bool ServerSeesSegment() {
  X11State& s = S();
  constexpr int kProbeWidth = 8;
  XImage* image = XShmCreateImage(s.display, s.visual, static_cast<unsigned>(s.depth), ZPixmap,
                                  nullptr, &s.shm, kProbeWidth, 1);
  if (image == nullptr) return false;
  image->data = s.shm.shmaddr;
  // Different for every process and segment, so another segment is most unlikely to hold it.
  const unsigned long used = s.visual->red_mask | s.visual->green_mask | s.visual->blue_mask;
  unsigned long value =
      static_cast<unsigned long>(getpid()) * 2654435761u ^ static_cast<unsigned long>(s.shm.shmid);
  std::array<unsigned long, kProbeWidth> pattern{};
  for (int x = 0; x < kProbeWidth; ++x) {
    value = value * 6364136223846793005u + 1442695040888963407u;
    pattern[x] = (value >> 17) & used;
    XPutPixel(image, x, 0, pattern[x]);
  }
  const Pixmap pixmap =
      XCreatePixmap(s.display, s.root, kProbeWidth, 1, static_cast<unsigned>(s.depth));
  XShmPutImage(s.display, pixmap, s.gc, image, 0, 0, 0, 0, kProbeWidth, 1, False);
  XImage* back = XGetImage(s.display, pixmap, 0, 0, kProbeWidth, 1, AllPlanes, ZPixmap);
  XFreePixmap(s.display, pixmap);
  bool same = back != nullptr;
  for (int x = 0; same && x < kProbeWidth; ++x) same = (XGetPixel(back, x, 0) & used) == pattern[x];
  if (back != nullptr) XDestroyImage(back);
  image->data = nullptr;
  image->obdata = nullptr;
  XDestroyImage(image);
  return same;
}

// A segment handed to the server as a descriptor (MIT-SHM 1.2): it is the very memory we write,
// whatever namespace or relay lies between, and nothing of it outlives both processes. False
// when the server or the connection does not take one (no descriptors cross a relay or TCP).
bool AttachSegmentByFd(std::size_t bytes) {
#ifdef QG_WITH_SHM_FD
  X11State& s = S();
  if (!s.shmFdTried) {
    s.shmFdTried = true;
    int major = 0, minor = 0;
    Bool pixmaps;
    s.shmByFd = XShmQueryVersion(s.display, &major, &minor, &pixmaps) &&
                (major > 1 || (major == 1 && minor >= 2));
  }
  if (!s.shmByFd) return false;
  const int fd = memfd_create("quietglass", MFD_CLOEXEC);
  if (fd < 0) return s.shmByFd = false;
  void* address = ftruncate(fd, static_cast<off_t>(bytes)) == 0
                      ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                      : MAP_FAILED;
  if (address == MAP_FAILED) {
    close(fd);
    return s.shmByFd = false;
  }
  xcb_connection_t* connection = XGetXCBConnection(s.display);
  const std::uint32_t segment = xcb_generate_id(connection);
  // xcb closes the descriptor once it is sent; the error, if any, comes to the cookie.
  xcb_generic_error_t* error =
      xcb_request_check(connection, xcb_shm_attach_fd_checked(connection, segment, fd, 1));
  if (error != nullptr) {
    std::free(error);
    munmap(address, bytes);
    return s.shmByFd = false;  // the System V segment and its probe are left
  }
  s.shm.shmseg = segment;
  s.shm.shmid = -1;
  s.shm.shmaddr = static_cast<char*>(address);
  s.shm.readOnly = True;
  return true;
#else
  (void)bytes;
  return false;
#endif
}

// A System V segment, for a server without MIT-SHM 1.2. The server attaches whatever segment
// has our id in its IPC namespace, which a relay or a container can make another one, so a few
// pixels are always read back through it. Marked for removal straight after we attach it
// (Linux still lets the server attach it), with the signals that end a copy held off until
// then, so that no segment outlives the processes.
bool AttachSystemVSegment(std::size_t bytes) {
  X11State& s = S();
  sigset_t ending, previous;
  sigemptyset(&ending);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&ending, signal);
  sigprocmask(SIG_BLOCK, &ending, &previous);
  const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  void* address = id < 0 ? reinterpret_cast<void*>(-1) : shmat(id, nullptr, 0);
  if (id >= 0) shmctl(id, IPC_RMID, nullptr);
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (address == reinterpret_cast<void*>(-1)) return false;
  s.shm.shmid = id;
  s.shm.shmaddr = static_cast<char*>(address);
  s.shm.readOnly = True;
  BeginTrap();
  XShmAttach(s.display, &s.shm);
  const bool seen = ServerSeesSegment();
  if (EndTrap() && seen) return true;
  shmdt(address);
  return false;
}

// A shared segment of at least `bytes`; false (and no more SHM) when the server can't attach it,
// as happens on a display reached over the network.
constexpr std::size_t kShmMinBytes = 512 * 1024;
bool EnsureShmSegment(std::size_t bytes) {
  X11State& s = S();
  if (s.shmSize >= bytes) return true;
  DropShmSegment();
  // Room for several pictures, so that the server need not be waited for after each one.
  bytes = std::max(bytes * 4, kShmMinBytes);
  if (!AttachSegmentByFd(bytes) && !AttachSystemVSegment(bytes)) return s.useShm = false;
  s.shmSize = bytes;
  return true;
}

int ShiftBits(unsigned state) {
  return ((state & ShiftMask) ? kShiftMask : 0) | ((state & ControlMask) ? kCtrlMask : 0) |
         ((state & Mod1Mask) ? kAltMask : 0);
}

int HeldButtons(unsigned state) {
  return ((state & Button1Mask) ? kLeftButton : 0) | ((state & Button3Mask) ? kRightButton : 0) |
         ((state & Button2Mask) ? kMiddleButton : 0);
}

int ButtonBit(unsigned button) {
  switch (button) {
    case Button1:
      return kLeftButton;
    case Button2:
      return kMiddleButton;
    case Button3:
      return kRightButton;
    default:
      return 0;  // wheel and extra buttons: no click
  }
}

// The bounding box of the monitors: where the full-screen windows lie, in root coordinates.
rt::PixelRect DesktopBounds() {
  rt::PixelRect bounds;
  for (const rt::PixelRect& monitor : S().monitors) bounds = rt::Union(bounds, monitor);
  return bounds;
}

// A window that appears under the pointer hears of it once, as a window system reports it.
void ReportPointerOnMap(Window window) {
  X11State& s = S();
  Window rootReturn, child;
  int rootX, rootY, x, y;
  unsigned mask, width, height, border, depth;
  if (!XQueryPointer(s.display, window, &rootReturn, &child, &rootX, &rootY, &x, &y, &mask))
    return;  // the pointer is on another screen
  // A full-screen window's size is the desktop's, known without asking the server.
  const rt::PixelRect desktop = DesktopBounds();
  const bool fullScreen =
      std::find(s.fullScreens.begin(), s.fullScreens.end(), window) != s.fullScreens.end();
  if (fullScreen) {
    width = static_cast<unsigned>(desktop.width);
    height = static_cast<unsigned>(desktop.height);
  } else if (!XGetGeometry(s.display, window, &rootReturn, &rootX, &rootY, &width, &height, &border,
                           &depth)) {
    return;
  }
  if (x < 0 || y < 0 || x >= static_cast<int>(width) || y >= static_cast<int>(height)) return;
  Event event;
  event.type = EventType::MouseMove;
  event.window = window;
  event.x = x;
  event.y = y;
  event.button = HeldButtons(mask);
  event.shift = ShiftBits(mask);
  rt::PostEvent(event);
}

// Drawing into another program's window (below) hears of that window's events only.
bool InHackMode();
bool TranslateHack(const XEvent& xevent);

std::vector<rt::PixelRect> QueryMonitors();

// The desktop changed: a RandR change of the screen, its outputs or its CRTCs, or the root
// window resized. Xlib's idea of the screen's size follows it.
bool IsScreenChange(XEvent& xevent) {
  X11State& s = S();
#ifdef QG_WITH_XRANDR
  if (s.randrEventBase >= 0 && (xevent.type == s.randrEventBase + RRScreenChangeNotify ||
                                xevent.type == s.randrEventBase + RRNotify)) {
    XRRUpdateConfiguration(&xevent);
    return true;
  }
#endif
  if (xevent.type != ConfigureNotify) return false;
  for (int i = 0; i < ScreenCount(s.display); ++i) {
    if (xevent.xconfigure.window != RootWindow(s.display, i)) continue;
#ifdef QG_WITH_XRANDR
    XRRUpdateConfiguration(&xevent);
#else
    ScreenOfDisplay(s.display, i)->width = xevent.xconfigure.width;
    ScreenOfDisplay(s.display, i)->height = xevent.xconfigure.height;
#endif
    return true;
  }
  return false;
}

// Asks for the monitors again; when they changed, the full-screen windows cover the new desktop
// before the runtime hears of it. One change brings several events, so most change nothing.
bool FollowScreenChange() {
  X11State& s = S();
  for (const auto& [screen, band] : s.bands)
    XResizeWindow(s.display, band, static_cast<unsigned>(DisplayWidth(s.display, screen)),
                  static_cast<unsigned>(DisplayHeight(s.display, screen)));
  std::vector<rt::PixelRect> monitors = QueryMonitors();
  if (monitors == s.monitors) return false;
  s.monitors = std::move(monitors);
  const rt::PixelRect bounds = DesktopBounds();
  for (const Window window : s.fullScreens)
    XMoveResizeWindow(s.display, window, bounds.x, bounds.y,
                      static_cast<unsigned>(std::max(1, bounds.width)),
                      static_cast<unsigned>(std::max(1, bounds.height)));
  Event out;
  out.type = EventType::ScreenChanged;
  rt::PostEvent(out);
  return true;
}

// The saver's grab brings it the pointer on the server's other screens too, where X gives no
// position in the window. It reports one right of the whole desktop, where no monitor is, and a
// different one for each place on that screen.
void OnAnotherScreen(Event& out, int xRoot, int yRoot) {
  out.x = DesktopBounds().width + xRoot;
  out.y = yRoot;
}

// A dialog has no minimize button and no taskbar entry, and it holds the single-copy check: once
// minimized, nothing would bring it back. Some window managers (openbox) minimize any dialog on
// request all the same, so a dialog the window manager made iconic asks to be shown again: by
// mapping it (ICCCM) and by asking to be the active window (EWMH), for managers that keep an
// iconic window mapped.
void RestoreIfIconic(Window window) {
  X11State& s = S();
  const Atom wmState = Intern("WM_STATE");
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  const bool iconic = XGetWindowProperty(s.display, window, wmState, 0, 1, False, wmState, &type,
                                         &format, &count, &after, &data) == Success &&
                      format == 32 && count == 1 &&
                      *reinterpret_cast<const long*>(data) == IconicState;
  if (data != nullptr) XFree(data);
  if (!iconic) return;
  XMapWindow(s.display, window);
  XEvent request{};
  request.xclient.type = ClientMessage;
  request.xclient.window = window;
  request.xclient.message_type = Intern("_NET_ACTIVE_WINDOW");
  request.xclient.format = 32;
  request.xclient.data.l[0] = 1;  // from an application
  request.xclient.data.l[1] = CurrentTime;
  XSendEvent(s.display, s.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &request);
  s.unflushed = true;
}

// Hands the runtime what an X event means to it; false for events it does not hear of.
bool Translate(XEvent& xevent) {
  if (InHackMode()) return TranslateHack(xevent);
  X11State& s = S();
  if (IsScreenChange(xevent)) return FollowScreenChange();
  Event out;
  out.window = xevent.xany.window;
  // The saver's grabs are held on the root window, which hears its keys and pointer in root
  // coordinates: they are the full-screen window's, whose corner is the desktop's.
  if (out.window == s.root && !s.fullScreens.empty()) {
    const rt::PixelRect desktop = DesktopBounds();
    out.window = s.fullScreens.front();
    if (xevent.type == ButtonPress || xevent.type == ButtonRelease) {
      xevent.xbutton.x -= desktop.x;
      xevent.xbutton.y -= desktop.y;
    } else if (xevent.type == MotionNotify) {
      xevent.xmotion.x -= desktop.x;
      xevent.xmotion.y -= desktop.y;
    } else if (xevent.type != kXKeyPressEvent) {
      out.window = s.root;
    }
  }
  switch (xevent.type) {
    case kXKeyPressEvent: {
      char text[8];
      KeySym typed = NoSymbol;
      const int length = XLookupString(&xevent.xkey, text, sizeof text, &typed, nullptr);
      // Keypad keys follow Num Lock; every other key is named by its unshifted symbol.
      const KeySym sym = IsKeypadKey(typed) ? typed : XLookupKeysym(&xevent.xkey, 0);
      out.type = EventType::KeyDown;
      out.keyCode = posix::VirtualKeyOfKeysym(sym);
      out.shift = ShiftBits(xevent.xkey.state);
      rt::PostEvent(out);
      const auto character = length > 0 ? static_cast<unsigned char>(text[0]) : 0;
      if (character != 0 && character != 127) {  // Delete types nothing on Windows either
        out.type = EventType::KeyPress;
        out.keyChar = character;
        rt::PostEvent(out);
      }
      return true;
    }
    case ButtonPress:
    case ButtonRelease:
      out.type = xevent.type == ButtonPress ? EventType::MouseDown : EventType::MouseUp;
      out.x = xevent.xbutton.x;
      out.y = xevent.xbutton.y;
      if (!xevent.xbutton.same_screen)
        OnAnotherScreen(out, xevent.xbutton.x_root, xevent.xbutton.y_root);
      out.button = ButtonBit(xevent.xbutton.button);
      out.shift = ShiftBits(xevent.xbutton.state);
      if (out.button == 0) return false;
      break;
    case MotionNotify:
      out.type = EventType::MouseMove;
      out.x = xevent.xmotion.x;
      out.y = xevent.xmotion.y;
      if (!xevent.xmotion.same_screen)
        OnAnotherScreen(out, xevent.xmotion.x_root, xevent.xmotion.y_root);
      out.button = HeldButtons(xevent.xmotion.state);
      out.shift = ShiftBits(xevent.xmotion.state);
      break;
    case Expose:
      out.type = EventType::Exposed;
      out.x = xevent.xexpose.x;
      out.y = xevent.xexpose.y;
      out.width = xevent.xexpose.width;
      out.height = xevent.xexpose.height;
      break;
    case MapNotify:
      ReportPointerOnMap(xevent.xmap.window);
      return true;
    case PropertyNotify:
      if (xevent.xproperty.atom == Intern("WM_STATE") && xevent.xproperty.state == PropertyNewValue)
        RestoreIfIconic(xevent.xproperty.window);
      return false;
    case VisibilityNotify:
      // Only the saver asks for these: another override-redirect window came over it.
      if (xevent.xvisibility.state != VisibilityUnobscured) {
        XRaiseWindow(s.display, xevent.xany.window);
        s.unflushed = true;
      }
      return false;
    case ClientMessage:
      // Only the window manager's close request; other client messages are not ours.
      if (xevent.xclient.format != 32 || xevent.xclient.message_type != Intern("WM_PROTOCOLS") ||
          static_cast<Atom>(xevent.xclient.data.l[0]) != Intern("WM_DELETE_WINDOW"))
        return false;
      out.type = EventType::CloseRequest;
      break;
    case SelectionRequest: {
      // The single-copy selection holds no data: a client that asks for it gets a refusal.
      XSelectionEvent refusal{};
      refusal.type = SelectionNotify;
      refusal.requestor = xevent.xselectionrequest.requestor;
      refusal.selection = xevent.xselectionrequest.selection;
      refusal.target = xevent.xselectionrequest.target;
      refusal.property = None;
      refusal.time = xevent.xselectionrequest.time;
      XEvent reply{};
      reply.xselection = refusal;
      XSendEvent(s.display, refusal.requestor, False, NoEventMask, &reply);
      s.unflushed = true;
      return false;
    }
    default:
      return false;
  }
  rt::PostEvent(out);
  return true;
}

void SetCardinals(Window window, const char* property, Atom type, const long* values, int count) {
  XChangeProperty(S().display, window, Intern(property), type, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(values), count);
}

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

// One copy per user and X server: a selection belongs to the whole server, however the display
// is spelled and whichever of its screens is named, and the server lets go of it when its
// owner's connection closes, after a crash too. The root window owns it, so that the check
// makes no window of its own.
InstanceAnswer ClaimSelection(const std::string& name) {
  X11State& s = S();
  const Atom selection = Intern(name.c_str());
  if (selection == None) return InstanceAnswer::CannotTell;
  // The server is held from the look to the taking, so two copies starting at once cannot both
  // find the selection free; nothing else can take it in between.
  XGrabServer(s.display);
  const bool another = XGetSelectionOwner(s.display, selection) != None;
  if (!another) XSetSelectionOwner(s.display, selection, s.root, CurrentTime);
  XUngrabServer(s.display);
  XFlush(s.display);
  return another ? InstanceAnswer::Taken : InstanceAnswer::Mine;
}

// The monitors, primary first: RandR 1.5's list where the server has it, Xinerama's screens
// otherwise, and the whole screen when neither says more.
std::vector<rt::PixelRect> QueryMonitors() {
  X11State& s = S();
  std::vector<rt::PixelRect> monitors;
#ifdef QG_WITH_XRANDR
  int eventBase, errorBase;
  if (XRRQueryExtension(s.display, &eventBase, &errorBase)) {
    // A server older than RandR 1.5 answers with an error instead of the list: no version
    // query first, which would cost every start a round trip.
    int count = 0;
    BeginTrap();
    XRRMonitorInfo* info = XRRGetMonitors(s.display, s.root, True, &count);
    if (!EndTrapAfterReply() || info == nullptr) count = 0;
    s.randrMonitors = info != nullptr && count > 0;
    for (int i = 0; i < count; ++i) {
      const rt::PixelRect monitor{info[i].x, info[i].y, info[i].width, info[i].height};
      if (monitor.empty()) continue;
      if (info[i].primary)
        monitors.insert(monitors.begin(), monitor);
      else
        monitors.push_back(monitor);
    }
    if (info != nullptr) XRRFreeMonitors(info);
  }
#endif
#ifdef QG_WITH_XINERAMA
  if (monitors.empty() && XineramaIsActive(s.display)) {
    int count = 0;
    XineramaScreenInfo* info = XineramaQueryScreens(s.display, &count);
    for (int i = 0; i < count; ++i)
      monitors.push_back({info[i].x_org, info[i].y_org, info[i].width, info[i].height});
    if (info != nullptr) XFree(info);
  }
#endif
  // A monitor keeps its size when the screen shrinks under it (xrandr --fb): only what lies on
  // the screen counts, or the pointer would be parked where the server cannot put it.
  const rt::PixelRect screen{0, 0, DisplayWidth(s.display, s.screen),
                             DisplayHeight(s.display, s.screen)};
  for (rt::PixelRect& monitor : monitors) monitor = rt::Intersect(monitor, screen);
  std::erase_if(monitors, [](const rt::PixelRect& monitor) { return monitor.empty(); });
  if (monitors.empty()) monitors.push_back(screen);
  return monitors;
}

// Pictures go through the shared segment one after another; only when it is full must the
// server be done with all of them before its start is written again. False when the segment or
// the image cannot be had, and the plain path must do.
bool PresentShm(Window window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  X11State& s = S();
  XImage* image =
      XShmCreateImage(s.display, s.visual, static_cast<unsigned>(s.depth), ZPixmap, nullptr, &s.shm,
                      static_cast<unsigned>(area.width), static_cast<unsigned>(area.height));
  if (image == nullptr) return false;
  const auto bytes = static_cast<std::size_t>(image->bytes_per_line) * area.height;
  const bool shared = EnsureShmSegment(bytes);
  if (shared) {
    if (s.shmUsed + bytes > s.shmSize) {
      XSync(s.display, False);
      s.shmUsed = 0;
    }
    image->data = s.shm.shmaddr + s.shmUsed;
    Convert(image, pixels, stride);
    XShmPutImage(s.display, window, s.gc, image, 0, 0, area.x, area.y,
                 static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), False);
    s.shmUsed += (bytes + 63) / 64 * 64;
  }
  image->data = nullptr;
  image->obdata = nullptr;  // ours, not Xlib's to free
  XDestroyImage(image);
  return shared;
}

// The plain path: the pixels travel in the request itself.
void PresentPlain(Window window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  X11State& s = S();
  XImage* image =
      XCreateImage(s.display, s.visual, static_cast<unsigned>(s.depth), ZPixmap, 0, nullptr,
                   static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), 32, 0);
  if (image == nullptr) return;  // nothing to draw with; the next change tries again
  s.buffer.resize(static_cast<std::size_t>(image->bytes_per_line) * area.height);
  image->data = s.buffer.data();
  Convert(image, pixels, stride);
  XPutImage(s.display, window, s.gc, image, 0, 0, area.x, area.y, static_cast<unsigned>(area.width),
            static_cast<unsigned>(area.height));
  image->data = nullptr;
  XDestroyImage(image);
}

// Pixels are put as TrueColor: with the default visual where it is one (of any depth), otherwise
// with a TrueColor visual of 24 or 32 bits of the screen and a colormap of its own. False when
// the screen has neither, as an 8-bit PseudoColor one may.
bool ChooseVisual() {
  X11State& s = S();
  Visual* standard = DefaultVisual(s.display, s.screen);
  if (standard->c_class == TrueColor) {
    s.visual = standard;
    s.depth = DefaultDepth(s.display, s.screen);
    s.colormap = DefaultColormap(s.display, s.screen);
    return true;
  }
  for (const int depth : {24, 32}) {
    XVisualInfo info;
    if (!XMatchVisualInfo(s.display, s.screen, depth, TrueColor, &info)) continue;
    s.visual = info.visual;
    s.depth = depth;
    s.colormap = XCreateColormap(s.display, s.root, info.visual, AllocNone);
    return true;
  }
  return false;
}

// A display that takes the connection and never answers would hold the start for ever. The
// line is made before the alarm is set: the handler may only write and end.
constexpr unsigned kConnectSeconds = 5;
char unansweredLine[256];
std::size_t unansweredLength = 0;
int unansweredFd = STDERR_FILENO;  // stderr may be caught in a pipe while connecting
void DisplayDoesNotAnswer(int) {
  signal(SIGPIPE, SIG_IGN);  // a reader of stderr that has gone costs the line, not the status
  [[maybe_unused]] const ssize_t written = write(unansweredFd, unansweredLine, unansweredLength);
  _exit(1);
}

// The server went away or the connection broke: one line and status 1, like a failed start,
// instead of Xlib's lines and exit.
int DisplayLost(Display*) {
  static const char kLine[] = "quietglass: the connection to the display was lost\n";
  // Whoever read stderr may have gone too: the line is lost then, not the status.
  signal(SIGPIPE, SIG_IGN);
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kLine, sizeof kLine - 1);
  _exit(1);
}

// ---- Drawing into another program's window: xscreensaver's display modes ----------------------
//
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

bool InHackMode() {
  return Hack().window != 0;
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

// The window a display mode's command line names: `--window-id ID`, or `--root` with
// XSCREENSAVER_WINDOW; `window` stays 0 for any other command line, whose switches the program
// reads as usual. False, with the reason, for a display mode's command line that names no window.
bool HackWindowRequested(int argc, char** argv, Window& window, std::string& error) {
  window = 0;
  bool root = false;
  const char* id = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--root" || arg == "-root") {
      root = true;
    } else if (arg == "--window-id" || arg == "-window-id") {
      if (i + 1 == argc) {
        error = arg + " needs a window id";
        return false;
      }
      id = argv[++i];
    } else {
      return true;
    }
  }
  if (id != nullptr) {
    if (ParseWindowId(id, window)) return true;
    error = std::string("'") + id + "' is no window id (0x... or decimal)";
    return false;
  }
  if (!root) return true;
  // xscreensaver always names its window. Without one, --root gets no root window either: on
  // today's desktops it lies under the desktop's own windows, and a saver there would run unseen
  // with no input to end it.
  const char* named = std::getenv("XSCREENSAVER_WINDOW");
  if (named == nullptr || *named == '\0') {
    error =
        "--root draws into xscreensaver's window and XSCREENSAVER_WINDOW names none "
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
bool TranslateHack(const XEvent& xevent) {
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
  X11State& s = S();
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
  s.unflushed = true;
  if (s.useShm && PresentShm(window, shown, h.scaledPixels.data(), shown.width)) return;
  PresentPlain(window, shown, h.scaledPixels.data(), shown.width);
}

void FillScaled(Window window, const rt::PixelRect& area, rt::Pixel colour) {
  X11State& s = S();
  const rt::PixelRect shown = ShownInWindow(area);
  if (shown.empty()) return;  // a scaled-down area may fall between two window pixels
  s.unflushed = true;
  XSetForeground(s.display, s.gc, PixelValue(colour));
  XFillRectangle(s.display, window, s.gc, shown.x, shown.y, static_cast<unsigned>(shown.width),
                 static_cast<unsigned>(shown.height));
}

// Opens the display and learns what drawing on it needs.
bool Connect(int argc, char** argv, std::string& error) {
  X11State& s = S();
  posix::OpenStandardDescriptors();
  s.commandLine = posix::JoinArguments(argc, argv);
  const std::string name = XDisplayName(nullptr);
  if (name.empty()) {
    error = "no display to show on (DISPLAY is not set)";
    s.noDisplay = true;
    return false;
  }
  // Xlib prints a server's refusal on stderr itself; catch it so the reason stays on one line.
  // The catching takes three descriptors; it is given up unless two are left beside them, for
  // the connection and the authority file that Xlib opens while connecting.
  int pipeFds[2];
  bool catching = pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) == 0;
  const int savedStderr = catching ? fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0) : -1;
  const int spare[2] = {catching ? fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0) : -1,
                        catching ? fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0) : -1};
  for (const int fd : spare)
    if (fd >= 0) close(fd);
  if (catching && (savedStderr < 0 || spare[1] < 0)) {  // Xlib's words go where they would
    close(pipeFds[0]);
    close(pipeFds[1]);
    if (savedStderr >= 0) close(savedStderr);
    catching = false;
  }
  if (catching) dup2(pipeFds[1], STDERR_FILENO);
  std::snprintf(unansweredLine, sizeof unansweredLine,
                "quietglass: display '%s' does not answer within %u seconds\n", name.c_str(),
                kConnectSeconds);
  unansweredLength = std::strlen(unansweredLine);
  unansweredFd = catching ? savedStderr : STDERR_FILENO;
  struct sigaction onAlarm {
  }, previousAlarm{};
  onAlarm.sa_handler = DisplayDoesNotAnswer;
  sigaction(SIGALRM, &onAlarm, &previousAlarm);
  // The signal mask is inherited: a parent that blocked SIGALRM would leave no deadline. It is
  // let through for the wait, and one left pending from before is dropped first.
  sigset_t alarmOnly, previousMask;
  sigemptyset(&alarmOnly);
  sigaddset(&alarmOnly, SIGALRM);
  const timespec noWait{};
  while (sigtimedwait(&alarmOnly, nullptr, &noWait) == SIGALRM) {
  }
  sigprocmask(SIG_UNBLOCK, &alarmOnly, &previousMask);
  alarm(kConnectSeconds);
  s.display = XOpenDisplay(nullptr);
  alarm(0);
  sigprocmask(SIG_SETMASK, &previousMask, nullptr);
  sigaction(SIGALRM, &previousAlarm, nullptr);
  std::string told;
  if (catching) {
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    close(pipeFds[1]);
    char text[512];
    const ssize_t length = read(pipeFds[0], text, sizeof text);
    close(pipeFds[0]);
    for (ssize_t i = 0; i < length; ++i) told += text[i] == '\n' || text[i] == '\r' ? ' ' : text[i];
    while (!told.empty() && told.back() == ' ') told.pop_back();
  }
  if (s.display == nullptr) {
    error = "cannot open display '" + name + "'" + (told.empty() ? "" : ": " + told);
    return false;
  }
  XSetIOErrorHandler(DisplayLost);
  s.screen = DefaultScreen(s.display);
  s.root = RootWindow(s.display, s.screen);
  if (!ChooseVisual()) {
    error = "the display offers no TrueColor visual to draw with";
    return false;
  }
  s.useShm = XShmQueryExtension(s.display);
  s.monitors = QueryMonitors();
  // Monitors come and go and screens change size while the saver runs.
#ifdef QG_WITH_XRANDR
  int errorBase, major = 0, minor = 0;
  // The monitors' list came from RandR 1.5, which has the change events of 1.2; an older server
  // is asked for its version.
  if (!XRRQueryExtension(s.display, &s.randrEventBase, &errorBase) ||
      (!s.randrMonitors &&
       (!XRRQueryVersion(s.display, &major, &minor) || (major == 1 && minor < 2))))
    s.randrEventBase = -1;
#endif
  for (int i = 0; i < ScreenCount(s.display); ++i) {
    XSelectInput(s.display, RootWindow(s.display, i), StructureNotifyMask);
#ifdef QG_WITH_XRANDR
    if (s.randrEventBase >= 0)
      XRRSelectInput(s.display, RootWindow(s.display, i),
                     RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
#endif
  }
  return true;
}

// ---- The host's entry points -----------------------------------------------------------------

StartResult Start(int argc, char** argv, std::string& error) {
  Window requested = 0;  // a display mode's window (xscreensaver's), or none
  if (!HackWindowRequested(argc, argv, requested, error)) return StartResult::Failed;
  if (!Connect(argc, argv, error))
    return S().noDisplay ? StartResult::NotThisKind : StartResult::Failed;
  if (requested != 0 && !AdoptHackTarget(requested, error)) return StartResult::Failed;
  return StartResult::Started;
}

std::string CommandLineText() {
  if (InHackMode()) return "/S";  // a display mode is the saver
  return S().commandLine;
}

InstanceAnswer ClaimInstance() {
  if (InHackMode()) return ClaimHackWindow();
  return ClaimSelection("_QUIETGLASS_" + std::to_string(getuid()));
}

void EndProcess(int status) {
  _exit(status);  // the server drops our windows and grabs with the connection
}

std::vector<rt::PixelRect> Monitors() {
  if (InHackMode()) return {Hack().screen};
  return S().monitors;
}

double MonotonicSeconds() {
  return posix::MonotonicSeconds();
}

double ClockSeconds() {
  return posix::LocalSecondsSinceMidnight();
}

void MoveCursor(int x, int y) {
  if (InHackMode()) return;  // the pointer is xscreensaver's, and a move would wake it
  XWarpPointer(S().display, None, S().root, 0, 0, 0, 0, x, y);
  XFlush(S().display);
}

FrameExtents FrameFor(const WindowSettings& settings) {
  X11State& s = S();
  if (settings.kind == WindowKind::FullScreen) return {};
  // Every dialog has the same decorations, so the window manager is asked once.
  if (!s.frameKnown) {
    s.dialogFrame = AskFrameExtents(settings);
    s.frameKnown = true;
  }
  return s.dialogFrame;
}

NativeWindow CreateWindow(const WindowSettings& settings) {
  if (InHackMode() && settings.kind == WindowKind::FullScreen) return AdoptHackWindow();
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

void Present(NativeWindow window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  if (InHackMode() && Hack().scaled) return PresentScaled(window, area, pixels, stride);
  X11State& s = S();
  s.unflushed = true;
  if (s.useShm && PresentShm(window, area, pixels, stride)) return;
  PresentPlain(window, area, pixels, stride);
}

void Fill(NativeWindow window, const rt::PixelRect& area, rt::Pixel colour) {
  if (InHackMode() && Hack().scaled) return FillScaled(window, area, colour);
  X11State& s = S();
  s.unflushed = true;
  XSetForeground(s.display, s.gc, PixelValue(colour));
  XFillRectangle(s.display, window, s.gc, area.x, area.y, static_cast<unsigned>(area.width),
                 static_cast<unsigned>(area.height));
}

void Flush() {
  XFlush(S().display);
  S().unflushed = false;
}

void Wait(double timeoutSeconds) {
  X11State& s = S();
  const double deadline = timeoutSeconds < 0 ? 0 : posix::MonotonicSeconds() + timeoutSeconds;
  for (;;) {
    // What Xlib has read already comes first; the connection is read only when poll says there
    // is something, so a wait between two ticks costs one poll and no empty reads.
    bool posted = false;
    while (XEventsQueued(s.display, QueuedAlready) > 0) {
      XEvent xevent;
      XNextEvent(s.display, &xevent);
      posted = Translate(xevent) || posted;
    }
    if (posted) return;
    // Each flush costs the socket a write and two reads, so only when something waits.
    if (s.unflushed) Flush();
    const double left =
        timeoutSeconds < 0 ? -1 : std::max(0.0, deadline - posix::MonotonicSeconds());
    if (posix::PollFor(ConnectionNumber(s.display), POLLIN, left) != 0) {
      XEventsQueued(s.display, QueuedAfterReading);
      continue;
    }
    if (timeoutSeconds >= 0 && posix::MonotonicSeconds() >= deadline) return;
  }
}

}  // namespace
}  // namespace host

const host::Host host::kX11Host = {
    .name = "x11",
    .Start = Start,
    .CommandLineText = CommandLineText,
    .ClaimInstance = ClaimInstance,
    .EndProcess = EndProcess,
    .Monitors = Monitors,
    .MonotonicSeconds = MonotonicSeconds,
    .ClockSeconds = ClockSeconds,
    .MoveCursor = MoveCursor,
    .FrameFor = FrameFor,
    .CreateWindow = CreateWindow,
    .Present = Present,
    .Fill = Fill,
    .Flush = Flush,
    .Wait = Wait,
};
