// The operating-system calls the runtime needs. Each host (host_headless.cpp, host_x11.cpp,
// host_win32.cpp) defines exactly these functions and nothing the program could see.
#pragma once

#include <string>

#include "platform/geometry.h"
#include "platform/picture.h"

namespace host {

using WindowId = int;

enum class WindowKind {
  FullScreen,  // the saver: borderless, above every other window, covering the primary screen
  Dialog,      // fixed dialog frame, title, no close button, not in the taskbar
};

struct WindowSpec {
  WindowKind kind = WindowKind::Dialog;
  std::string caption;                // UTF-8; empty for none
  rt::PixelRect outer;                // dialog: outer position and size (frame included)
  rt::PixelSize client;               // dialog: fixed client size
  const rt::Picture* icon = nullptr;  // 32 x 32, or none
  rt::Pixel background = 0;           // what the host may show before the first paint
};

// Widths of the frame around a window's client area, in pixels.
struct FrameExtents {
  int left = 0, top = 0, right = 0, bottom = 0;
};

enum class EventType {
  KeyDown,       // keyCode (virtual-key code), shift
  KeyPress,      // keyChar (a character the key typed), shift
  MouseMove,     // x, y in client pixels; button held
  MouseDown,     // x, y, button, shift
  MouseUp,       // x, y, button, shift
  CloseRequest,  // the window system asks the window to close
  Exposed,       // x, y, width, height: client pixels to draw again
};

// Button bits and shift bits, as the program's handlers receive them.
constexpr int kLeftButton = 1, kRightButton = 2, kMiddleButton = 4;
constexpr int kShiftMask = 1, kCtrlMask = 2, kAltMask = 4;

struct Event {
  EventType type = EventType::MouseMove;
  WindowId window = 0;
  int x = 0, y = 0, width = 0, height = 0;
  int button = 0;
  int shift = 0;
  int keyCode = 0;
  int keyChar = 0;
};

// Connects to the window system. False, with a one-line reason, when there is none to use.
bool Start(int argc, char** argv, std::string& error);

// The program's arguments as one string, without the program's path.
std::string CommandLineText();
// True while another copy of this program runs for the same user and display.
bool AnotherInstanceRunning();
// Ends the process at once; nothing of the program runs afterwards.
[[noreturn]] void EndProcess();

rt::PixelSize ScreenSize();
// Seconds on a clock that never jumps; timers run on it.
double MonotonicSeconds();
// Local time in seconds since midnight, with a fraction.
double ClockSeconds();
// Puts the mouse cursor at (x, y) pixels, clamped to the screen.
void SetCursorPos(int x, int y);

// The frame the window system will put around a window of this kind.
FrameExtents FrameFor(const WindowSpec& settings);
// Creates the window and shows it. A window shown under the pointer gets one MouseMove.
WindowId CreateWindow(const WindowSpec& settings);
// Puts `area` (client pixels) on the screen from `pixels`, `stride` pixels per row.
void Present(WindowId window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride);
// Fills `area` (client pixels) with one colour.
void Fill(WindowId window, const rt::PixelRect& area, rt::Pixel colour);
// Makes everything presented so far visible.
void Flush();

// Waits up to `timeoutSeconds` on the monotonic clock (negative: for ever; 0: only looks) for
// the next event. False when none came in time.
bool WaitEvent(double timeoutSeconds, Event& out);

}  // namespace host
