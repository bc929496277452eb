// The headless host's controls for tests and tools: a virtual screen of any size, a virtual clock,
// scripted input at virtual times, and a capture of the composed screen.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/geometry.h"
#include "platform/host.h"
#include "platform/picture.h"

namespace headless {

struct Config {
  rt::PixelSize screen{1024, 768};      // the primary monitor
  std::vector<rt::PixelRect> monitors;  // every monitor, primary first; empty: just `screen`
  double clockStart = 12 * 3600.0;      // local time when the run starts, seconds since midnight
  // What the host answers when asked whether this copy is the only one.
  host::InstanceAnswer instance = host::InstanceAnswer::Mine;
  std::string commandLine = "/S";
  int pointerX = -1, pointerY = -1;  // where the pointer starts; -1: the screen's centre
  host::FrameExtents dialogFrame{3, 22, 3, 3};
  double runSeconds = 10;  // virtual time after which the run is stopped
  rt::Pixel desktop = rt::Rgb(0, 0x80, 0x80);
};

enum class InputKind {
  Move,       // the pointer moves to (x, y) screen pixels
  Down,       // a button goes down where the pointer is
  Up,         // and up again
  Click,      // Move when elsewhere, then Down and Up
  Key,        // a key press: keyCode, and keyChar when it types one
  Close,      // the window system asks the topmost window to close
  ClockJump,  // local time jumps by `seconds` (the monotonic clock does not)
  Monitors,   // the monitors become `monitors` (primary first), as when one is plugged in
  Expose,     // the screen loses (x, y, width, height) and the topmost window must draw it again
  Call,       // runs `call` (a test's probe) between two dispatches
};

struct Input {
  double at = 0;  // virtual seconds since the run started
  InputKind kind = InputKind::Move;
  int x = 0, y = 0, width = 0, height = 0;
  int button = host::kLeftButton;
  int shift = 0;
  int keyCode = 0, keyChar = 0;
  double seconds = 0;
  std::vector<rt::PixelRect> monitors;
  std::function<void()> call;
};

// Helpers that read well in a test's script.
Input MoveAt(double at, int x, int y);
Input ClickAt(double at, int x, int y, int button = host::kLeftButton);
Input KeyAt(double at, int keyCode, int keyChar = 0, int shift = 0);
Input CallAt(double at, std::function<void()> call);
Input ClockJumpAt(double at, double seconds);
Input MonitorsAt(double at, std::vector<rt::PixelRect> monitors);
Input ExposeAt(double at, const rt::PixelRect& area);

enum class Outcome {
  Ended,     // the program ended itself (the immediate end)
  Returned,  // the entry point returned and no window was left open
  Stopped,   // still running when the run's time was up
};

struct WindowRecord {
  host::WindowSettings settings;
  rt::PixelRect client;  // on the screen
  double createdAt = 0;
};

struct RunResult {
  Outcome outcome = Outcome::Returned;
  double endedAt = 0;  // virtual seconds
  int exitStatus = 0;  // when Ended
  std::vector<WindowRecord> windows;
  int cursorX = 0, cursorY = 0;
  std::vector<std::pair<int, int>> cursorCalls;  // what SetCursorPos was asked, unclamped
};

// Runs `program` (the entry point, then whatever it leaves running) on a fresh virtual screen.
// The program's immediate end unwinds to here instead of ending the process.
RunResult Run(const Config& config, std::vector<Input> script,
              const std::function<void()>& program);

// While a run is going on (from a Call probe) or after it: the screen as it stands (the
// bounding box of every monitor).
rt::Picture Capture();
// A rectangle (screen pixels) put on the screen: composed pixels, or one flat colour.
struct Painted : rt::PixelRect {
  bool filled = false;
};
// What was put on the screen since the last call.
std::vector<Painted> TakePaintLog();
// Virtual seconds since the run started.
double Now();

}  // namespace headless
