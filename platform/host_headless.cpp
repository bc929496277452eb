// The headless host: a virtual screen, clock and input for tests and the capture tool. It acts
// like a real window system where the program relies on one (a pointer report for a window
// shown under the pointer, monitors that change) and sleeps by advancing its clock.
#include <algorithm>
#include <cmath>
#include <cstdint>

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
  host::WindowSettings settings;
  rt::PixelRect client;  // on the screen
};

struct HeadlessState {
  Config config;
  std::vector<Input> script;
  std::size_t nextInput = 0;
  std::int64_t nowMicros = 0;
  std::int64_t stopMicros = 0;
  double clockOffset = 0;
  std::vector<Window> windows;  // the last is on top; a window's handle is its index + 1
  rt::PixelRect screenRect;     // the bounding box of the monitors
  std::vector<rt::Pixel> screen;
  int pointerX = 0, pointerY = 0;
  int buttons = 0;
  std::vector<Painted> paintLog;
  RunResult result;
};

HeadlessState& S() {
  static HeadlessState state;
  return state;
}

std::int64_t Micros(double seconds) {
  return std::llround(seconds * 1e6);
}

// A fresh screen in the desktop colour, as large as the monitors' bounding box.
void SetMonitors(std::vector<rt::PixelRect> monitors) {
  HeadlessState& s = S();
  s.config.monitors = std::move(monitors);
  s.screenRect = {};
  for (const rt::PixelRect& m : s.config.monitors) s.screenRect = rt::Union(s.screenRect, m);
  s.screenRect = {0, 0, std::max(0, s.screenRect.right()), std::max(0, s.screenRect.bottom())};
  s.screen.assign(static_cast<std::size_t>(s.screenRect.area()), s.config.desktop);
}

// The topmost window whose client area holds the point; 0 when none.
host::NativeWindow WindowAt(int x, int y) {
  for (std::size_t i = S().windows.size(); i > 0; --i)
    if (S().windows[i - 1].client.contains(x, y)) return i;
  return 0;
}

void PointerEvent(host::EventType type, int button) {
  HeadlessState& s = S();
  const host::NativeWindow id = WindowAt(s.pointerX, s.pointerY);
  if (id == 0) return;
  const rt::PixelRect& client = s.windows[id - 1].client;
  host::Event event;
  event.type = type;
  event.window = id;
  event.x = s.pointerX - client.x;
  event.y = s.pointerY - client.y;
  event.button = type == host::EventType::MouseMove ? s.buttons : button;
  rt::PostEvent(event);
}

void MovePointer(int x, int y) {
  HeadlessState& s = S();
  // Like a real screen: the pointer never leaves it.
  x = std::clamp(x, 0, std::max(0, s.screenRect.width - 1));
  y = std::clamp(y, 0, std::max(0, s.screenRect.height - 1));
  if (x == s.pointerX && y == s.pointerY) return;
  s.pointerX = x;
  s.pointerY = y;
  PointerEvent(host::EventType::MouseMove, 0);
}

void ToTopWindow(host::Event event) {
  if (S().windows.empty()) return;
  event.window = S().windows.size();
  rt::PostEvent(event);
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
    case InputKind::Monitors: {
      // A window system grows its full-screen windows with the screen, pulls the pointer onto
      // it (and reports that first), then tells the program.
      SetMonitors(input.monitors);
      for (Window& window : s.windows)
        if (window.settings.kind == host::WindowKind::FullScreen) window.client = s.screenRect;
      MovePointer(s.pointerX, s.pointerY);
      host::Event event;
      event.type = host::EventType::ScreenChanged;
      rt::PostEvent(event);
      break;
    }
    case InputKind::Expose: {
      // As when a window above goes away: the area shows the desktop until the window under it
      // draws its part again.
      const rt::PixelRect lost =
          rt::Intersect({input.x, input.y, input.width, input.height}, s.screenRect);
      for (int y = lost.y; y < lost.bottom(); ++y)
        std::fill_n(s.screen.data() + static_cast<std::size_t>(y) * s.screenRect.width + lost.x,
                    lost.width, s.config.desktop);
      if (s.windows.empty()) break;
      const rt::PixelRect& client = s.windows.back().client;
      const rt::PixelRect part = rt::Intersect(lost, client);
      if (part.empty()) break;
      host::Event event;
      event.type = host::EventType::Exposed;
      event.x = part.x - client.x;
      event.y = part.y - client.y;
      event.width = part.width;
      event.height = part.height;
      ToTopWindow(event);
      break;
    }
    case InputKind::Call:
      if (input.call) input.call();
      break;
  }
}

