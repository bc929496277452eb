// Painting and input of the controls.
#include "platform/controls.h"

#include <algorithm>

#include "platform/host.h"
#include "platform/keys.h"

namespace rt {
namespace {

PixelRect Inset(const PixelRect& r, int n) {
  return {r.x + n, r.y + n, r.width - 2 * n, r.height - 2 * n};
}

// A one-pixel ring: top and left edges in one colour, bottom and right in the other.
void Edge(Canvas& canvas, const PixelRect& r, Pixel topLeft, Pixel bottomRight) {
  if (r.empty()) return;
  canvas.Fill({r.x, r.y, r.width - 1, 1}, topLeft);
  canvas.Fill({r.x, r.y, 1, r.height - 1}, topLeft);
  canvas.Fill({r.x, r.bottom() - 1, r.width, 1}, bottomRight);
  canvas.Fill({r.right() - 1, r.y, 1, r.height}, bottomRight);
}

void SunkenBorder(Canvas& canvas, const PixelRect& box) {
  Edge(canvas, box, kButtonShadow, kButtonHighlight);
  Edge(canvas, Inset(box, 1), kDarkShadow, kButtonLight);
}

// A dotted rectangle, every other pixel, as focus is shown on a button.
void FocusRect(Canvas& canvas, const PixelRect& r) {
  for (int x = r.x; x < r.right(); ++x) {
    if ((x - r.x) % 2 == 0) {
      canvas.Put(x, r.y, kWindowText);
      canvas.Put(x, r.bottom() - 1, kWindowText);
    }
  }
  for (int y = r.y; y < r.bottom(); ++y) {
    if ((y - r.y) % 2 == 0) {
      canvas.Put(r.x, y, kWindowText);
      canvas.Put(r.right() - 1, y, kWindowText);
    }
  }
}

// Steps over one UTF-8 character, so the caret never stands inside one.
int NextBoundary(const std::string& text, int at) {
  if (at >= static_cast<int>(text.size())) return static_cast<int>(text.size());
  std::size_t pos = static_cast<std::size_t>(at);
  NextCodePoint(text, pos);
  return static_cast<int>(pos);
}

}  // namespace

// ---- Image -----------------------------------------------------------------------------------

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

// ---- Label -----------------------------------------------------------------------------------

void Label::Paint(Canvas& canvas, const PixelRect& box) const {
  canvas.Fill(box, BackColor);
  int top = box.y;
  for (const std::string& line : WrapText(*Font, Caption, box.width)) {
    const int x =
        TextAlign == Alignment::Center ? box.x + (box.width - TextWidth(*Font, line)) / 2 : box.x;
    DrawText(canvas, x, top, *Font, line, kWindowText);
    top += Font->lineHeight;
  }
}

// ---- Frame -----------------------------------------------------------------------------------

void Frame::Paint(Canvas& canvas, const PixelRect& box) const {
  canvas.Fill(box, form().BackColor);
  // The etched line runs through the middle of the caption's line, caption or not.
  const int lineTop = box.y + kDialogFont.lineHeight / 2;
  const PixelRect etched{box.x, lineTop, box.width, box.bottom() - lineTop};
  Edge(canvas, {etched.x + 1, etched.y + 1, etched.width - 1, etched.height - 1}, kButtonHighlight,
       kButtonHighlight);
  Edge(canvas, {etched.x, etched.y, etched.width - 1, etched.height - 1}, kButtonShadow,
       kButtonShadow);
  if (!Caption.empty()) {
    const int x = box.x + 8;
    canvas.Fill({x - 1, box.y, TextWidth(kDialogFont, Caption) + 2, kDialogFont.lineHeight},
                form().BackColor);
    DrawText(canvas, x, box.y, kDialogFont, Caption, kWindowText);
  }
}

// ---- TextBox ---------------------------------------------------------------------------------

TextBox::TextBox(Form& form, Control* container) : Control(form, container) {
  TabStop = true;
}

void TextBox::SetText(std::string text) {
  text_ = std::move(text);
  anchor_ = caret_ = 0;
  Invalidate();
}

int TextBox::SelStart() const {
  return std::min(anchor_, caret_);
}
int TextBox::SelLength() const {
  return std::abs(caret_ - anchor_);
}

void TextBox::Select(int anchor, int caret) {
  const int size = static_cast<int>(text_.size());
  anchor_ = std::clamp(anchor, 0, size);
  caret_ = std::clamp(caret, 0, size);
  Invalidate();
}

// The text starts inside the two-pixel border and a one-pixel margin.
constexpr int kTextInset = 3;

int TextBox::IndexAt(int x) const {
  const int left = PixelBox().x + kTextInset;
  int at = 0;
  while (at < static_cast<int>(text_.size())) {
    const int next = NextBoundary(text_, at);
    const int start = TextWidth(kDialogFont, std::string_view(text_).substr(0, at));
    const int end = TextWidth(kDialogFont, std::string_view(text_).substr(0, next));
    if (x - left < (start + end + 1) / 2) break;  // nearer this character's left edge
    at = next;
  }
  return at;
}

void TextBox::Paint(Canvas& canvas, const PixelRect& box) const {
  canvas.Fill(box, BackColor);
  SunkenBorder(canvas, box);
  Canvas inner = canvas;
  inner.clip = Intersect(canvas.clip, Inset(box, 2));
  const int left = box.x + kTextInset, top = box.y + kTextInset;
  DrawText(inner, left, top, kDialogFont, text_, kWindowText);
  const std::string_view all(text_);
  if (SelLength() > 0) {
    const int x = left + TextWidth(kDialogFont, all.substr(0, SelStart()));
    const std::string_view selected = all.substr(SelStart(), SelLength());
    inner.Fill({x, top, TextWidth(kDialogFont, selected), kDialogFont.lineHeight}, kSelection);
    DrawText(inner, x, top, kDialogFont, selected, kSelectedText);
  } else if (HasFocus()) {
    const int x = left + TextWidth(kDialogFont, all.substr(0, caret_));
    inner.Fill({x, top, 1, kDialogFont.lineHeight}, kWindowText);
  }
}

void TextBox::MouseDown(int button, int, int x, int) {
  if (button == host::kLeftButton) {
    const int at = IndexAt(x);
    Select(at, at);
  }
}

void TextBox::MouseMove(int button, int, int x, int) {
  if (button & host::kLeftButton) Select(anchor_, IndexAt(x));  // drag to select
}

// ---- CommandButton ---------------------------------------------------------------------------

CommandButton::CommandButton(Form& form, Control* container) : Control(form, container) {
  TabStop = true;
}

char32_t CommandButton::AccessKey() const {
  return StripAccessKey(Caption).key;
}

void CommandButton::Paint(Canvas& canvas, const PixelRect& box) const {
  canvas.Fill(box, kButtonFace);
  PixelRect face = box;
  if (HasFocus()) {
    Edge(canvas, face, kDarkShadow, kDarkShadow);  // the focused button's heavy outline
    face = Inset(face, 1);
  }
  if (pressed_) {
    Edge(canvas, face, kButtonShadow, kButtonShadow);
  } else {
    Edge(canvas, face, kButtonHighlight, kDarkShadow);
    Edge(canvas, Inset(face, 1), kButtonLight, kButtonShadow);
  }
  const AccessKeyCaption caption = StripAccessKey(Caption);
  const int shift = pressed_ ? 1 : 0;
  const int x = box.x + (box.width - TextWidth(kDialogFont, caption.text)) / 2 + shift;
  const int top = box.y + (box.height - kDialogFont.lineHeight) / 2 + shift;
  DrawText(canvas, x, top, kDialogFont, caption.text, kWindowText, caption.keyIndex);
  if (HasFocus()) FocusRect(canvas, Inset(box, 4));
}

void CommandButton::Click() {
  if (OnClick) OnClick();
}

void CommandButton::MouseDown(int button, int, int, int) {
  if (button != host::kLeftButton) return;
  tracking_ = pressed_ = true;
  Invalidate();
}

void CommandButton::MouseMove(int, int, int x, int y) {
  const bool inside = tracking_ && PixelBox().contains(x, y);
  if (inside != pressed_) {
    pressed_ = inside;
    Invalidate();
  }
}

void CommandButton::MouseUp(int button, int, int x, int y) {
  if (button != host::kLeftButton || !tracking_) return;
  tracking_ = pressed_ = false;
  Invalidate();
  if (PixelBox().contains(x, y)) Click();  // released outside: no click
}

void CommandButton::KeyDown(std::int16_t& keyCode, std::int16_t) {
  // Enter only while the button has the focus: it is no default button.
  if (keyCode == vk::kSpace || keyCode == vk::kReturn) Click();
}

void CommandButton::AccessKeyPressed() {
  SetFocus();
  Click();
}

// ---- PictureBox ------------------------------------------------------------------------------

PictureBox::PictureBox(Form& form, Control* container) : Control(form, container) {
  TabStop = true;
}

void PictureBox::SetPicture(const Picture* picture) {
  picture_ = picture;
  Invalidate();
}

void PictureBox::Paint(Canvas& canvas, const PixelRect& box) const {
  canvas.Fill(box, BackColor);
  SunkenBorder(canvas, box);
  if (picture_ == nullptr) return;
  Canvas inner = canvas;
  inner.clip = Intersect(canvas.clip, Inset(box, 2));
  DrawPicture(inner, *picture_, Inset(box, 2), false);
}

void PictureBox::DoubleClick() {
  if (OnDblClick) OnDblClick();
}

}  // namespace rt
