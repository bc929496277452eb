// Forms and the control base: layout in twips, visibility, focus, invalidation, the timer's
// settings, and showing a form's window.
#include <algorithm>
#include <climits>

#include "platform/runtime.h"
#include "platform/runtime_internal.h"

namespace rt {
namespace {

void CollectTabStops(const std::vector<Control*>& controls, std::vector<Control*>& out) {
  for (Control* control : controls) {
    if (!control->Shown()) continue;
    if (control->TabStop && control->CanFocus()) out.push_back(control);
    CollectTabStops(control->children(), out);
  }
}

}  // namespace

// ---- Control ---------------------------------------------------------------------------------

Control::Control(Form& form, Control* container) : form_(form), container_(container) {
  (container ? container->children_ : form.controls_).push_back(this);
}

void Control::Move(float left, float top, float width, float height) {
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  Invalidate();
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  Invalidate();
}

void Control::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  form_.InvalidatePixels(PixelBox());
}

PixelRect Control::PixelBox() const {
  const float absLeft = AbsoluteLeft(), absTop = AbsoluteTop();
  // Both edges are rounded, so adjoining boxes in twips stay adjoining in pixels.
  const int x = TwipsToPixels(absLeft), y = TwipsToPixels(absTop);
  return {x, y, TwipsToPixels(absLeft + width_) - x, TwipsToPixels(absTop + height_) - y};
}

float Control::AbsoluteLeft() const {
  return left_ + (container_ ? container_->AbsoluteLeft() : 0.0f);
}
float Control::AbsoluteTop() const {
  return top_ + (container_ ? container_->AbsoluteTop() : 0.0f);
}

bool Control::Shown() const {
  for (const Control* c = this; c != nullptr; c = c->container_)
    if (!c->visible_) return false;
  return true;
}

void Control::Invalidate() const {
  if (Shown()) form_.InvalidatePixels(PixelBox());
}

bool Control::HasFocus() const {
  return form_.ActiveControl() == this;
}

void Control::SetFocus() {
  if (CanFocus() && Shown()) form_.SetActiveControl(this);
}

// ---- Timer -----------------------------------------------------------------------------------

Timer::Timer(Form& form) : form_(form) {
  form.timers_.push_back(this);
}

void Timer::SetInterval(int milliseconds) {
  interval_ = std::max(0, milliseconds);
  if (form_.Loaded()) TimerAccess::Start(*this, NowMicros());
}

// ---- Form ------------------------------------------------------------------------------------

Form::Form() = default;
Form::~Form() = default;

host::WindowSettings FormAccess::Settings(const Form& form) {
  host::WindowSettings settings;
  const bool fullScreen = form.state_ == WindowState::Maximized;
  settings.kind = fullScreen ? host::WindowKind::FullScreen : host::WindowKind::Dialog;
  settings.caption = form.Caption;
  settings.sizable = form.Border == BorderStyle::Sizable;
  settings.controlBox = form.ControlBox;
  settings.minButton = form.ControlBox && form.MinButton;  // the buttons sit beside the close box
  settings.maxButton = form.ControlBox && form.MaxButton;
  settings.inTaskbar = form.ShowInTaskbar;
  settings.icon = form.Icon;
  settings.background = form.BackColor;
  if (fullScreen) {
    const PixelRect desktop = CurrentDesktop().bounds;
    settings.client = {desktop.width, desktop.height};
    settings.outer = desktop;
    return settings;
  }
  settings.client = {TwipsToPixels(form.ClientWidth), TwipsToPixels(form.ClientHeight)};
  const host::FrameExtents frame = Host().FrameFor(settings);
  const PixelRect primary = CurrentDesktop().primary;
  settings.outer = {primary.x + TwipsToPixels(form.left_), primary.y + TwipsToPixels(form.top_),
                    settings.client.width + frame.left + frame.right,
                    settings.client.height + frame.top + frame.bottom};
  return settings;
}

void FormAccess::Cover(Form& form, OpenWindow& window, const Desktop& desktop) {
  window.originX = desktop.primary.x - desktop.bounds.x;
  window.originY = desktop.primary.y - desktop.bounds.y;
  form.area_ = {-window.originX, -window.originY, desktop.bounds.width, desktop.bounds.height};
  form.dirty_.clear();
  form.InvalidatePixels(form.area_);
}

