// Events and timers: the queue hosts post into, routing keys and the pointer to controls and
// handlers, the timer schedule, and the one loop that dispatches and sleeps.
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/keys.h"
#include "platform/runtime.h"
#include "platform/runtime_internal.h"

namespace rt {
namespace {

// Windows' defaults for telling a double click from two clicks.
constexpr std::int64_t kDoubleClickMicros = 500000;
constexpr int kDoubleClickDistance = 4;

Control* ControlAt(const std::vector<Control*>& controls, int x, int y) {
  for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
    Control* control = *it;
    if (!control->Visible() || !control->PixelBox().contains(x, y)) continue;
    if (Control* child = ControlAt(control->children(), x, y)) return child;
    if (control->TakesPointer()) return control;
  }
  return nullptr;
}

// The control whose caption marks `key` (Alt+key), searched through containers.
Control* AccessKeyOwner(const std::vector<Control*>& controls, int key) {
  for (Control* control : controls) {
    if (!control->Shown()) continue;
    const char32_t mark = control->AccessKey();
    if (mark != 0 && mark < 128 && std::toupper(static_cast<int>(mark)) == key) return control;
    if (Control* inner = AccessKeyOwner(control->children(), key)) return inner;
  }
  return nullptr;
}

void DispatchKey(Form& form, const host::Event& event) {
  std::int16_t shift = static_cast<std::int16_t>(event.shift);
  Control* focus = form.ActiveControl();
  std::int16_t keyCode = static_cast<std::int16_t>(event.keyCode);
  const bool ctrlOrAlt = (event.shift & (host::kCtrlMask | host::kAltMask)) != 0;
  if (focus != nullptr && keyCode == vk::kTab && !ctrlOrAlt) {
    if (Control* next = form.NextTabStop((event.shift & host::kShiftMask) != 0)) next->SetFocus();
    return;
  }
  if ((event.shift & host::kAltMask) != 0) {
    if (Control* owner = AccessKeyOwner(form.controls(), event.keyCode)) {
      owner->AccessKeyPressed();
      return;
    }
  }
  if (focus != nullptr) {
    focus->KeyDown(keyCode, shift);
  } else if (form.OnKeyDown) {
    form.OnKeyDown(keyCode, shift);
  }
}

// `x` and `y` are form pixels.
void DispatchPointer(Form& form, host::EventType type, int x, int y, int button, int shift) {
  Control* target = form.captured ? form.captured : ControlAt(form.controls(), x, y);
  if (target == nullptr) {
    // Over the bare window, or a control that takes no pointer input (a picture).
    const auto& handler = type == host::EventType::MouseMove   ? form.OnMouseMove
                          : type == host::EventType::MouseDown ? form.OnMouseDown
                                                               : form.OnMouseUp;
    if (handler)
      handler(static_cast<std::int16_t>(button), static_cast<std::int16_t>(shift), PixelsToTwips(x),
              PixelsToTwips(y));
    return;
  }
  switch (type) {
    case host::EventType::MouseDown: {
      const std::int64_t now = NowMicros();
      const Form::Press& last = form.lastPress;
      const bool doubleClick = last.control == target &&
                               now - last.atMicros <= kDoubleClickMicros &&
                               std::abs(x - last.x) <= kDoubleClickDistance &&
                               std::abs(y - last.y) <= kDoubleClickDistance;
      // A third press starts over rather than making a second double click.
      form.lastPress = doubleClick ? Form::Press{} : Form::Press{target, now, x, y};
      if (target->CanFocus()) target->SetFocus();
      form.captured = target;
      target->MouseDown(button, shift, x, y);
      if (doubleClick) target->DoubleClick();
      break;
    }
    case host::EventType::MouseMove:
      target->MouseMove(button, shift, x, y);
      break;
    default:
      form.captured = nullptr;
      target->MouseUp(button, shift, x, y);
      break;
  }
}

// How long the window system may take to report the pointer it moved for a screen change.
constexpr std::int64_t kPointerSettleMicros = 200000;

// Monitors came or went: every full-screen window covers the new desktop, and its form hears of
// it. A desktop left without a monitor keeps the old layout until one comes back.
void FollowScreen() {
  RuntimeState& state = State();
  const Desktop desktop = CurrentDesktop();
  if (desktop.primary.empty()) return;
  bool covered = false;
  const std::size_t count = state.windows.size();  // a handler may show another form
  for (std::size_t i = 0; i < count; ++i) {
    OpenWindow& window = state.windows[i];
    Form& form = *window.form;
    if (!form.IsOpen() || form.GetWindowState() != WindowState::Maximized) continue;
    FormAccess::Cover(form, window, desktop);
    covered = true;
    if (form.OnResize) form.OnResize();
  }
  // The window system pulled the pointer onto the new screen, which is not the user moving it:
  // the cursor goes back where the program sent it, and the reports of both moves are let pass.
  if (!covered) return;
  state.pointerSettlesAt = NowMicros() + kPointerSettleMicros;
  if (state.cursorSentTo)
    state.pointerSettledAt = PlaceCursor(state.cursorSentTo->x, state.cursorSentTo->y);
}

// Whether a pointer report (form pixels) is the window system's own after a screen change.
bool MovedByScreenChange(int x, int y) {
  RuntimeState& state = State();
  if (NowMicros() < state.pointerSettlesAt) {
    state.pointerSettledAt = PixelPoint{x, y};
    return true;
  }
  if (state.pointerSettledAt == PixelPoint{x, y}) return true;
  state.pointerSettledAt.reset();
  return false;
}

void Dispatch(const host::Event& event) {
  if (event.type == host::EventType::ScreenChanged) {
    FollowScreen();
    return;
  }
  const OpenWindow* window = WindowOf(event.window);
  if (window == nullptr || !window->form->IsOpen()) return;
  Form& form = *window->form;
  switch (event.type) {
    case host::EventType::KeyDown:
      DispatchKey(form, event);
      break;
    case host::EventType::KeyPress:
      break;  // nothing takes typed characters: keys act by their codes
    case host::EventType::MouseMove:
      if (MovedByScreenChange(event.x - window->originX, event.y - window->originY)) break;
      [[fallthrough]];
    case host::EventType::MouseDown:
    case host::EventType::MouseUp:
      DispatchPointer(form, event.type, event.x - window->originX, event.y - window->originY,
                      event.button, event.shift);
      break;
    case host::EventType::CloseRequest:
      FormAccess::MarkClosed(form);
      break;
    case host::EventType::Exposed:
      form.InvalidatePixels(
          {event.x - window->originX, event.y - window->originY, event.width, event.height});
      break;
    case host::EventType::ScreenChanged:
      break;
  }
}

std::int64_t NextTimerDue() {
  std::int64_t due = INT64_MAX;
  for (const auto& form : State().forms) {
    if (!form->Loaded()) continue;
    for (const Timer* timer : form->timers())
      if (timer->Interval() > 0 && timer->OnTimer) due = std::min(due, TimerAccess::Due(*timer));
  }
  return due;
}

void FireDueTimers() {
  const std::int64_t now = NowMicros();
  auto& forms = State().forms;
  for (std::size_t f = 0; f < forms.size(); ++f) {
    if (!forms[f]->Loaded()) continue;
    const auto timers = forms[f]->timers();  // a handler may add forms or timers
    for (Timer* timer : timers) TimerAccess::FireIfDue(*timer, now);
  }
}

bool AnyFormOpen() {
  for (const OpenWindow& window : State().windows)
    if (window.form->IsOpen()) return true;
  return false;
}

}  // namespace