void Draw(host::NativeWindow id, const rt::PixelRect& area, const rt::Pixel* pixels, int stride,
          rt::Pixel fill) {
  HeadlessState& s = S();
  if (id == 0 || id > s.windows.size()) return;
  const rt::PixelRect& client = s.windows[id - 1].client;
  const rt::PixelRect onScreen{client.x + area.x, client.y + area.y, area.width, area.height};
  const rt::PixelRect r = rt::Intersect(rt::Intersect(onScreen, client), s.screenRect);
  if (r.empty()) return;
  s.paintLog.push_back({r, pixels == nullptr});
  for (int y = r.y; y < r.bottom(); ++y) {
    rt::Pixel* dst = s.screen.data() + static_cast<std::size_t>(y) * s.screenRect.width;
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

Input MonitorsAt(double at, std::vector<rt::PixelRect> monitors) {
  Input input;
  input.at = at;
  input.kind = InputKind::Monitors;
  input.monitors = std::move(monitors);
  return input;
}

Input ExposeAt(double at, const rt::PixelRect& area) {
  Input input = MoveAt(at, area.x, area.y);
  input.kind = InputKind::Expose;
  input.width = area.width;
  input.height = area.height;
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
  SetMonitors(config.monitors.empty() ? std::vector<rt::PixelRect>{{0, 0, s.config.screen.width,
                                                                    s.config.screen.height}}
                                      : config.monitors);
  std::stable_sort(script.begin(), script.end(),
                   [](const Input& a, const Input& b) { return a.at < b.at; });
  s.script = std::move(script);
  s.stopMicros = Micros(config.runSeconds);
  const rt::PixelRect primary = s.config.monitors.front();
  s.pointerX = config.pointerX >= 0 ? config.pointerX : primary.x + primary.width / 2;
  s.pointerY = config.pointerY >= 0 ? config.pointerY : primary.y + primary.height / 2;
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
  return {s.screenRect.width, s.screenRect.height, s.screen};
}

std::vector<Painted> TakePaintLog() {
  std::vector<Painted> log;
  log.swap(S().paintLog);
  return log;
}

double Now() {
  return static_cast<double>(S().nowMicros) / 1e6;
}

}  // namespace headless

namespace host {
namespace {

using namespace headless;

// ---- The host's entry points -----------------------------------------------------------------

StartResult Start(int, char**, std::string&) {
  return StartResult::Started;
}

std::string CommandLineText() {
  return S().config.commandLine;
}

InstanceAnswer ClaimInstance() {
  return S().config.instance;
}

void EndProcess(int status) {
  S().result.exitStatus = status;
  throw EndedSignal{};
}

std::vector<rt::PixelRect> Monitors() {
  return S().config.monitors;
}

double MonotonicSeconds() {
  return static_cast<double>(S().nowMicros) / 1e6;
}

double ClockSeconds() {
  const double t = std::fmod(S().config.clockStart + S().clockOffset + MonotonicSeconds(), 86400.0);
  return t < 0 ? t + 86400.0 : t;
}

void MoveCursor(int x, int y) {
  S().result.cursorCalls.emplace_back(x, y);
  MovePointer(x, y);
}

FrameExtents FrameFor(const WindowSettings& settings) {
  return settings.kind == WindowKind::FullScreen ? FrameExtents{} : S().config.dialogFrame;
}

NativeWindow CreateWindow(const WindowSettings& settings) {
  HeadlessState& s = S();
  rt::PixelRect client = s.screenRect;
  if (settings.kind == WindowKind::Dialog) {
    const FrameExtents frame = FrameFor(settings);
    client = {settings.outer.x + frame.left, settings.outer.y + frame.top, settings.client.width,
              settings.client.height};
  }
  s.windows.push_back({settings, client});
  s.result.windows.push_back({settings, client, Now()});
  const NativeWindow id = s.windows.size();
  Draw(id, {0, 0, client.width, client.height}, nullptr, 0, settings.background);
  s.paintLog.clear();
  // A window system reports the pointer once to a window that appears under it.
  if (WindowAt(s.pointerX, s.pointerY) == id) PointerEvent(EventType::MouseMove, 0);
  return id;
}

void Present(NativeWindow window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  Draw(window, area, pixels, stride, 0);
}

void Fill(NativeWindow window, const rt::PixelRect& area, rt::Pixel colour) {
  Draw(window, area, nullptr, 0, colour);
}

void Flush() {}

// Advances the virtual clock to the next scripted input or the deadline, whichever is first.
void Wait(double timeoutSeconds) {
  HeadlessState& s = S();
  const std::int64_t deadline =
      timeoutSeconds < 0 ? INT64_MAX
                         : s.nowMicros + std::max<std::int64_t>(0, Micros(timeoutSeconds));
  if (s.nextInput < s.script.size()) {
    const std::int64_t at = std::max(s.nowMicros, Micros(s.script[s.nextInput].at));
    if (at <= deadline && at <= s.stopMicros) {
      s.nowMicros = at;
      // Every input due at this moment, as a window system delivers what piled up.
      while (s.nextInput < s.script.size() && Micros(s.script[s.nextInput].at) <= s.nowMicros) {
        Input input = std::move(s.script[s.nextInput++]);
        Apply(input);
      }
      return;
    }
  }
  if (deadline > s.stopMicros) {
    s.nowMicros = s.stopMicros;
    throw StoppedSignal{};
  }
  s.nowMicros = std::max(s.nowMicros, deadline);
}

}  // namespace
}  // namespace host

const host::Host host::kHeadlessHost = {
    .name = "headless",
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
