// What the two X11 hosts share: the state and the routines of connection.cpp (connecting,
// errors, the single-copy selection, the event wait), monitors.cpp (monitors and screen changes),
// windows.cpp (windows and the window manager), input.cpp (X events to the runtime's) and
// pixels.cpp (shared memory and plain puts). host.cpp and display_mode.cpp hold the two tables.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <string>
#include <utility>
#include <vector>

// Xlib's KeyPress macro would rename the runtime's event of that name.
constexpr int kXKeyPressEvent = KeyPress;
#undef KeyPress

#include "platform/host.h"

namespace host::x11_detail {

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
  bool unflushed = false;              // requests wait in Xlib's buffer
  bool xcbUnflushed = false;           // requests wait in xcb's (pixels and fills)
  unsigned fillGc = 0;                 // xcb's graphics context for fills, once one was drawn
  unsigned long lastReadLookedAt = 0;  // the request Xlib had last heard of at the last look
  bool xcbRead = false;                // xcb waited for an answer of its own since then
  std::size_t shmUsed = 0;             // bytes from the segment's start the server may still read
  int trappedError = 0;
  unsigned long trapFrom = 0;  // the first request a trap covers
  int (*previousErrorHandler)(Display*, XErrorEvent*) = nullptr;
  bool noDisplay = false;  // DISPLAY names none: not an X11 start
  bool frameKnown = false;
  FrameExtents dialogFrame;
};

X11State& S();
Atom Intern(const char* name);

// connection.cpp
void BeginTrap();
bool EndTrap();
bool EndTrapAfterReply();
bool Connect(int argc, char** argv, std::string& error);
InstanceAnswer ClaimSelection(const std::string& name);
void EndProcess(int status);
void FlushRequests();
// Returns once the server has handled every request sent so far.
void WaitForServer();
void WaitForEvents(double timeoutSeconds, bool (*translate)(XEvent&));

// monitors.cpp
std::vector<rt::PixelRect> QueryMonitors();
rt::PixelRect DesktopBounds();
bool IsScreenChange(XEvent& xevent);
bool FollowScreenChange();

// windows.cpp
void SetDialogHints(Window window, const WindowSettings& settings);
void SetIcon(Window window, const rt::Picture* icon);
FrameExtents AskFrameExtents(const WindowSettings& settings);
void CoverOtherScreens(rt::Pixel colour);
bool TakeGrabs(Window window);
FrameExtents DialogFrame(const WindowSettings& settings);
NativeWindow CreateX11Window(const WindowSettings& settings);

// input.cpp
bool Translate(XEvent& xevent);

// pixels.cpp
unsigned long PixelValue(rt::Pixel colour);
bool PresentShm(Window window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride);
void PresentPlain(Window window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride);
void PutPixels(Window window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride);
void FillArea(Window window, const rt::PixelRect& area, rt::Pixel colour);

}  // namespace host::x11_detail
