// Windows (forms), the controls on them and the timer. Positions are twips relative to the
// container; the runtime turns them into pixels, draws everything in software and hands the host
// only what changed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/geometry.h"
#include "platform/picture.h"

namespace rt {

class Form;

// What every control shares: its box in its container, visibility, z-order and invalidation.
// A kind of control overrides its painting and the input it takes.
class Control {
 public:
  // Joins `form` on top of the drawing order, inside `container` (the form itself when null).
  explicit Control(Form& form, Control* container = nullptr);
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  float Left() const { return left_; }
  float Top() const { return top_; }
  float Width() const { return width_; }
  float Height() const { return height_; }
  void SetLeft(float twips) { Move(twips, top_, width_, height_); }
  void SetTop(float twips) { Move(left_, twips, width_, height_); }
  void SetWidth(float twips) { Move(left_, top_, twips, height_); }
  void SetHeight(float twips) { Move(left_, top_, width_, twips); }
  void Move(float left, float top, float width, float height);

  bool Visible() const { return visible_; }
  void SetVisible(bool visible);

  Form& form() const { return form_; }
  Control* container() const { return container_; }
  const std::vector<Control*>& children() const { return children_; }

  // The control's box in window pixels, not clipped by its containers.
  PixelRect PixelBox() const;
  // Visible here and in every container.
  bool Shown() const;
  // Marks the whole box for repainting.
  void Invalidate() const;

  // Tab order: Tab and Shift+Tab visit the controls that are tab stops by TabIndex.
  int TabIndex = 0;
  bool TabStop = false;
  bool HasFocus() const;
  void SetFocus();

  // Painting of this kind of control, inside `box` (window pixels); children paint afterwards.
  virtual void Paint(Canvas& canvas, const PixelRect& box) const = 0;
  // Pointer events over a control that does not take them go to the window's handlers.
  virtual bool TakesPointer() const { return false; }
  virtual bool CanFocus() const { return false; }
  // True when painting this control covers every pixel of `rect` with opaque pixels, so that
  // nothing below it needs painting there.
  virtual bool HidesAll(const PixelRect& /*rect*/) const { return false; }
  // The character of "&x" in its caption, for Alt+x; 0 for none.
  virtual char32_t AccessKey() const { return 0; }

  // Input, routed by the runtime; positions are window pixels. A key handler may set the code
  // to 0 to cancel what the control would do with it.
  virtual void MouseDown(int /*button*/, int /*shift*/, int /*x*/, int /*y*/) {}
  virtual void MouseMove(int /*button*/, int /*shift*/, int /*x*/, int /*y*/) {}
  virtual void MouseUp(int /*button*/, int /*shift*/, int /*x*/, int /*y*/) {}
  virtual void DoubleClick() {}
  virtual void KeyDown(std::int16_t& /*keyCode*/, std::int16_t /*shift*/) {}
  virtual void AccessKeyPressed() {}

 private:
  float AbsoluteLeft() const;
  float AbsoluteTop() const;

  Form& form_;
  Control* container_;
  std::vector<Control*> children_;
  float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
};

// Raises OnTimer every Interval milliseconds while its form is loaded, also while a handler
// dispatches events; never twice at once, and a late tick is not made up for.
class Timer {
 public:
  explicit Timer(Form& form);
  int Interval() const { return interval_; }
  void SetInterval(int milliseconds);
  std::function<void()> OnTimer;

 private:
  friend struct TimerAccess;
  Form& form_;
  int interval_ = 0;
  bool running_ = false;
  std::int64_t dueMicros_ = 0;
};

enum class WindowState { Normal, Maximized };
enum class BorderStyle { Sizable, FixedDialog };
enum class ShowMode { Modeless, Modal };

// A window: its design-time layout settings, its controls and timers, and its event handlers.
class Form {
 public:
  Form();
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // Layout settings, read when the window is shown. A maximized form covers every monitor
  // without a frame, whatever these say; otherwise they decide the window's frame and buttons.
  std::string Caption;
  BorderStyle Border = BorderStyle::Sizable;
  bool ControlBox = true;
  bool MinButton = true;
  bool MaxButton = true;
  bool ShowInTaskbar = true;
  Pixel BackColor = Rgb(0xC0, 0xC0, 0xC0);
  const Picture* Icon = nullptr;
  float ClientWidth = 0;   // twips
  float ClientHeight = 0;  // twips

