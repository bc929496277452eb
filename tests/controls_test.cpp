// The runtime's controls on their own, outside any form of the program.
#include "platform/controls.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/forms.h"
#include "platform/host.h"

namespace {

// ---- Looks --------------------------------------------------------------------------------
// Each control is painted alone, through its own Paint, onto a buffer one pixel larger all round,
// and read back as one letter per pixel of the classic 3-D palette:
//   H highlight FFFFFF (also a text box's white)   L light DFDFDF   . face C0C0C0
//   S shadow 808080   D dark shadow 000000 (also the text colour)   R a test picture's red

constexpr rt::Pixel kUntouched = 0x00123456;

char Letter(rt::Pixel p) {
  static const std::pair<rt::Pixel, char> legend[] = {
      {0xFFFFFFFF, 'H'}, {0xFFDFDFDF, 'L'}, {0xFFC0C0C0, '.'}, {0xFF808080, 'S'},
      {0xFF000000, 'D'}, {0xFFFF0000, 'R'}, {kUntouched, '~'}};
  for (const auto& [colour, letter] : legend)
    if (p == colour) return letter;
  return '?';
}

// One control on a form of its own, `width` x `height` pixels (15 twips each), placed at an odd
// spot so that painting must follow its box.
template <typename C>
struct Alone : rt::Form {
  C control{*this};
  Alone(int width, int height) { control.Move(15 * 5, 15 * 3, 15 * width, 15 * height); }
};

struct Painting {
  rt::PixelRect box, area;  // the control's box, and one pixel more all round
  std::vector<rt::Pixel> pixels;
  rt::Pixel at(int x, int y) const { return pixels[(y - area.y) * area.width + (x - area.x)]; }
};

Painting Paint(const rt::Control& control) {
  const rt::PixelRect box = control.PixelBox();
  Painting p{box, {box.x - 1, box.y - 1, box.width + 2, box.height + 2}, {}};
  p.pixels.assign(static_cast<std::size_t>(p.area.area()), kUntouched);
  rt::Canvas canvas{p.pixels.data(), p.area.width, p.area, p.area};
  control.Paint(canvas, box);
  return p;
}

// The control's box as rows of letters; nothing outside the box may change.
std::string Look(const rt::Control& control) {
  const Painting p = Paint(control);
  std::string rows;
  for (int y = p.area.y; y < p.area.bottom(); ++y)
    for (int x = p.area.x; x < p.area.right(); ++x) {
      if (!p.box.contains(x, y)) {
        EXPECT_EQ(p.at(x, y), kUntouched) << "painted outside its box at " << x << "," << y;
      } else {
        rows += Letter(p.at(x, y));
        if (x == p.box.right() - 1) rows += '\n';
      }
    }
  return rows;
}

std::string Rows(int count, const std::string& row) {
  std::string rows;
  for (int i = 0; i < count; ++i) rows += row + '\n';
  return rows;
}

// A button pressed by the mouse, which gives it the focus first, as a click does.
void Press(rt::CommandButton& control) {
  control.SetFocus();
  const rt::PixelRect box = control.PixelBox();
  control.MouseDown(host::kLeftButton, 0, box.x + 1, box.y + 1);
}

struct LookCase {
  const char* what;
  std::string (*paint)();
  std::string want;
};

TEST(ControlLooks, EachControlPaintsItsClassicLook) {
  static const rt::Picture red = [] {
    rt::Picture p{3, 6, std::vector<rt::Pixel>(18, 0xFFFF0000)};
    p.pixels[4] = 0;  // (1, 1) is transparent: the box's face shows through
    return p;
  }();
  const std::string sunken =  // two rings: shadow over dark shadow, light inside highlight
      "SSSSSSSSH\n"
      "SDDDDDDLH\n";
  const std::string sunkenBottom =
      "SLLLLLLLH\n"
      "HHHHHHHHH\n";
  const std::string aboveTheLine = Rows(rt::kDialogFont.lineHeight / 2, "........");
  const std::string etched =
      "SSSSSSS.\n"
      "SHHHHHSH\n"
      "SH....SH\n"
      "SH....SH\n"
      "SSSSSSSH\n"
      ".HHHHHHH\n";
  const LookCase cases[] = {
      {"button: raised, highlight over light, shadow inside dark shadow",
       [] { return Look(Alone<rt::CommandButton>(13, 13).control); },
       "HHHHHHHHHHHHD\n"
       "HLLLLLLLLLLSD\n" +
           Rows(9, "HL.........SD") +
           "HSSSSSSSSSSSD\n"
           "DDDDDDDDDDDDD\n"},
      {"focused button: a dark outline around the raised face, a dotted rectangle inside",
       [] {
         Alone<rt::CommandButton> form(13, 13);
         form.control.SetFocus();
         return Look(form.control);
       },
       "DDDDDDDDDDDDD\n"
       "DHHHHHHHHHHDD\n"
       "DHLLLLLLLLSDD\n"
       "DHL.......SDD\n"
       "DHL.D.D.D.SDD\n"
       "DHL.......SDD\n"
       "DHL.D...D.SDD\n"
       "DHL.......SDD\n"
       "DHL.D.D.D.SDD\n"
       "DHL.......SDD\n"
       "DHSSSSSSSSSDD\n"
       "DDDDDDDDDDDDD\n"
       "DDDDDDDDDDDDD\n"},
      {"pressed button: the dark outline, a flat shadow ring, the dotted rectangle",
       [] {
         Alone<rt::CommandButton> form(13, 13);
         Press(form.control);
         return Look(form.control);
       },
       "DDDDDDDDDDDDD\n"
       "DSSSSSSSSSSSD\n"
       "DS.........SD\n"
       "DS.........SD\n"
       "DS..D.D.D..SD\n"
       "DS.........SD\n"
       "DS..D...D..SD\n"
       "DS.........SD\n"
       "DS..D.D.D..SD\n"
       "DS.........SD\n"
       "DS.........SD\n"
       "DSSSSSSSSSSSD\n"
       "DDDDDDDDDDDDD\n"},
      {"text box: sunken, white inside", [] { return Look(Alone<rt::TextBox>(9, 8).control); },
       sunken + Rows(4, "SDHHHHHLH") + sunkenBottom},
      {"focused text box: the caret one pixel inside the border, cut by it",
       [] {
         Alone<rt::TextBox> form(9, 8);
         form.control.SetFocus();
         return Look(form.control);
       },
       sunken + "SDHHHHHLH\n" + Rows(3, "SDHDHHHLH") + sunkenBottom},
      {"picture box: sunken, the picture from the top-left inside the border, cut by it",
       [] {
         Alone<rt::PictureBox> form(9, 8);
         form.control.SetPicture(&red);
         return Look(form.control);
       },
       sunken +
           "SDRRR..LH\n"
           "SDR.R..LH\n"
           "SDRRR..LH\n"
           "SDRRR..LH\n" +
           sunkenBottom},
      {"frame: an etched line, shadow with highlight beside it, through the caption's line",
       [] { return Look(Alone<rt::Frame>(8, rt::kDialogFont.lineHeight / 2 + 6).control); },
       aboveTheLine + etched},
      {"label: its face", [] { return Look(Alone<rt::Label>(5, 3).control); }, Rows(3, ".....")},
  };
  for (const LookCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.paint(), c.want);
  }
}

