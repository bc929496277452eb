// The headless host: a virtual screen, clock and input for tests and the capture tool. It acts
// like a real window system where the program relies on one (cursor clamping, a pointer report
// for a window shown under the pointer) and sleeps by advancing its clock.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>

#include "platform/forms.h"
#include "platform/headless.h"
#include "platform/host.h"
#include "platform/runtime.h"

namespace headless {
namespace {

// Thrown to unwind from deep inside the program's handlers to Run.
struct EndedSignal {};
struct StoppedSignal {};

struct Window {
  host::WindowSpec settings;
  rt::PixelRect client;  // on the screen
};

struct HeadlessState {
  Config config;
  std::vector<Input> script;
  std::size_t nextInput = 0;
  std::int64_t nowMicros = 0;
  std::int64_t stopMicros = 0;
  double clockOffset = 0;
  std::deque<host::Event> pending;
  std::vector<Window> windows;  // index + 1 is the window's id; the last is on top
  std::vector<rt::Pixel> screen;
  int pointerX = 0, pointerY = 0;
  int buttons = 0;
  std::vector<rt::PixelRect> paintLog;
  RunResult result;
};

HeadlessState& S() {
  static HeadlessState state;
  return state;
}

std::int64_t Micros(double seconds) {
  return std::llround(seconds * 1e6);
}

rt::PixelRect ScreenRect() {
  return {0, 0, S().config.screen.width, S().config.screen.height};
}

// The topmost window whose client area holds the point, as id; 0 when none.
host::WindowId WindowAt(int x, int y) {
  for (std::size_t i = S().windows.size(); i > 0; --i)
    if (S().windows[i - 1].client.contains(x, y)) return static_cast<host::WindowId>(i);
  return 0;
}

void PointerEvent(host::EventType type, int button) {
  HeadlessState& s = S();
  const host::WindowId id = WindowAt(s.pointerX, s.pointerY);
  if (id == 0) return;
  const rt::PixelRect& client = s.windows[id - 1].client;
  host::Event event;
  event.type = type;
  event.window = id;
  event.x = s.pointerX - client.x;
  event.y = s.pointerY - client.y;
  event.button = type == host::EventType::MouseMove ? s.buttons : button;
  s.pending.push_back(event);
}

void MovePointer(int x, int y) {
  HeadlessState& s = S();
  // Like a real screen: the pointer never leaves it.
  x = std::clamp(x, 0, std::max(0, s.config.screen.width - 1));
  y = std::clamp(y, 0, std::max(0, s.config.screen.height - 1));
  if (x == s.pointerX && y == s.pointerY) return;
  s.pointerX = x;
  s.pointerY = y;
  PointerEvent(host::EventType::MouseMove, 0);
}

void ToTopWindow(host::Event event) {
  if (S().windows.empty()) return;
  event.window = static_cast<host::WindowId>(S().windows.size());
  S().pending.push_back(event);
}

void Apply(Input& input) {
  HeadlessState& s = S();
  switch (input.kind) {
    case InputKind::Move:
      MovePointer(input.x, input.y);
      break;
    case InputKind::Click:
      MovePointer(input.x, input.y);
      [[fallthrough]];
    case InputKind::Down:
      s.buttons |= input.button;
      PointerEvent(host::EventType::MouseDown, input.button);
      if (input.kind == InputKind::Down) break;
      [[fallthrough]];
    case InputKind::Up:
      s.buttons &= ~input.button;
      PointerEvent(host::EventType::MouseUp, input.button);
      break;
    case InputKind::Key: {
      host::Event event;
      event.type = host::EventType::KeyDown;
      event.keyCode = input.keyCode;
      event.shift = input.shift;
      ToTopWindow(event);
      if (input.keyChar != 0) {
        event.type = host::EventType::KeyPress;
        event.keyChar = input.keyChar;
        ToTopWindow(event);
      }
      break;
    }
    case InputKind::Close: {
      host::Event event;
      event.type = host::EventType::CloseRequest;
      ToTopWindow(event);
      break;
    }
    case InputKind::ClockJump:
      s.clockOffset += input.seconds;
      break;
    case InputKind::Call:
      if (input.call) input.call();
      break;
  }
}

void Draw(host::WindowId id, const rt::PixelRect& area, const rt::Pixel* pixels, int stride,
          rt::Pixel fill) {
  HeadlessState& s = S();
  if (id <= 0 || static_cast<std::size_t>(id) > s.windows.size()) return;
  const rt::PixelRect& client = s.windows[id - 1].client;
  const rt::PixelRect onScreen{client.x + area.x, client.y + area.y, area.width, area.height};
  const rt::PixelRect r = rt::Intersect(rt::Intersect(onScreen, client), ScreenRect());
  if (r.empty()) return;
  s.paintLog.push_back(r);
  for (int y = r.y; y < r.bottom(); ++y) {
    rt::Pixel* dst = s.screen.data() + static_cast<std::size_t>(y) * s.config.screen.width;
    for (int x = r.x; x < r.right(); ++x)
      dst[x] = pixels ? pixels[(y - onScreen.y) * stride + (x - onScreen.x)] : fill;
  }
}

}  // namespace

Input MoveAt(double at, int x, int y) {
  Input input;
  input.at = at;
  input.kind = InputKind::Move;
  input.x = x;
  input.y = y;
  return input;
}

Input ClickAt(double at, int x, int y, int button) {
  Input input = MoveAt(at, x, y);
  input.kind = InputKind::Click;
  input.button = button;
  return input;
}

Input KeyAt(double at, int keyCode, int keyChar, int shift) {
  Input input;
  input.at = at;
  input.kind = InputKind::Key;
  input.keyCode = keyCode;
  input.keyChar = keyChar;
  input.shift = shift;
  return input;
}

Input CallAt(double at, std::function<void()> call) {
  Input input;
  input.at = at;
  input.kind = InputKind::Call;
  input.call = std::move(call);
  return input;
}

Input ClockJumpAt(double at, double seconds) {
  Input input;
  input.at = at;
  input.kind = InputKind::ClockJump;
  input.seconds = seconds;
  return input;
}

RunResult Run(const Config& config, std::vector<Input> script,
              const std::function<void()>& program) {
  rt::ResetRuntime();
  HeadlessState& s = S();
  s = HeadlessState{};
  s.config = config;
  s.config.screen.width = std::max(0, config.screen.width);
  s.config.screen.height = std::max(0, config.screen.height);
  std::stable_sort(script.begin(), script.end(),
                   [](const Input& a, const Input& b) { return a.at < b.at; });
  s.script = std::move(script);
  s.stopMicros = Micros(config.runSeconds);
  s.screen.assign(static_cast<std::size_t>(s.config.screen.width) * s.config.screen.height,
                  config.desktop);
  s.pointerX = config.pointerX >= 0 ? config.pointerX : s.config.screen.width / 2;
  s.pointerY = config.pointerY >= 0 ? config.pointerY : s.config.screen.height / 2;
  try {
    program();
    rt::RunEventLoop();
    s.result.outcome = Outcome::Returned;
  } catch (const EndedSignal&) {
    s.result.outcome = Outcome::Ended;
  } catch (const StoppedSignal&) {
    s.result.outcome = Outcome::Stopped;
  }
  s.result.endedAt = static_cast<double>(s.nowMicros) / 1e6;
  s.result.cursorX = s.pointerX;
  s.result.cursorY = s.pointerY;
  return s.result;
}

rt::Picture Capture() {
  const HeadlessState& s = S();
  return {s.config.screen.width, s.config.screen.height, s.screen};
}

std::vector<rt::PixelRect> TakePaintLog() {
  std::vector<rt::PixelRect> log;
  log.swap(S().paintLog);
  return log;
}

double Now() {
  return static_cast<double>(S().nowMicros) / 1e6;
}

}  // namespace headless