  // Outer box in twips (frame included). Before the window is shown its size comes from the
  // client size and the frame the window system will add.
  float Left() const { return left_; }
  float Top() const { return top_; }
  float Width() const;
  float Height() const;
  void SetLeft(float twips) { left_ = twips; }
  void SetTop(float twips) { top_ = twips; }

  WindowState GetWindowState() const { return state_; }
  void SetWindowState(WindowState state) { state_ = state; }

  // Loads the form (its load handler runs once) and shows its window. Modal returns when the
  // window has been closed; modeless at once.
  void Show(ShowMode mode = ShowMode::Modeless);
  bool Loaded() const { return loaded_; }
  bool IsOpen() const { return shown_ && !closed_; }

  // Event handlers. X and Y are twips relative to the client area.
  std::function<void()> OnLoad;
  // A maximized form's screen changed size (a monitor came or went, a resolution changed).
  std::function<void()> OnResize;
  std::function<void(std::int16_t& keyCode, std::int16_t& shift)> OnKeyDown;
  std::function<void(std::int16_t button, std::int16_t shift, float x, float y)> OnMouseDown;
  std::function<void(std::int16_t button, std::int16_t shift, float x, float y)> OnMouseMove;
  std::function<void(std::int16_t button, std::int16_t shift, float x, float y)> OnMouseUp;

  // For the runtime. Pixels of a maximized form count from the primary monitor's top-left
  // corner; `Area` is every pixel its window covers, in those coordinates.
  PixelRect Area() const { return area_; }
  const std::vector<Control*>& controls() const { return controls_; }
  const std::vector<Timer*>& timers() const { return timers_; }
  void InvalidatePixels(const PixelRect& rect);
  std::vector<PixelRect> TakeDirty();
  Control* ActiveControl() const { return focus_; }
  void SetActiveControl(Control* control);
  // The next (or previous) tab stop after the focused control, wrapping around; null for none.
  Control* NextTabStop(bool backwards) const;
  // Pointer events go to this control from a button press until its release.
  Control* captured = nullptr;
  // The last button press, to tell a double click.
  struct Press {
    Control* control = nullptr;
    std::int64_t atMicros = 0;
    int x = 0, y = 0;
  } lastPress;

 private:
  friend class Control;
  friend class Timer;
  friend struct FormAccess;

  std::vector<Control*> controls_;  // top-level controls, bottom of the drawing order first
  std::vector<Timer*> timers_;
  std::vector<PixelRect> dirty_;
  float left_ = 0, top_ = 0;
  WindowState state_ = WindowState::Normal;
  PixelRect area_;
  Control* focus_ = nullptr;
  bool loaded_ = false;
  bool shown_ = false;
  bool closed_ = false;
};

// Creates a form that lives until the program ends.
Form& AdoptForm(std::unique_ptr<Form> form);
template <typename T>
T& NewForm() {
  return static_cast<T&>(AdoptForm(std::make_unique<T>()));
}
// The first form of type T that the program created, or null.
template <typename T>
T* FindForm();

// Every form the program created, oldest first.
const std::vector<std::unique_ptr<Form>>& AllForms();

template <typename T>
T* FindForm() {
  for (const auto& form : AllForms())
    if (auto* found = dynamic_cast<T*>(form.get())) return found;
  return nullptr;
}

// Forgets every form and every pending event: a fresh start for the headless host's next run.
void ResetRuntime();

}  // namespace rt