// Where painting with a caption differs from painting without: the text's ink, all of it in the
// text colour (or, where `cleared`, the face). Returns the ink's bounds.
rt::PixelRect Ink(const Painting& bare, const Painting& captioned, bool cleared = false) {
  rt::PixelRect ink;
  for (int y = bare.area.y; y < bare.area.bottom(); ++y)
    for (int x = bare.area.x; x < bare.area.right(); ++x) {
      const char now = Letter(captioned.at(x, y));
      if (captioned.at(x, y) == bare.at(x, y) || (cleared && now == '.')) continue;
      EXPECT_EQ(now, 'D') << x << "," << y;
      ink = rt::Union(ink, {x, y, 1, 1});
    }
  EXPECT_FALSE(ink.empty());
  return ink;
}

template <typename C>
rt::PixelRect CaptionInk(C& control, const std::string& caption, bool cleared = false) {
  control.Caption = "";
  const Painting bare = Paint(control);
  control.Caption = caption;
  return Ink(bare, Paint(control), cleared);
}

rt::PixelRect Inset(const rt::PixelRect& r, int n) {
  return {r.x + n, r.y + n, r.width - 2 * n, r.height - 2 * n};
}

// Left and right margins equal, give or take a pixel of the glyphs' own spacing.
void ExpectCentred(const rt::PixelRect& ink, const rt::PixelRect& box) {
  EXPECT_NEAR(ink.x - box.x, box.right() - ink.right(), 1);
}

