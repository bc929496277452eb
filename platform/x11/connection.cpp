// The X11 host's connection: opening the display with a deadline, a TrueColor visual, errors
// trapped around requests that may fail, and the single-copy selection.
#include <X11/Xlib.h>
#ifdef QG_WITH_XRANDR
#include <X11/extensions/Xrandr.h>
#endif
#ifdef QG_WITH_XCB
#include <X11/Xlib-xcb.h>
#endif
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/posix/posix.h"
#include "platform/x11/display.h"
#include "platform/x11/x11_internal.h"

#ifdef QG_WITH_XCB
// XESetWireToEvent: Xlib's own conversion of an event read by xcb. Last, for its min and max.
#include <X11/Xlibint.h>
#undef min
#undef max
#endif

namespace host::x11_detail {

// How long a display that took the connection may keep the start waiting for its answer.
constexpr unsigned kConnectSeconds = 5;

X11State& S() {
  static X11State state;
  return state;
}

Atom Intern(const char* name) {
  return XInternAtom(S().display, name, False);
}

namespace {

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
}  // namespace

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

// One copy per user and X server. The root window owns the selection, so that the check makes
// no window of its own.
InstanceAnswer ClaimSelection(const std::string& name) {
  switch (x11::ClaimSelection(S().display, S().root, name)) {
    case x11::SelectionClaim::Mine:
      return InstanceAnswer::Mine;
    case x11::SelectionClaim::Taken:
      return InstanceAnswer::Taken;
    default:
      return InstanceAnswer::CannotTell;
  }
}

namespace {

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

// The server went away or the connection broke: one line and status 1, like a failed start,
// instead of Xlib's lines and exit.
int DisplayLost(Display*) {
  static const char kLine[] = "quietglass: the connection to the display was lost\n";
  // Whoever read stderr may have gone too: the line is lost then, not the status.
  signal(SIGPIPE, SIG_IGN);
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kLine, sizeof kLine - 1);
  _exit(1);
}

}  // namespace

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
  s.display = x11::OpenDisplay(name, kConnectSeconds, error);
  if (s.display == nullptr) return false;
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

void EndProcess(int status) {
  _exit(status);  // the server drops our windows and grabs with the connection
}

#ifdef QG_WITH_XCB
// xcb reads while it writes whenever the server has sent something, and keeps the events it
// read in its own queue, where neither Xlib nor the wait's poll would see them: they go to
// Xlib's queue, converted as Xlib converts its own. An error there can only be of a put to a
// window that has gone, whose end comes as an event of its own.
void HandEventsToXlib(xcb_connection_t* connection) {
  X11State& s = S();
  while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection)) {
    const int type = event->response_type & 0x7F;
    if (type >= 2 && type < 128) {
      auto* convert = XESetWireToEvent(s.display, type, nullptr);
      XESetWireToEvent(s.display, type, convert);
      XEvent xevent{};
      if (convert != nullptr && convert(s.display, &xevent, reinterpret_cast<xEvent*>(event)))
        XPutBackEvent(s.display, &xevent);
    }
    std::free(event);
  }
}
#endif

// A round trip, so that the server is done with every request sent so far. Through xcb, whose
// wait for its answer reads no more than that answer; Xlib's XSync also looks for events with
// empty reads before and after.
void WaitForServer() {
#ifdef QG_WITH_XCB
  xcb_connection_t* connection = XGetXCBConnection(S().display);
  std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
  HandEventsToXlib(connection);
#else
  XSync(S().display, False);
#endif
  S().unflushed = false;
  S().xcbUnflushed = false;
}

// Xlib's flush also reads the connection for events, mostly an empty read or two; xcb's only
// writes, and hands over what it happened to read. A tick's pixels and fills go through xcb,
// so Xlib's flush is needed only when Xlib itself holds requests (it sends xcb's with them).
void FlushRequests() {
  X11State& s = S();
#ifdef QG_WITH_XCB
  if (s.xcbUnflushed && !s.unflushed) {
    xcb_connection_t* connection = XGetXCBConnection(s.display);
    xcb_flush(connection);
    HandEventsToXlib(connection);
  }
#endif
  if (s.unflushed) XFlush(s.display);
  s.unflushed = false;
  s.xcbUnflushed = false;
}

// Hands the runtime events through `translate` until one is posted or the time is up.
void WaitForEvents(double timeoutSeconds, bool (*translate)(XEvent&)) {
  X11State& s = S();
  const double deadline = timeoutSeconds < 0 ? 0 : posix::MonotonicSeconds() + timeoutSeconds;
  for (;;) {
    // What Xlib has read already comes first; the connection is read only when poll says there
    // is something, so a wait between two ticks costs one poll and no empty reads.
    // A reply Xlib or xcb waited for (XSync, a property read) may have brought events that xcb
    // keeps in its own queue, where neither Xlib's count nor poll sees them: Xlib takes them over
    // once something was read since the last look.
    if (s.xcbRead || LastKnownRequestProcessed(s.display) != s.lastReadLookedAt) {
      XEventsQueued(s.display, QueuedAfterReading);
      s.lastReadLookedAt = LastKnownRequestProcessed(s.display);
      s.xcbRead = false;
    }
    bool posted = false;
    while (XEventsQueued(s.display, QueuedAlready) > 0) {
      XEvent xevent;
      XNextEvent(s.display, &xevent);
      posted = translate(xevent) || posted;
    }
    if (posted) return;
    // Only when something waits.
    if (s.unflushed || s.xcbUnflushed) FlushRequests();
    const double left =
        timeoutSeconds < 0 ? -1 : std::max(0.0, deadline - posix::MonotonicSeconds());
    if (posix::PollFor(ConnectionNumber(s.display), POLLIN, left) != 0) {
      XEventsQueued(s.display, QueuedAfterReading);
      s.lastReadLookedAt = LastKnownRequestProcessed(s.display);
      continue;
    }
    if (timeoutSeconds >= 0 && posix::MonotonicSeconds() >= deadline) return;
  }
}

}  // namespace host::x11_detail
