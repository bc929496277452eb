// Composition: what changed on a form is painted into pieces of a small buffer and handed to the
// host; the flat band around the controls is filled by the host without being composed.
#include <algorithm>

#include "platform/runtime_internal.h"

namespace rt {
namespace {

// Composition works on pieces of at most this many pixels (128 KB), so memory does not grow with
// the screen: a 4K screen costs what an 800 x 600 one does. A piece is as wide as it can be, so
// a small change (the disk's box) goes to the host in one piece.
constexpr int kPiecePixels = 32768;

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

// The host's calls take window pixels; the form's are shifted by the window's origin.
PixelRect ToWindow(const OpenWindow& window, const PixelRect& r) {
  return {r.x + window.originX, r.y + window.originY, r.width, r.height};
}

void PaintPiece(const Form& form, const OpenWindow& window, const PixelRect& piece) {
  auto& buffer = State().piece;
  Canvas canvas{buffer.data(), piece.width, piece, piece};
  // Only the controls from the topmost one that hides the whole piece are painted; a tick thus
  // paints the artwork under the disk and the disk, not the window's colour first.
  const auto& controls = form.controls();
  std::size_t first = controls.size();
  while (first > 0 && !controls[first - 1]->HidesAll(piece)) --first;
  if (first == 0)
    canvas.Fill(piece, form.BackColor);
  else
    --first;
  for (std::size_t i = first; i < controls.size(); ++i) PaintControl(*controls[i], canvas);
  Host().Present(window.native, ToWindow(window, piece), buffer.data(), piece.width);
}

void PaintRect(const Form& form, const OpenWindow& window, const PixelRect& rect) {
  const PixelRect inner = Intersect(rect, ContentBounds(form));
  const PixelRect bands[] = {
      {rect.x, rect.y, rect.width, inner.empty() ? rect.height : inner.y - rect.y},
      {rect.x, inner.bottom(), rect.width, inner.empty() ? 0 : rect.bottom() - inner.bottom()},
      {rect.x, inner.y, inner.x - rect.x, inner.height},
      {inner.right(), inner.y, rect.right() - inner.right(), inner.height},
  };
  for (const PixelRect& band : bands)
    if (!band.empty()) Host().Fill(window.native, ToWindow(window, band), form.BackColor);
  if (inner.empty()) return;

  State().piece.resize(kPiecePixels);
  const int pieceWidth = std::min(inner.width, kPiecePixels);
  const int pieceHeight = kPiecePixels / pieceWidth;
  for (int y = inner.y; y < inner.bottom(); y += pieceHeight)
    for (int x = inner.x; x < inner.right(); x += pieceWidth)
      PaintPiece(form, window, Intersect(inner, {x, y, pieceWidth, pieceHeight}));
}

}  // namespace

void PaintDirtyForms() {
  bool painted = false;
  for (const OpenWindow& window : State().windows) {
    if (!window.form->IsOpen()) continue;
    for (const PixelRect& rect : window.form->TakeDirty()) {
      PaintRect(*window.form, window, rect);
      painted = true;
    }
  }
  if (painted) Host().Flush();
}

}  // namespace rt
