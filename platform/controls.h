// The controls: the image, and the dialog controls drawn in the classic 3-D look (label, frame,
// text box, command button and picture box). Each overrides only its painting and the input it
// takes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/font.h"
#include "platform/forms.h"

namespace rt {

// The classic 3-D palette.
constexpr Pixel kButtonFace = Rgb(0xC0, 0xC0, 0xC0);
constexpr Pixel kButtonLight = Rgb(0xDF, 0xDF, 0xDF);
constexpr Pixel kButtonHighlight = Rgb(0xFF, 0xFF, 0xFF);
constexpr Pixel kButtonShadow = Rgb(0x80, 0x80, 0x80);
constexpr Pixel kDarkShadow = Rgb(0x00, 0x00, 0x00);
constexpr Pixel kWindowText = Rgb(0x00, 0x00, 0x00);
constexpr Pixel kSelection = Rgb(0x00, 0x00, 0x80);
constexpr Pixel kSelectedText = Rgb(0xFF, 0xFF, 0xFF);

enum class Alignment { Left, Center };

// A picture drawn at its natural size, or stretched to fill its box.
class Image : public Control {
 public:
  using Control::Control;
  void SetPicture(const Picture* picture);
  const Picture* GetPicture() const { return picture_; }
  bool Stretch() const { return stretch_; }
  void SetStretch(bool stretch);
  void Paint(Canvas& canvas, const PixelRect& box) const override;
  bool HidesAll(const PixelRect& rect) const override;

 private:
  const Picture* picture_ = nullptr;
  bool stretch_ = false;
};

// Static text, wrapped at blanks to the box's width.
class Label : public Control {
 public:
  using Control::Control;
  std::string Caption;
  const BitmapFont* Font = &kDialogFont;
  Alignment TextAlign = Alignment::Left;
  Pixel BackColor = kButtonFace;
  void Paint(Canvas& canvas, const PixelRect& box) const override;
};

// An etched box that groups the controls inside it.
class Frame : public Control {
 public:
  using Control::Control;
  std::string Caption;
  void Paint(Canvas& canvas, const PixelRect& box) const override;
};

// One line of text in a sunken box that the mouse can select in; keys never change it.
class TextBox : public Control {
 public:
  explicit TextBox(Form& form, Control* container = nullptr);
  const std::string& Text() const { return text_; }
  void SetText(std::string text);
  Pixel BackColor = Rgb(0xFF, 0xFF, 0xFF);
  // The selection, in bytes of Text(): [SelStart, SelStart + SelLength).
  int SelStart() const;
  int SelLength() const;

  void Paint(Canvas& canvas, const PixelRect& box) const override;
  bool TakesPointer() const override { return true; }
  bool CanFocus() const override { return true; }
  void MouseDown(int button, int shift, int x, int y) override;
  void MouseMove(int button, int shift, int x, int y) override;

 private:
  int IndexAt(int x) const;
  void Select(int anchor, int caret);

  std::string text_;
  int anchor_ = 0;  // where the selection started
  int caret_ = 0;   // where it ends, and where the caret stands
};

// A push button: clicked by a mouse release inside it, by Space or Enter while it has the focus,
// and by Alt with its access key.
class CommandButton : public Control {
 public:
  explicit CommandButton(Form& form, Control* container = nullptr);
  std::string Caption;
  std::function<void()> OnClick;

  void Paint(Canvas& canvas, const PixelRect& box) const override;
  bool TakesPointer() const override { return true; }
  bool CanFocus() const override { return true; }
  char32_t AccessKey() const override;
  void MouseDown(int button, int shift, int x, int y) override;
  void MouseMove(int button, int shift, int x, int y) override;
  void MouseUp(int button, int shift, int x, int y) override;
  void KeyDown(std::int16_t& keyCode, std::int16_t shift) override;
  void AccessKeyPressed() override;

 private:
  void Click();
  bool pressed_ = false;   // the mouse went down on it and is still over it
  bool tracking_ = false;  // the mouse went down on it and has not come up
};

// A sunken box showing a picture at its natural size from the top-left corner inside the border.
class PictureBox : public Control {
 public:
  explicit PictureBox(Form& form, Control* container = nullptr);
  Pixel BackColor = kButtonFace;
  const Picture* GetPicture() const { return picture_; }
  void SetPicture(const Picture* picture);
  std::function<void()> OnDblClick;

  void Paint(Canvas& canvas, const PixelRect& box) const override;
  bool TakesPointer() const override { return true; }
  bool CanFocus() const override { return true; }
  void DoubleClick() override;

 private:
  const Picture* picture_ = nullptr;
};

// Controls of one kind that share a name and are told apart by index (which may have gaps).
template <typename T>
class ControlArray {
 public:
  T& Add(int index, Form& form, Control* container = nullptr) {
    return *(items_[index] = std::make_unique<T>(form, container));
  }
  T& operator()(int index) const { return *items_.at(index); }

 private:
  std::map<int, std::unique_ptr<T>> items_;
};

}  // namespace rt