// ---- Timers ----------------------------------------------------------------------------------

std::int64_t TimerAccess::Due(const Timer& timer) {
  return timer.running_ ? INT64_MAX : timer.dueMicros_;
}

void TimerAccess::Start(Timer& timer, std::int64_t now) {
  timer.dueMicros_ = now + timer.interval_ * 1000LL;
}

void TimerAccess::FireIfDue(Timer& timer, std::int64_t now) {
  if (timer.running_ || timer.interval_ <= 0 || now < timer.dueMicros_) return;
  const std::int64_t interval = timer.interval_ * 1000LL;
  timer.dueMicros_ += interval;
  if (timer.dueMicros_ <= now) timer.dueMicros_ = now + interval;  // late: no burst of ticks
  if (!timer.OnTimer) return;
  timer.running_ = true;
  struct Done {
    Timer& t;
    ~Done() { t.running_ = false; }
  } done{timer};
  timer.OnTimer();
}

// ---- Dispatch and the loop -------------------------------------------------------------------

void PostEvent(const host::Event& event) {
  RuntimeState& state = State();
  // A window system may report the pointer it moves for a screen change before the change
  // itself; such a report still waits here, and belongs to the change.
  if (event.type == host::EventType::ScreenChanged)
    std::erase_if(state.queue,
                  [](const host::Event& e) { return e.type == host::EventType::MouseMove; });
  state.queue.push_back(event);
}

namespace {

// Dispatches the queue, fires due timers and paints; `look` first asks the window system for
// what it has now, which the loop skips straight after a wait that has just done so.
void DispatchPending(bool look) {
  RuntimeState& state = State();
  if (look) Host().Wait(0);
  // Only what is pending now: a flood that keeps coming can't hold the caller here for ever.
  for (std::size_t pending = state.queue.size(); pending > 0 && !state.queue.empty(); --pending) {
    const host::Event event = state.queue.front();
    state.queue.pop_front();
    Dispatch(event);
  }
  FireDueTimers();
  PaintDirtyForms();
}

}  // namespace

void DoEvents() {
  DispatchPending(true);
}

void RunUntil(const std::function<bool()>& done, double maxSeconds) {
  const std::int64_t deadline =
      maxSeconds < 0 ? INT64_MAX : NowMicros() + static_cast<std::int64_t>(maxSeconds * 1e6);
  bool waited = false;
  for (;;) {
    DispatchPending(!waited);
    waited = false;
    if (done()) return;
    const std::int64_t now = NowMicros();
    if (now >= deadline) return;
    if (!State().queue.empty()) continue;
    // Sleep until the next timer, the deadline or an event. A timer already due fires in the
    // next pass; a wait shorter than the clock can show would come back with nothing changed,
    // again and again, so any other wait is at least 1 ms.
    const std::int64_t wake = std::min(deadline, NextTimerDue());
    if (wake <= now) continue;
    Host().Wait(wake == INT64_MAX ? -1 : std::max(static_cast<double>(wake - now) / 1e6, 0.001));
    waited = true;
  }
}

void RunEventLoop() {
  RunUntil([] { return !AnyFormOpen(); });
}

}  // namespace rt
