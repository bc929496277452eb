// The X11 host: Xlib windows, input translated to the runtime's events, pixels put with MIT-SHM
// where the server has it. Layout, painting and timers stay in the runtime. The table's entries;
// the work is in the other files of this folder (x11_internal.h).
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "platform/posix/posix.h"
#include "platform/x11/x11_internal.h"

namespace host {
namespace {

using namespace x11_detail;

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
  if (InHackMode()) return {HackScreen()};
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
  if (InHackMode() && HackScaled()) return PresentScaled(window, area, pixels, stride);
  X11State& s = S();
  s.unflushed = true;
  if (s.useShm && PresentShm(window, area, pixels, stride)) return;
  PresentPlain(window, area, pixels, stride);
}

void Fill(NativeWindow window, const rt::PixelRect& area, rt::Pixel colour) {
  if (InHackMode() && HackScaled()) return FillScaled(window, area, colour);
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