namespace host {

using headless::S;

bool Start(int, char**, std::string&) {
  return true;
}
std::string CommandLineText() {
  return S().config.commandLine;
}
bool AnotherInstanceRunning() {
  return S().config.anotherInstance;
}

void EndProcess() {
  throw headless::EndedSignal{};
}

rt::PixelSize ScreenSize() {
  return S().config.screen;
}
double MonotonicSeconds() {
  return static_cast<double>(S().nowMicros) / 1e6;
}

double ClockSeconds() {
  const double t = std::fmod(S().config.clockStart + S().clockOffset + MonotonicSeconds(), 86400.0);
  return t < 0 ? t + 86400.0 : t;
}

void SetCursorPos(int x, int y) {
  S().result.cursorCalls.emplace_back(x, y);
  headless::MovePointer(x, y);
}

FrameExtents FrameFor(const WindowSpec& settings) {
  return settings.kind == WindowKind::FullScreen ? FrameExtents{} : S().config.dialogFrame;
}

WindowId CreateWindow(const WindowSpec& settings) {
  headless::HeadlessState& s = S();
  rt::PixelRect client = headless::ScreenRect();
  if (settings.kind == WindowKind::Dialog) {
    const FrameExtents frame = FrameFor(settings);
    client = {settings.outer.x + frame.left, settings.outer.y + frame.top, settings.client.width,
              settings.client.height};
  }
  s.windows.push_back({settings, client});
  s.result.windows.push_back({settings, client, headless::Now()});
  const auto id = static_cast<WindowId>(s.windows.size());
  headless::Draw(id, {0, 0, client.width, client.height}, nullptr, 0, settings.background);
  s.paintLog.clear();
  // A window system reports the pointer once to a window that appears under it.
  if (headless::WindowAt(s.pointerX, s.pointerY) == id)
    headless::PointerEvent(EventType::MouseMove, 0);
  return id;
}

void Present(WindowId window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  headless::Draw(window, area, pixels, stride, 0);
}

void Fill(WindowId window, const rt::PixelRect& area, rt::Pixel colour) {
  headless::Draw(window, area, nullptr, 0, colour);
}

void Flush() {}

bool WaitEvent(double timeoutSeconds, Event& out) {
  headless::HeadlessState& s = S();
  const std::int64_t deadline =
      timeoutSeconds < 0
          ? INT64_MAX
          : s.nowMicros + std::max<std::int64_t>(0, headless::Micros(timeoutSeconds));
  for (;;) {
    if (!s.pending.empty()) {
      out = s.pending.front();
      s.pending.pop_front();
      return true;
    }
    if (s.nextInput < s.script.size()) {
      const std::int64_t at = std::max(s.nowMicros, headless::Micros(s.script[s.nextInput].at));
      if (at <= deadline && at <= s.stopMicros) {
        s.nowMicros = at;
        headless::Input input = std::move(s.script[s.nextInput++]);
        headless::Apply(input);
        continue;
      }
    }
    if (deadline > s.stopMicros) {
      s.nowMicros = s.stopMicros;
      throw headless::StoppedSignal{};
    }
    s.nowMicros = std::max(s.nowMicros, deadline);
    return false;
  }
}

}  // namespace host