TEST(ControlLooks, CaptionsSitInsideTheirControls) {
  const int line = rt::kDialogFont.lineHeight;
  {
    SCOPED_TRACE("button: centred inside the focus rectangle; pressed, one pixel down and right");
    Alone<rt::CommandButton> form(73, 25);
    rt::CommandButton& button = form.control;
    button.SetFocus();
    const rt::PixelRect box = button.PixelBox(), up = CaptionInk(button, "OK");
    EXPECT_EQ(rt::Intersect(up, Inset(box, 5)), up);
    ExpectCentred(up, box);
    EXPECT_GT(CaptionInk(button, "&OK").bottom(), up.bottom());  // the access key underlined
    Press(button);
    const rt::PixelRect down = CaptionInk(button, "OK");
    EXPECT_EQ(down, (rt::PixelRect{up.x + 1, up.y + 1, up.width, up.height}));
  }
  for (rt::Alignment align : {rt::Alignment::Left, rt::Alignment::Center}) {
    SCOPED_TRACE("label: on its top line, at the left or centred");
    Alone<rt::Label> form(60, 30);
    form.control.TextAlign = align;
    const rt::PixelRect box = form.control.PixelBox(), ink = CaptionInk(form.control, "Ab");
    EXPECT_EQ(rt::Intersect(ink, {box.x, box.y, box.width, line}), ink);
    if (align == rt::Alignment::Left)
      EXPECT_LE(ink.x - box.x, 1);
    else
      ExpectCentred(ink, box);
  }
  {
    SCOPED_TRACE("frame: on the line's row, in from its left end, the line cut around it");
    Alone<rt::Frame> form(60, 30);
    const rt::PixelRect box = form.control.PixelBox(), ink = CaptionInk(form.control, "Ab", true);
    EXPECT_EQ(rt::Intersect(ink, {box.x + 2, box.y, box.width - 4, line}), ink);
    const Painting p = Paint(form.control);
    for (int y : {box.y + line / 2, box.y + line / 2 + 1})
      for (int x = ink.x - 1; x <= ink.right(); ++x)
        EXPECT_TRUE(Letter(p.at(x, y)) == '.' || Letter(p.at(x, y)) == 'D') << x << "," << y;
  }
  {
    SCOPED_TRACE("text box: text too long for it stays inside the border");
    Alone<rt::TextBox> form(40, 19);
    rt::TextBox& box = form.control;
    const Painting bare = Paint(box);
    box.SetText("MMMMMMMMMMMMMMMMMMMM");
    const rt::PixelRect ink = Ink(bare, Paint(box));
    EXPECT_EQ(rt::Intersect(ink, Inset(box.PixelBox(), 2)), ink);
    EXPECT_LE(ink.x - box.PixelBox().x, 4);  // inside the border and a margin
  }
}

}  // namespace
