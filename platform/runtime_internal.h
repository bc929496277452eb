// What the runtime's own files share: the host in use, the table of open windows, the event
// queue, and the way into forms' and timers' private state. Program code never includes this.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/forms.h"
#include "platform/host.h"

namespace rt {

// A form's window: form pixels + origin = the window's client pixels. The origin is where the
// primary monitor lies in a full-screen window; 0 for a dialog.
struct OpenWindow {
  Form* form = nullptr;
  host::NativeWindow native = 0;
  int originX = 0, originY = 0;
};

struct RuntimeState {
  const host::Host* host = nullptr;
  std::vector<std::unique_ptr<Form>> forms;
  std::vector<OpenWindow> windows;
  std::deque<host::Event> queue;
  std::vector<Pixel> piece;                      // the composition buffer
  std::optional<host::InstanceAnswer> instance;  // the host's single-copy claim, once made
  // Where the program last sent the cursor (SetCursorPos, unclamped): it goes back there, in the
  // new screen's terms, when the screen changes under it.
  std::optional<PixelPoint> cursorSentTo;
  // A screen change moves the pointer without the user: pointer moves until this time are the
  // window system's, and so are later ones at the spot where the pointer then lay (form pixels).
  std::int64_t pointerSettlesAt = 0;
  std::optional<PixelPoint> pointerSettledAt;
};
RuntimeState& State();

// The host in use; StartHost (or a test's headless run) chose it.
const host::Host& Host();
// Ends the program after one line on stderr, with status 1.
[[noreturn]] void Fail(const std::string& why);
std::int64_t NowMicros();

// The primary monitor and the bounding box of every monitor, in desktop pixels.
struct Desktop {
  PixelRect primary;
  PixelRect bounds;
};
Desktop CurrentDesktop();
// Moves the cursor to (x, y) pixels of the primary monitor, clamped onto it; returns where.
PixelPoint PlaceCursor(int x, int y);

OpenWindow* WindowOf(const Form& form);
OpenWindow* WindowOf(host::NativeWindow native);

struct FormAccess {
  static host::WindowSettings Settings(const Form& form);
  static void MarkClosed(Form& form) { form.closed_ = true; }
  // A full-screen form's window now covers `desktop`: new coordinates, everything repainted.
  static void Cover(Form& form, OpenWindow& window, const Desktop& desktop);
};

struct TimerAccess {
  static std::int64_t Due(const Timer& timer);
  static void Start(Timer& timer, std::int64_t now);
  static void FireIfDue(Timer& timer, std::int64_t now);
};

// Paints what changed on every open form and makes it visible.
void PaintDirtyForms();

}  // namespace rt
