// The portable runtime: forms, controls and timers, event dispatch and software composition.
// Hosts only move pixels and events; everything that can be shared lives here.
#include "platform/runtime.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>

#include "platform/forms.h"
#include "platform/host.h"

namespace rt {

// Lets the dispatcher read and advance a timer's schedule without making it public.
struct TimerAccess {
  static std::int64_t Due(const Timer& timer) {
    return timer.running_ ? INT64_MAX : timer.dueMicros_;
  }
  static void Start(Timer& timer, std::int64_t now) {
    timer.dueMicros_ = now + timer.interval_ * 1000LL;
  }
  static void FireIfDue(Timer& timer, std::int64_t now) {
    if (timer.running_ || !timer.enabled_ || timer.interval_ <= 0 || now < timer.dueMicros_) return;
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
};

namespace {

// Composition works on pieces of at most this many pixels (128 KB), so memory does not grow with
// the screen: a 4K screen costs what an 800 x 600 one does. A piece is as wide as it can be, so
// a small change (the disk's box) goes to the host in one piece.
constexpr int kPiecePixels = 32768;
// More dirty rectangles than this on one window are merged into their bounding box.
constexpr std::size_t kMaxDirtyRects = 8;

// The runtime's one state: the forms the program made and the events waiting to be handled.
struct RuntimeState {
  std::vector<std::unique_ptr<Form>> forms;
  std::deque<host::Event> queue;
  std::vector<Pixel> piece;  // the composition buffer, kPiecePixels
};

RuntimeState& State() {
  static RuntimeState state;
  return state;
}

std::int64_t NowMicros() {
  return std::llround(host::MonotonicSeconds() * 1e6);
}

Form* FormOf(host::WindowId window) {
  for (const auto& form : State().forms)
    if (form->window() == window && window != 0) return form.get();
  return nullptr;
}

void PaintControl(const Control& control, Canvas& canvas) {
  if (!control.Visible()) return;
  const PixelRect box = control.PixelBox();
  const PixelRect clip = Intersect(canvas.clip, box);
  if (clip.empty()) return;
  Canvas inner = canvas;
  inner.clip = clip;  // a container clips its children
  control.Paint(inner, box);
  for (const Control* child : control.children()) PaintControl(*child, inner);
}

// The pixels that controls may cover; everything else on the window is its flat back colour.
PixelRect ContentBounds(const Form& form) {
  PixelRect bounds;
  for (const Control* control : form.controls())
    if (control->Visible()) bounds = Union(bounds, control->PixelBox());
  return bounds;
}

void PaintRect(Form& form, const PixelRect& rect) {
  const PixelRect inner = Intersect(rect, ContentBounds(form));
  // The flat band around the content is filled by the host, without composing pixels.
  if (inner.empty()) {
    host::Fill(form.window(), rect, form.BackColor);
    return;
  }
  const PixelRect bands[] = {
      {rect.x, rect.y, rect.width, inner.y - rect.y},
      {rect.x, inner.bottom(), rect.width, rect.bottom() - inner.bottom()},
      {rect.x, inner.y, inner.x - rect.x, inner.height},
      {inner.right(), inner.y, rect.right() - inner.right(), inner.height},
  };
  for (const PixelRect& band : bands)
    if (!band.empty()) host::Fill(form.window(), band, form.BackColor);

  auto& buffer = State().piece;
  buffer.resize(kPiecePixels);
  const int pieceWidth = std::min(inner.width, kPiecePixels);
  const int pieceHeight = kPiecePixels / pieceWidth;
  for (int y = inner.y; y < inner.bottom(); y += pieceHeight) {
    for (int x = inner.x; x < inner.right(); x += pieceWidth) {
      const PixelRect piece = Intersect(inner, {x, y, pieceWidth, pieceHeight});
      Canvas canvas{buffer.data(), piece.width, piece, piece};
      // Only the controls from the topmost one that hides the whole piece are painted; a tick
      // thus paints the artwork under the disk and the disk, not the window's colour first.
      const auto& controls = form.controls();
      std::size_t first = controls.size();
      while (first > 0 && !controls[first - 1]->HidesAll(piece)) --first;
      if (first == 0)
        canvas.Fill(piece, form.BackColor);
      else
        --first;
      for (std::size_t i = first; i < controls.size(); ++i) PaintControl(*controls[i], canvas);
      host::Present(form.window(), piece, buffer.data(), piece.width);
    }
  }
}

void PaintDirtyForms() {
  bool painted = false;
  for (const auto& form : State().forms) {
    if (!form->IsOpen()) continue;
    for (const PixelRect& rect : form->TakeDirty()) {
      PaintRect(*form, rect);
      painted = true;
    }
  }
  if (painted) host::Flush();
}

Control* ControlAt(const std::vector<Control*>& controls, int x, int y) {
  for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
    Control* control = *it;
    if (!control->Visible() || !control->Enabled() || !control->PixelBox().contains(x, y)) continue;
    if (Control* child = ControlAt(control->children(), x, y)) return child;
    if (control->TakesPointer()) return control;
  }
  return nullptr;
}

// Windows' defaults for telling a double click from two clicks.
constexpr std::int64_t kDoubleClickMicros = 500000;
constexpr int kDoubleClickDistance = 4;
constexpr int kVkTab = 9;

bool Usable(const Control& control) {
  return control.Shown() && control.Enabled();
}

// The control whose caption marks `key` (Alt+key), searched through containers.
Control* AccessKeyOwner(const std::vector<Control*>& controls, int key) {
  for (Control* control : controls) {
    if (!Usable(*control)) continue;
    const char32_t mark = control->AccessKey();
    if (mark != 0 && mark < 128 && std::toupper(static_cast<int>(mark)) == key) return control;
    if (Control* inner = AccessKeyOwner(control->children(), key)) return inner;
  }
  return nullptr;
}

void DispatchKey(Form& form, const host::Event& event) {
  std::int16_t shift = static_cast<std::int16_t>(event.shift);
  Control* focus = form.ActiveControl();
  if (event.type == host::EventType::KeyPress) {
    std::int16_t keyAscii = static_cast<std::int16_t>(event.keyChar);
    if (focus != nullptr) focus->KeyPress(keyAscii);
    return;
  }
  std::int16_t keyCode = static_cast<std::int16_t>(event.keyCode);
  const bool ctrlOrAlt = (event.shift & (host::kCtrlMask | host::kAltMask)) != 0;
  if (focus != nullptr && keyCode == kVkTab && !ctrlOrAlt) {
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

void DispatchPointer(Form& form, const host::Event& event) {
  Control* target = form.captured ? form.captured : ControlAt(form.controls(), event.x, event.y);
  if (target == nullptr) {
    // Over the bare window, or a control that takes no pointer input (a picture).
    const auto& handler = event.type == host::EventType::MouseMove   ? form.OnMouseMove
                          : event.type == host::EventType::MouseDown ? form.OnMouseDown
                                                                     : form.OnMouseUp;
    if (handler)
      handler(static_cast<std::int16_t>(event.button), static_cast<std::int16_t>(event.shift),
              PixelsToTwips(event.x), PixelsToTwips(event.y));
    return;
  }
  switch (event.type) {
    case host::EventType::MouseDown: {
      const std::int64_t now = NowMicros();
      const Form::Press& last = form.lastPress;
      const bool doubleClick = last.control == target &&
                               now - last.atMicros <= kDoubleClickMicros &&
                               std::abs(event.x - last.x) <= kDoubleClickDistance &&
                               std::abs(event.y - last.y) <= kDoubleClickDistance;
      // A third press starts over rather than making a second double click.
      form.lastPress = doubleClick ? Form::Press{} : Form::Press{target, now, event.x, event.y};
      if (target->CanFocus()) target->SetFocus();
      form.captured = target;
      target->MouseDown(event.button, event.shift, event.x, event.y);
      if (doubleClick) target->DoubleClick();
      break;
    }
    case host::EventType::MouseMove:
      target->MouseMove(event.button, event.shift, event.x, event.y);
      break;
    default:
      form.captured = nullptr;
      target->MouseUp(event.button, event.shift, event.x, event.y);
      break;
  }
}

void Dispatch(const host::Event& event) {
  Form* form = FormOf(event.window);
  if (form == nullptr || !form->IsOpen()) return;
  switch (event.type) {
    case host::EventType::KeyDown:
    case host::EventType::KeyPress:
      DispatchKey(*form, event);
      break;
    case host::EventType::MouseMove:
    case host::EventType::MouseDown:
    case host::EventType::MouseUp:
      DispatchPointer(*form, event);
      break;
    case host::EventType::CloseRequest:
      form->MarkClosed();
      break;
    case host::EventType::Exposed:
      form->InvalidatePixels({event.x, event.y, event.width, event.height});
      break;
  }
}

std::int64_t NextTimerDue() {
  std::int64_t due = INT64_MAX;
  for (const auto& form : State().forms) {
    if (!form->Loaded()) continue;
    for (const Timer* timer : form->timers())
      if (timer->Enabled() && timer->Interval() > 0 && timer->OnTimer)
        due = std::min(due, TimerAccess::Due(*timer));
  }
  return due;
}

}  // namespace

namespace {

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
  for (const auto& form : State().forms)
    if (form->IsOpen()) return true;
  return false;
}

}  // namespace

// ---- Process and environment -------------------------------------------------------------

std::string CommandLineText() {
  return host::CommandLineText();
}
bool AnotherInstanceRunning() {
  return host::AnotherInstanceRunning();
}
void EndProgram() {
  host::EndProcess();
}
float ScreenWidthTwips() {
  return PixelsToTwips(host::ScreenSize().width);
}
float ScreenHeightTwips() {
  return PixelsToTwips(host::ScreenSize().height);
}
float ClockSeconds() {
  return static_cast<float>(host::ClockSeconds());
}
void SetCursorPos(std::int32_t x, std::int32_t y) {
  host::SetCursorPos(x, y);
}

void DoEvents() {
  RuntimeState& state = State();
  host::Event event;
  while (host::WaitEvent(0, event)) state.queue.push_back(event);
  // Only what is pending now: a flood that keeps coming can't hold the caller here for ever.
  for (std::size_t pending = state.queue.size(); pending > 0 && !state.queue.empty(); --pending) {
    event = state.queue.front();
    state.queue.pop_front();
    Dispatch(event);
  }
  FireDueTimers();
  PaintDirtyForms();
}

void WaitForEvents(double maxSeconds) {
  RuntimeState& state = State();
  if (!state.queue.empty()) return;
  // A wait shorter than the clock can show would come back with nothing changed, again and again.
  double timeout = maxSeconds > 0 ? std::max(maxSeconds, 0.001) : maxSeconds;
  const std::int64_t due = NextTimerDue();
  if (due != INT64_MAX) {
    const double untilTimer =
        static_cast<double>(std::max<std::int64_t>(0, due - NowMicros())) / 1e6;
    timeout = timeout < 0 ? untilTimer : std::min(timeout, untilTimer);
  }
  host::Event event;
  if (host::WaitEvent(timeout, event)) state.queue.push_back(event);
}

Picture LoadBuiltInPicture(std::span<const std::uint8_t> bmp) {
  Picture picture;
  std::string error;
  if (!ViewBmp(bmp, picture, error)) {  // built in: the bytes live as long as the program
    std::fprintf(stderr, "quietglass: built-in picture is damaged: %s\n", error.c_str());
    host::EndProcess();
  }
  return picture;
}

Picture LoadBuiltInIcon(std::span<const std::uint8_t> ico, int bitsPerPixel) {
  Picture picture;
  std::string error;
  if (!DecodeIco(ico, bitsPerPixel, picture, error)) {
    std::fprintf(stderr, "quietglass: built-in icon is damaged: %s\n", error.c_str());
    host::EndProcess();
  }
  return picture;
}

bool StartHost(int argc, char** argv, std::string& error) {
  return host::Start(argc, argv, error);
}

void RunEventLoop() {
  while (AnyFormOpen()) {
    DoEvents();
    if (!AnyFormOpen()) break;
    WaitForEvents(-1);
  }
}

// ---- Canvas ----------------------------------------------------------------------------------

void Canvas::Fill(const PixelRect& rect, Pixel colour) {
  const PixelRect r = Intersect(rect, clip);
  for (int y = r.y; y < r.bottom(); ++y) {
    Pixel* row = pixels + (y - area.y) * stride + (r.x - area.x);
    std::fill(row, row + r.width, colour);
  }
}

// ---- Controls --------------------------------------------------------------------------------

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
  if (CanFocus() && Usable(*this)) form_.SetActiveControl(this);
}

void Image::SetPicture(const Picture* picture) {
  picture_ = picture;
  Invalidate();
}

void Image::SetStretch(bool stretch) {
  stretch_ = stretch;
  Invalidate();
}

bool Image::HidesAll(const PixelRect& rect) const {
  if (!Visible() || picture_ == nullptr || !picture_->opaque || !children().empty()) return false;
  const PixelRect box = PixelBox();
  const PixelRect drawn =
      stretch_ ? box : Intersect(box, {box.x, box.y, picture_->width, picture_->height});
  return Intersect(drawn, rect) == rect;
}

void Image::Paint(Canvas& canvas, const PixelRect& box) const {
  if (picture_ != nullptr) DrawPicture(canvas, *picture_, box, stretch_);
}

namespace {

// The source column of each drawn column when `width` columns stretch over `boxWidth`: a
// running remainder instead of a division per pixel, giving (x * width / boxWidth).
struct ColumnStep {
  ColumnStep(int width, int boxWidth, int firstX)
      : width(width),
        boxWidth(boxWidth),
        column(static_cast<int>(static_cast<long long>(firstX) * width / boxWidth)),
        rest(static_cast<long long>(firstX) * width % boxWidth) {}
  void next() {
    rest += width;
    while (rest >= boxWidth) {
      rest -= boxWidth;
      ++column;
    }
  }
  int width, boxWidth, column;
  long long rest;
};

// One row of a picture read in place: always opaque, each index looked up in the palette.
void DrawIndexedRow(const Picture& picture, int sy, const PixelRect& box, const PixelRect& r,
                    bool stretch, Pixel* dst) {
  const std::uint8_t* src = picture.indexRow(sy);
  const Pixel* palette = picture.palette.data();
  if (!stretch || box.width == picture.width) {
    const std::uint8_t* from = src + (r.x - box.x);
    for (int i = 0; i < r.width; ++i) dst[i] = palette[from[i]];
    return;
  }
  ColumnStep step(picture.width, box.width, r.x - box.x);
  for (int i = 0; i < r.width; ++i, step.next()) dst[i] = palette[src[step.column]];
}

}  // namespace

void DrawPicture(Canvas& canvas, const Picture& picture, const PixelRect& box, bool stretch) {
  if (picture.empty() || box.empty()) return;
  // At natural size the picture sits in the box's top-left corner; stretched, it fills the box
  // (nearest pixel, so the disk squeezes without blurring its dithers).
  const int drawWidth = stretch ? box.width : picture.width;
  const int drawHeight = stretch ? box.height : picture.height;
  const PixelRect r = Intersect(Intersect(canvas.clip, box), {box.x, box.y, drawWidth, drawHeight});
  for (int y = r.y; y < r.bottom(); ++y) {
    const int sy =
        stretch ? static_cast<int>(static_cast<long long>(y - box.y) * picture.height / box.height)
                : y - box.y;
    Pixel* dst = canvas.pixels + (y - canvas.area.y) * canvas.stride + (r.x - canvas.area.x);
    if (picture.indexed()) {
      DrawIndexedRow(picture, sy, box, r, stretch, dst);
      continue;
    }
    const Pixel* src = picture.pixels.data() + static_cast<std::size_t>(sy) * picture.width;
    if (!stretch || box.width == picture.width) {  // columns one to one (the disk keeps its width)
      const Pixel* from = src + (r.x - box.x);
      if (picture.opaque) {
        std::copy(from, from + r.width, dst);
      } else {
        // A select rather than a branch, so the row copies in vector registers.
        for (int i = 0; i < r.width; ++i) dst[i] = (from[i] >> 24) ? from[i] : dst[i];
      }
      continue;
    }
    ColumnStep step(picture.width, box.width, r.x - box.x);
    for (int i = 0; i < r.width; ++i, step.next()) {
      const Pixel p = src[step.column];
      if (p >> 24) dst[i] = p;  // transparent icon pixels show what lies below
    }
  }
}

// ---- Timer -----------------------------------------------------------------------------------

Timer::Timer(Form& form) : form_(form) {
  form.timers_.push_back(this);
}

void Timer::SetInterval(int milliseconds) {
  interval_ = std::max(0, milliseconds);
  if (form_.Loaded()) TimerAccess::Start(*this, NowMicros());
}

void Timer::SetEnabled(bool enabled) {
  if (enabled && !enabled_ && form_.Loaded()) TimerAccess::Start(*this, NowMicros());
  enabled_ = enabled;
}

// ---- Form ------------------------------------------------------------------------------------

Form::Form() = default;
Form::~Form() = default;

host::WindowSpec Form::WindowSettings() const {
  host::WindowSpec settings;
  settings.kind =
      state_ == WindowState::Maximized ? host::WindowKind::FullScreen : host::WindowKind::Dialog;
  settings.caption = Caption;
  settings.icon = Icon;
  settings.background = BackColor;
  settings.client = {TwipsToPixels(ClientWidth), TwipsToPixels(ClientHeight)};
  settings.outer = {TwipsToPixels(left_), TwipsToPixels(top_), 0, 0};
  const host::FrameExtents frame = host::FrameFor(settings);
  settings.outer.width = settings.client.width + frame.left + frame.right;
  settings.outer.height = settings.client.height + frame.top + frame.bottom;
  return settings;
}

float Form::Width() const {
  if (state_ == WindowState::Maximized) return ScreenWidthTwips();
  return PixelsToTwips(WindowSettings().outer.width);
}

float Form::Height() const {
  if (state_ == WindowState::Maximized) return ScreenHeightTwips();
  return PixelsToTwips(WindowSettings().outer.height);
}

void Form::Show(ShowMode mode) {
  if (!loaded_) {
    loaded_ = true;
    const std::int64_t now = NowMicros();
    for (Timer* timer : timers_) TimerAccess::Start(*timer, now);
    if (OnLoad) OnLoad();  // before the first drawing, as layouts expect
    if (focus_ == nullptr) SetActiveControl(NextTabStop(false));  // the first tab stop
  }
  if (window_ == 0) {
    const host::WindowSpec settings = WindowSettings();
    client_ = settings.kind == host::WindowKind::FullScreen ? host::ScreenSize() : settings.client;
    window_ = host::CreateWindow(settings);
    InvalidatePixels({0, 0, client_.width, client_.height});
  }
  if (mode == ShowMode::Modal) {
    while (IsOpen()) {
      DoEvents();
      if (!IsOpen()) break;
      WaitForEvents(-1);
    }
  }
}

void Form::SetActiveControl(Control* control) {
  if (control == focus_) return;
  if (focus_ != nullptr) focus_->Invalidate();
  focus_ = control;
  if (focus_ != nullptr) focus_->Invalidate();
}

namespace {

void CollectTabStops(const std::vector<Control*>& controls, std::vector<Control*>& out) {
  for (Control* control : controls) {
    if (!Usable(*control)) continue;
    if (control->TabStop && control->CanFocus()) out.push_back(control);
    CollectTabStops(control->children(), out);
  }
}

}  // namespace

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
  if (window_ == 0) return;  // the first paint covers everything anyway
  PixelRect r = Intersect(rect, {0, 0, client_.width, client_.height});
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
  dirty_.push_back(r);
  if (dirty_.size() > kMaxDirtyRects) {
    PixelRect all;
    for (const PixelRect& d : dirty_) all = Union(all, d);
    dirty_.assign(1, all);
  }
}

std::vector<PixelRect> Form::TakeDirty() {
  std::vector<PixelRect> taken;
  taken.swap(dirty_);
  return taken;
}

// ---- Form registry ---------------------------------------------------------------------------

Form& AdoptForm(std::unique_ptr<Form> form) {
  State().forms.push_back(std::move(form));
  return *State().forms.back();
}

const std::vector<std::unique_ptr<Form>>& AllForms() {
  return State().forms;
}

void ResetRuntime() {
  RuntimeState& state = State();
  state.forms.clear();
  state.queue.clear();
}

}  // namespace rt
