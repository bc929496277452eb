// The contract between the runtime and a host (headless, X11 with xscreensaver's display mode,
// Wayland, Win32). Each host fills one `host::Host` table with the same entry points; only the
// runtime and the hosts include this file, never program code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/geometry.h"
#include "platform/picture.h"

namespace host {

// The host's own handle of a window (an X window id, an HWND, an index); 0 is none.
using NativeWindow = std::uintptr_t;

enum class WindowKind {
  FullScreen,  // the saver: borderless, above every other window, covering every monitor
  Dialog,      // a framed top-level window of a fixed client size
};

// What a window is, from the form's layout settings; a host honours what its window system can.
struct WindowSettings {
  WindowKind kind = WindowKind::Dialog;
  std::string caption;      // UTF-8; empty for none
  rt::PixelRect outer;      // dialog: outer position and size (frame included)
  rt::PixelSize client;     // dialog: client size; full screen: the desktop's
  bool sizable = false;     // dialog: a frame the user may drag
  bool controlBox = false;  // dialog: a window menu and close button
  bool minButton = false, maxButton = false;
  bool inTaskbar = false;             // dialog: listed in the taskbar
  const rt::Picture* icon = nullptr;  // 32 x 32 and decoded (`pixels` filled), or none
  rt::Pixel background = 0;           // what the host may show before the first paint
};

// Widths of the frame around a window's client area, in pixels.
struct FrameExtents {
  int left = 0, top = 0, right = 0, bottom = 0;
};

enum class EventType {
  KeyDown,        // keyCode (virtual-key code), shift
  KeyPress,       // keyChar (a character the key typed), shift
  MouseMove,      // x, y in client pixels; button held
  MouseDown,      // x, y, button, shift
  MouseUp,        // x, y, button, shift
  CloseRequest,   // the window system asks the window to close
  Exposed,        // x, y, width, height: client pixels to draw again
  ScreenChanged,  // monitors came, went or changed size; window is 0
};

// Button bits and shift bits, as the program's handlers receive them.
constexpr int kLeftButton = 1, kRightButton = 2, kMiddleButton = 4;
constexpr int kShiftMask = 1, kCtrlMask = 2, kAltMask = 4;

struct Event {
  EventType type = EventType::MouseMove;
  NativeWindow window = 0;
  int x = 0, y = 0, width = 0, height = 0;
  int button = 0;
  int shift = 0;
  int keyCode = 0;
  int keyChar = 0;
};

// How a host's Start went. NotThisKind lets the runtime try the next linked host (no compositor
// to connect to, no display-mode switch); Failed is final and its reason is reported.
enum class StartResult { Started, NotThisKind, Failed };

// What a host can tell of another copy. The runtime asks once and keeps the answer; it counts
// CannotTell as another copy, so that two savers never fight over the screen.
enum class InstanceAnswer { Mine, Taken, CannotTell };

// A host's entry points. The runtime never hands Present or Fill an empty area.
struct Host {
  const char* name;
  // Connects to the window system; on NotThisKind and Failed, `error` says why on one line.
  StartResult (*Start)(int argc, char** argv, std::string& error);
  // The program's arguments as one string, without the program's path.
  std::string (*CommandLineText)();
  // Whether this copy is the one for its user and display. Asked once.
  InstanceAnswer (*ClaimInstance)();
  // Ends the process at once with `status`; nothing of the program runs afterwards.
  void (*EndProcess)(int status);
  // Every monitor in desktop pixels, the primary first; never empty while started.
  std::vector<rt::PixelRect> (*Monitors)();
  // Seconds on a clock that never jumps; timers run on it.
  double (*MonotonicSeconds)();
  // Local time in seconds since midnight, with a fraction.
  double (*ClockSeconds)();
  // Puts the mouse cursor at (x, y) desktop pixels, already clamped to the primary monitor. A
  // window system that lets no client move the pointer may do nothing.
  void (*MoveCursor)(int x, int y);
  // The frame the window system will put around a window of this kind.
  FrameExtents (*FrameFor)(const WindowSettings& settings);
  // Creates the window and shows it; 0 when it cannot be made. A full-screen window covers the
  // desktop (the bounding box of every monitor). A window shown under the pointer gets one
  // MouseMove.
  NativeWindow (*CreateWindow)(const WindowSettings& settings);
  // Puts `area` (client pixels, not empty) on the screen from `pixels`, `stride` pixels per row.
  void (*Present)(NativeWindow window, const rt::PixelRect& area, const rt::Pixel* pixels,
                  int stride);
  // Fills `area` (client pixels, not empty) with one colour.
  void (*Fill)(NativeWindow window, const rt::PixelRect& area, rt::Pixel colour);
  // Makes everything presented so far visible.
  void (*Flush)();
  // Sleeps until the window system has something or `timeoutSeconds` pass on the monotonic
  // clock (negative: for ever; 0: only looks), handing each event to rt::PostEvent.
  void (*Wait)(double timeoutSeconds);
};

// Each host defines its table with designated initializers, so every entry is checked by name:
//   const host::Host host::kX11Host = {.name = "x11", .Start = Start, ...};
// kDisplayModeHost draws into a window xscreensaver names on X11 and steps aside for any other
// command line.
extern const Host kHeadlessHost, kDisplayModeHost, kX11Host, kWaylandHost, kWin32Host;
// The hosts an executable was linked with, in the order they are tried; null-terminated. The
// build writes this list for each executable (qg_link_hosts in platform/CMakeLists.txt).
extern const Host* const kLinkedHosts[];

}  // namespace host

namespace rt {
// For hosts: queues an event for the runtime to dispatch.
void PostEvent(const host::Event& event);
}  // namespace rt