float Form::Width() const {
  if (state_ == WindowState::Maximized) return ScreenWidthTwips();
  return PixelsToTwips(FormAccess::Settings(*this).outer.width);
}

float Form::Height() const {
  if (state_ == WindowState::Maximized) return ScreenHeightTwips();
  return PixelsToTwips(FormAccess::Settings(*this).outer.height);
}

void Form::Show(ShowMode mode) {
  if (!loaded_) {
    loaded_ = true;
    const std::int64_t now = NowMicros();
    for (Timer* timer : timers_) TimerAccess::Start(*timer, now);
    if (OnLoad) OnLoad();  // before the first drawing, as layouts expect
    if (focus_ == nullptr) SetActiveControl(NextTabStop(false));  // the first tab stop
  }
  if (!shown_) {
    const host::WindowSettings settings = FormAccess::Settings(*this);
    // A full-screen window with no monitor to cover could never be seen, nor ended by the user.
    if (settings.kind == host::WindowKind::FullScreen &&
        (settings.client.width <= 0 || settings.client.height <= 0))
      Fail("no monitor to show on");
    const host::NativeWindow native = Host().CreateWindow(settings);
    if (native == 0) Fail("cannot create a window");
    shown_ = true;
    State().windows.push_back({this, native, 0, 0});
    if (settings.kind == host::WindowKind::FullScreen) {
      FormAccess::Cover(*this, State().windows.back(), CurrentDesktop());
    } else {
      area_ = {0, 0, settings.client.width, settings.client.height};
      InvalidatePixels(area_);
    }
  }
  if (mode == ShowMode::Modal) RunUntil([this] { return !IsOpen(); });
}

void Form::SetActiveControl(Control* control) {
  if (control == focus_) return;
  if (focus_ != nullptr) focus_->Invalidate();
  focus_ = control;
  if (focus_ != nullptr) focus_->Invalidate();
}

Control* Form::NextTabStop(bool backwards) const {
  std::vector<Control*> stops;
  CollectTabStops(controls_, stops);
  if (stops.empty()) return nullptr;
  std::stable_sort(stops.begin(), stops.end(),
                   [](const Control* a, const Control* b) { return a->TabIndex < b->TabIndex; });
  // From a control that is no tab stop (a text box clicked into), go by its tab index.
  const int from = focus_ ? focus_->TabIndex : (backwards ? INT_MAX : INT_MIN);
  if (!backwards) {
    for (Control* stop : stops)
      if (stop->TabIndex > from) return stop;
    return stops.front();
  }
  for (auto it = stops.rbegin(); it != stops.rend(); ++it)
    if ((*it)->TabIndex < from) return *it;
  return stops.back();
}

void Form::InvalidatePixels(const PixelRect& rect) {
  if (!shown_) return;  // the first paint covers everything anyway
  PixelRect r = Intersect(rect, area_);
  if (r.empty()) return;
  // Overlapping rectangles become one, so a moving control repaints its swept box once.
  for (bool merged = true; merged;) {
    merged = false;
    for (auto it = dirty_.begin(); it != dirty_.end(); ++it) {
      if (!Intersect(*it, r).empty()) {
        r = Union(*it, r);
        dirty_.erase(it);
        merged = true;
        break;
      }
    }
  }
  AddToBoundedList(dirty_, r);
}

std::vector<PixelRect> Form::TakeDirty() {
  std::vector<PixelRect> taken;
  taken.swap(dirty_);
  return taken;
}

// ---- The program's forms ---------------------------------------------------------------------

Form& AdoptForm(std::unique_ptr<Form> form) {
  State().forms.push_back(std::move(form));
  return *State().forms.back();
}

const std::vector<std::unique_ptr<Form>>& AllForms() {
  return State().forms;
}

void ResetRuntime() {
  RuntimeState& state = State();
  state.windows.clear();
  state.forms.clear();
  state.queue.clear();
  state.instance.reset();
  state.cursorSentTo.reset();
  state.pointerSettlesAt = 0;
  state.pointerSettledAt.reset();
}

}  // namespace rt
