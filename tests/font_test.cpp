// Tests for the bitmap fonts: glyph data, measuring, wrapping, access keys and clipped drawing.
#include "platform/font.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/canvas.h"

namespace rt {
namespace {

// A tiny font whose pixels are known by heart:
//   'A' (advance 5, left 1, top 1)   'B' (advance 3)   box (advance 2)   ' ' (advance 2)
//     #.#                              ##                #
//     .#.                              ##
//     ###
//     #..
constexpr Glyph kTinyGlyphs[] = {
    {U' ', 2, 0, 0, 0, 0, 0},
    {U'A', 5, 1, 1, 3, 4, 0},
    {U'B', 3, 0, 0, 2, 2, 12},
    {kReplacementChar, 2, 0, 0, 1, 1, 16},
};
constexpr std::uint8_t kTinyBits[] = {0xAB, 0xCF, 0x80};
constexpr BitmapFont kTinyFont = {
    .ascent = 4,
    .descent = 2,
    .lineHeight = 6,
    .underlineOffset = 1,
    .underlineThickness = 1,
    .glyphs = kTinyGlyphs,
    .bits = kTinyBits,
};

constexpr Pixel kPaper = 0xFF102030u;
constexpr Pixel kInk = 0xFFFFFFFFu;

// A pixel buffer covering a window rectangle, shown as rows of '#' (ink) and '.' (paper).
struct Canvas {
  PixelRect area;
  std::vector<Pixel> pixels;

  explicit Canvas(PixelRect bufferArea)
      : area(bufferArea), pixels(static_cast<std::size_t>(bufferArea.area()), kPaper) {}

  void Draw(const PixelRect& clip, int x, int top, std::string_view text, int underline = -1,
            const BitmapFont& font = kTinyFont) {
    rt::Canvas canvas{pixels.data(), area.width, area, clip};
    DrawText(canvas, x, top, font, text, kInk, underline);
  }
  void Draw(int x, int top, std::string_view text, int underline = -1,
            const BitmapFont& font = kTinyFont) {
    Draw(area, x, top, text, underline, font);
  }
  Pixel At(int windowX, int windowY) const {
    return pixels[static_cast<std::size_t>(windowY - area.y) * area.width + (windowX - area.x)];
  }
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (int y = area.y; y < area.bottom(); ++y) {
      std::string row;
      for (int x = area.x; x < area.right(); ++x) row += At(x, y) == kInk ? '#' : '.';
      rows.push_back(row);
    }
    return rows;
  }
};

// ---- Drawing with the tiny font ----

TEST(DrawTextTest, GlyphLandsAtItsOffsetInWindowCoordinates) {
  Canvas canvas({10, 20, 7, 6});  // the buffer starts at window pixel (10, 20)
  canvas.Draw(11, 20, "A");       // pen at column 1 of the buffer; 'A' has left 1 and top 1
  const std::vector<std::string> expected = {
      ".......",  //
      "..#.#..",  //
      "...#...",  //
      "..###..",  //
      "..#....",  //
      ".......",  //
  };
  EXPECT_EQ(canvas.Rows(), expected);
}

TEST(DrawTextTest, PenAdvancesByEachGlyphsAdvance) {
  Canvas canvas({0, 0, 15, 5});
  canvas.Draw(0, 0, "AB A");  // pens at 0, 5, 8 (the blank) and 10
  const std::vector<std::string> expected = {
      ".....##........",  //
      ".#.#.##....#.#.",  //
      "..#.........#..",  //
      ".###.......###.",  //
      ".#.........#...",  //
  };
  EXPECT_EQ(canvas.Rows(), expected);
}

TEST(DrawTextTest, UnderlinesTheMarkedCharactersAdvance) {
  Canvas canvas({0, 0, 9, 6});
  canvas.Draw(0, 0, "AB", 1);  // 'B' starts at byte 1; underline row = ascent 4 + offset 1
  const std::vector<std::string> expected = {
      ".....##..",  //
      ".#.#.##..",  //
      "..#......",  //
      ".###.....",  //
      ".#.......",  //
      ".....###.",  //
  };
  EXPECT_EQ(canvas.Rows(), expected);
}

TEST(DrawTextTest, UnderlineIndexNotAtACharacterStartDrawsNoLine) {
  Canvas plain({0, 0, 9, 6}), marked({0, 0, 9, 6});
  plain.Draw(0, 0, "A\xC2\xA9");
  marked.Draw(0, 0, "A\xC2\xA9", 2);  // the middle of the two-byte character
  EXPECT_EQ(marked.Rows(), plain.Rows());
}

// Each clip cuts one or more edges off 'A' drawn at pen (1, 0) in a 6 x 6 buffer.
struct ClipCase {
  const char* name;
  PixelRect clip;
  friend void PrintTo(const ClipCase& c, std::ostream* os) { *os << c.name; }
};

class DrawTextClipTest : public ::testing::TestWithParam<ClipCase> {};

TEST_P(DrawTextClipTest, DrawsExactlyTheUnclippedPixelsInsideTheClip) {
  const PixelRect bufferArea{0, 0, 6, 6};
  Canvas whole(bufferArea), clipped(bufferArea);
  whole.Draw(1, 0, "A");
  clipped.Draw(GetParam().clip, 1, 0, "A");
  int inkInside = 0;
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 6; ++x) {
      const bool inside = GetParam().clip.contains(x, y);
      EXPECT_EQ(clipped.At(x, y), inside ? whole.At(x, y) : kPaper) << "at " << x << "," << y;
      inkInside += inside && whole.At(x, y) == kInk;
    }
  }
  // Every case keeps some ink and loses some, so the clip really cut through the glyph.
  EXPECT_GT(inkInside, 0);
  EXPECT_LT(inkInside, 7);
}

INSTANTIATE_TEST_SUITE_P(
    EveryEdge, DrawTextClipTest,
    ::testing::Values(ClipCase{"Left", {3, 0, 3, 6}}, ClipCase{"Right", {0, 0, 4, 6}},
                      ClipCase{"Top", {0, 2, 6, 4}}, ClipCase{"Bottom", {0, 0, 6, 3}},
                      ClipCase{"AllSides", {3, 2, 1, 2}}, ClipCase{"OneRow", {0, 3, 6, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DrawTextTest, ClipMayExtendPastTheBuffer) {
  Canvas canvas({0, 0, 4, 3});
  canvas.Draw({-100, -100, 1000, 1000}, 0, 0, "A");
  const std::vector<std::string> expected = {"....", ".#.#", "..#."};
  EXPECT_EQ(canvas.Rows(), expected);
}

TEST(DrawTextTest, EmptyClipDrawsNothing) {
  Canvas canvas({0, 0, 6, 6});
  canvas.Draw({2, 2, 0, 3}, 1, 0, "AAA", 0);
  for (Pixel p : canvas.pixels) EXPECT_EQ(p, kPaper);
}

// The buffer sits inside a larger block whose guard pixels must survive any drawing, however
// far the text hangs over the buffer's edges.
TEST(DrawTextTest, NeverWritesOutsideTheBuffer) {
  constexpr int kStride = 20, kRows = 20;
  constexpr Pixel kGuard = 0xFFABCDEFu;
  const PixelRect bufferArea{100, 50, 6, 5};  // rows 5..9, columns 7..12 of the block
  const struct {
    int x, top;
  } positions[] = {{96, 48}, {103, 48}, {96, 53}, {104, 53}, {90, 40}, {110, 60}, {100, 50}};
  for (const auto& position : positions) {
    std::vector<Pixel> block(kStride * kRows, kGuard);
    Pixel* buffer = block.data() + 5 * kStride + 7;
    for (int y = 0; y < bufferArea.height; ++y) {
      for (int x = 0; x < bufferArea.width; ++x) buffer[y * kStride + x] = kPaper;
    }
    rt::Canvas canvas{buffer, kStride, bufferArea, {0, 0, 1000, 1000}};
    DrawText(canvas, position.x, position.top, kDialogFont, "W@\xC2\xA9 AB&", kInk, 0);
    for (int row = 0; row < kRows; ++row) {
      for (int col = 0; col < kStride; ++col) {
        const bool inBuffer = row >= 5 && row < 10 && col >= 7 && col < 13;
        if (!inBuffer) {
          ASSERT_EQ(block[row * kStride + col], kGuard)
              << "text at " << position.x << "," << position.top << " wrote block pixel " << col
              << "," << row;
        }
      }
    }
  }
}

// ---- The built-in fonts ----

struct BuiltInFont {
  const char* name;
  const BitmapFont* font;
  int minCapHeight, maxCapHeight;
  int minLineHeight, maxLineHeight;
  friend void PrintTo(const BuiltInFont& c, std::ostream* os) { *os << c.name; }
};

class BuiltInFontTest : public ::testing::TestWithParam<BuiltInFont> {};

// The rows of ink in a glyph's bitmap (blank rows would not count towards a height).
int InkHeight(const BitmapFont& font, const Glyph& glyph) {
  int first = -1, last = -1;
  for (int row = 0; row < glyph.height; ++row) {
    for (int col = 0; col < glyph.width; ++col) {
      if (GlyphPixel(font, glyph, col, row)) {
        if (first < 0) first = row;
        last = row;
      }
    }
  }
  return first < 0 ? 0 : last - first + 1;
}

TEST_P(BuiltInFontTest, HasEveryCharacterTheDialogNeeds) {
  const BitmapFont& font = *GetParam().font;
  std::vector<char32_t> wanted = {0xA9, kReplacementChar};
  for (char32_t c = 32; c <= 126; ++c) wanted.push_back(c);
  for (char32_t c : wanted) {
    EXPECT_EQ(FindGlyph(font, c).codePoint, c) << "U+" << std::hex << static_cast<unsigned>(c);
  }
}

TEST_P(BuiltInFontTest, GlyphTableIsSortedAndBitmapsFitTheLine) {
  const BitmapFont& font = *GetParam().font;
  ASSERT_FALSE(font.glyphs.empty());
  EXPECT_EQ(font.lineHeight, font.ascent + font.descent);
  for (std::size_t i = 0; i < font.glyphs.size(); ++i) {
    const Glyph& g = font.glyphs[i];
    if (i > 0) {
      EXPECT_LT(font.glyphs[i - 1].codePoint, g.codePoint);
    }
    EXPECT_GT(g.advance, 0);
    EXPECT_GE(g.top, 0);
    EXPECT_LE(g.top + g.height, font.lineHeight);
    const std::size_t endBit = g.firstBit + static_cast<std::size_t>(g.width) * g.height;
    EXPECT_LE((endBit + 7) / 8, font.bits.size());
  }
  EXPECT_GE(font.underlineOffset + font.underlineThickness, 1);
  EXPECT_LE(font.underlineOffset + font.underlineThickness, font.descent);
}

TEST_P(BuiltInFontTest, VisibleCharactersHaveInkAndTheSpaceHasNone) {
  const BitmapFont& font = *GetParam().font;
  EXPECT_EQ(InkHeight(font, FindGlyph(font, U' ')), 0);
  for (char32_t c = 33; c <= 126; ++c) {
    EXPECT_GT(InkHeight(font, FindGlyph(font, c)), 0) << static_cast<char>(c);
  }
}

TEST_P(BuiltInFontTest, SizesMatchThePointSize) {
  const BuiltInFont& param = GetParam();
  const int capHeight = InkHeight(*param.font, FindGlyph(*param.font, U'H'));
  EXPECT_GE(capHeight, param.minCapHeight);
  EXPECT_LE(capHeight, param.maxCapHeight);
  EXPECT_GE(param.font->lineHeight, param.minLineHeight);
  EXPECT_LE(param.font->lineHeight, param.maxLineHeight);
  // Capitals sit on the baseline.
  const Glyph& h = FindGlyph(*param.font, U'H');
  EXPECT_EQ(h.top + h.height, param.font->ascent);
}

TEST_P(BuiltInFontTest, WidthIsTheSumOfAdvances) {
  const BitmapFont& font = *GetParam().font;
  for (std::string_view text : {"Quietglass", "email:", "&OK", "ex-Orvel owner", "a b"}) {
    int sum = 0;
    for (char c : text) sum += FindGlyph(font, static_cast<unsigned char>(c)).advance;
    EXPECT_EQ(TextWidth(font, text), sum) << text;
  }
  EXPECT_EQ(TextWidth(font, ""), 0);
  EXPECT_EQ(TextWidth(font, "\xC2\xA9"), FindGlyph(font, 0xA9).advance);
  EXPECT_EQ(TextWidth(font, "mm"), 2 * TextWidth(font, "m"));
  EXPECT_GT(TextWidth(font, "W"), TextWidth(font, "i"));  // proportional, not fixed pitch
}

TEST_P(BuiltInFontTest, DrawsEachGlyphsBitmapBelowTheLineTop) {
  const BitmapFont& font = *GetParam().font;
  for (char32_t c : {U'g', U'Q', U'@', U'|', char32_t{0xA9}}) {
    const Glyph& g = FindGlyph(font, c);
    Canvas canvas({0, 0, 40, 40});
    std::string text;
    if (c < 0x80) {
      text = static_cast<char>(c);
    } else {
      text = "\xC2\xA9";
    }
    canvas.Draw(5, 3, text, -1, font);
    for (int y = 0; y < 40; ++y) {
      for (int x = 0; x < 40; ++x) {
        const bool ink = GlyphPixel(font, g, x - 5 - g.left, y - 3 - g.top);
        EXPECT_EQ(canvas.At(x, y) == kInk, ink) << "glyph " << static_cast<unsigned>(c);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fonts, BuiltInFontTest,
                         // 8 points at 96 DPI is about 11 px; 18 points is 24 px.
                         ::testing::Values(BuiltInFont{"Dialog", &kDialogFont, 7, 9, 12, 14},
                                           BuiltInFont{"Title", &kTitleFont, 16, 19, 26, 31}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DialogFontsTest, TitleFontIsHeavy) {
  // A black weight: the stem of 'l' is several pixels wide, unlike the dialog font's one pixel.
  EXPECT_GE(FindGlyph(kTitleFont, U'l').width, 5);
  EXPECT_LE(FindGlyph(kDialogFont, U'l').width, 2);
}

// The setup dialog's captions fit the boxes they are drawn in (widths in pixels).
TEST(DialogFontsTest, DialogCaptionsFitTheirBoxes) {
  EXPECT_LE(TextWidth(kTitleFont, "Quietglass"), 161);
  EXPECT_LE(TextWidth(kDialogFont, "Bolted together in 10 minutes by Pellwin"), 193);
  EXPECT_LE(TextWidth(kDialogFont, "website:"), 49);
  EXPECT_LE(TextWidth(kDialogFont, "email:"), 33);
  EXPECT_LE(TextWidth(kDialogFont, "OK"), 73);
}

// ---- Wrapping ----

constexpr std::string_view kAdvice =
    "For best results (and to prevent dithering on the purple background), your display should "
    "be running in 'high color' or greater. 256 color mode just wont cut it. Anyway, no self "
    "respecting ex-Orvel owner would been seen dead with only 256 colors!";

TEST(WrapTextTest, AdviceWrapsAtBlanksInsideItsBox) {
  constexpr int kBoxWidth = 193;  // 2895 twips
  const std::vector<std::string> lines = WrapText(kDialogFont, kAdvice, kBoxWidth);
  ASSERT_GE(lines.size(), 4u);
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LE(TextWidth(kDialogFont, lines[i]), kBoxWidth) << lines[i];
    EXPECT_FALSE(lines[i].empty());
    EXPECT_NE(lines[i].front(), ' ');
    EXPECT_NE(lines[i].back(), ' ');
    if (i > 0) joined += ' ';
    joined += lines[i];
    // Greedy: the next line's first word would not have fitted on this one.
    if (i + 1 < lines.size()) {
      const std::string nextWord = lines[i + 1].substr(0, lines[i + 1].find(' '));
      EXPECT_GT(TextWidth(kDialogFont, lines[i] + " " + nextWord), kBoxWidth) << lines[i];
    }
  }
  EXPECT_EQ(joined, kAdvice);  // no word was cut, every break was at a single blank
}

struct WrapCase {
  const char* name;
  std::string_view text;
  int maxWidth;
  std::vector<std::string> lines;
  friend void PrintTo(const WrapCase& c, std::ostream* os) { *os << c.name; }
};

class WrapTextCaseTest : public ::testing::TestWithParam<WrapCase> {};

TEST_P(WrapTextCaseTest, BreaksAsExpected) {
  EXPECT_EQ(WrapText(kTinyFont, GetParam().text, GetParam().maxWidth), GetParam().lines);
}

// Tiny font advances: 'A' 5, 'B' 3, ' ' 2.
INSTANTIATE_TEST_SUITE_P(
    Cases, WrapTextCaseTest,
    ::testing::Values(
        WrapCase{"Empty", "", 20, {}}, WrapCase{"FitsOnOneLine", "AB AB", 18, {"AB AB"}},
        WrapCase{"BreaksAtTheBlank", "AB AB", 17, {"AB", "AB"}},
        WrapCase{"ExactWidthFits", "AB", 8, {"AB"}},
        WrapCase{"LongWordIsCut", "AAAAAAA", 12, {"AA", "AA", "AA", "A"}},
        WrapCase{"LongWordAfterShortOne", "B AAAAA", 11, {"B", "AA", "AA", "A"}},
        WrapCase{"NarrowerThanOneCharacter", "AB", 1, {"A", "B"}},
        WrapCase{"BlanksAtTheBreakAreDropped", "AB    AB", 10, {"AB", "AB"}},
        WrapCase{"TrailingBlanksAreDropped", "AB  ", 50, {"AB"}},
        WrapCase{"LeadingBlanksStay", "  AB", 50, {"  AB"}},
        WrapCase{"LineFeeds", "A\nB\r\nA\rB", 50, {"A", "B", "A", "B"}},
        WrapCase{"EmptyParagraphs", "A\n\nB", 50, {"A", "", "B"}},
        WrapCase{"FinalLineFeedAddsNoLine", "A\n", 50, {"A"}},
        WrapCase{"OnlyALineFeed", "\n", 50, {""}}, WrapCase{"OnlyBlanks", "   ", 50, {""}},
        WrapCase{"InvalidBytesWrapLikeCharacters", "\xFF\xFF\xFF", 4, {"\xFF\xFF", "\xFF"}},
        WrapCase{
            "MultiByteCharacterIsNeverSplit", "\xC2\xA9\xC2\xA9", 2, {"\xC2\xA9", "\xC2\xA9"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Access keys ----

struct AccessKeyCase {
  const char* name;
  std::string_view caption;
  std::string text;
  int keyIndex;
  char32_t key;
  friend void PrintTo(const AccessKeyCase& c, std::ostream* os) { *os << c.name; }
};

class StripAccessKeyTest : public ::testing::TestWithParam<AccessKeyCase> {};

TEST_P(StripAccessKeyTest, StripsMarkersAndFindsTheKey) {
  const AccessKeyCaption result = StripAccessKey(GetParam().caption);
  EXPECT_EQ(result.text, GetParam().text);
  EXPECT_EQ(result.keyIndex, GetParam().keyIndex);
  EXPECT_EQ(result.key, GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StripAccessKeyTest,
    ::testing::Values(AccessKeyCase{"Ok", "&OK", "OK", 0, U'O'},
                      AccessKeyCase{"DoubledMarker", "&&", "&", -1, 0},
                      AccessKeyCase{"KeyInTheMiddle", "E&xit", "Exit", 1, U'x'},
                      AccessKeyCase{"DoubledMarkerInTheMiddle", "a&&b", "a&b", -1, 0},
                      AccessKeyCase{"DoubledThenKey", "&&&x", "&x", 1, U'x'},
                      AccessKeyCase{"OnlyTheFirstKeyCounts", "&a&b", "ab", 0, U'a'},
                      AccessKeyCase{"LoneMarkerAtTheEnd", "end&", "end", -1, 0},
                      AccessKeyCase{"Empty", "", "", -1, 0},
                      AccessKeyCase{"NoMarker", "OK", "OK", -1, 0},
                      AccessKeyCase{"MultiByteKey", "x&\xC2\xA9", "x\xC2\xA9", 1, 0xA9},
                      AccessKeyCase{"InvalidByteAsKey", "&\xFF", "\xFF", 0, kReplacementChar}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AccessKeyDrawingTest, KeyIndexUnderlinesTheKeyWhenDrawn) {
  const AccessKeyCaption caption = StripAccessKey("B&A");
  Canvas marked({0, 0, 9, 6}), plain({0, 0, 9, 6});
  marked.Draw(0, 0, caption.text, caption.keyIndex);
  plain.Draw(0, 0, "BA");
  EXPECT_EQ(marked.Rows()[5], "...#####.");
  EXPECT_EQ(plain.Rows()[5], ".........");
}

// ---- UTF-8 ----

struct Utf8Case {
  const char* name;
  std::string_view bytes;
  std::vector<char32_t> codePoints;
  friend void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }
};

class Utf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, DecodesOrReplacesByteByByte) {
  std::vector<char32_t> decoded;
  for (std::size_t pos = 0; pos < GetParam().bytes.size();) {
    const std::size_t before = pos;
    decoded.push_back(NextCodePoint(GetParam().bytes, pos));
    ASSERT_GT(pos, before);
    ASSERT_LE(pos, GetParam().bytes.size());
  }
  EXPECT_EQ(decoded, GetParam().codePoints);
}

constexpr char32_t kBad = kReplacementChar;
INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Test,
    ::testing::Values(Utf8Case{"Ascii", "AB", {U'A', U'B'}},
                      Utf8Case{"TwoBytes", "\xC2\xA9", {0xA9}},
                      Utf8Case{"ThreeBytes", "\xE2\x82\xAC", {0x20AC}},
                      Utf8Case{"FourBytes", "\xF0\x9F\x98\x80", {0x1F600}},
                      Utf8Case{"InvalidLead",
                               "\xFF"
                               "A",
                               {kBad, U'A'}},
                      Utf8Case{"LoneContinuation", "\x80", {kBad}},
                      Utf8Case{"CutOffAtTheEnd", "A\xE2\x82", {U'A', kBad, kBad}},
                      Utf8Case{"CutOffByAnotherCharacter",
                               "\xC2"
                               "A",
                               {kBad, U'A'}},
                      Utf8Case{"Overlong", "\xC0\xAF", {kBad, kBad}},
                      Utf8Case{"Surrogate", "\xED\xA0\x80", {kBad, kBad, kBad}},
                      Utf8Case{"BeyondUnicode", "\xF4\x90\x80\x80", {kBad, kBad, kBad, kBad}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FallbackGlyphTest, MissingAndInvalidCharactersDrawAsTheBox) {
  const Glyph& box = FindGlyph(kDialogFont, kReplacementChar);
  for (std::string_view text : {"\xE2\x82\xAC", "\x01", "\xFF", "\xC0"}) {
    Canvas drawn({0, 0, 16, 16}), expected({0, 0, 16, 16});
    drawn.Draw(1, 1, text, -1, kDialogFont);
    expected.Draw(1, 1, "\xEF\xBF\xBD", -1, kDialogFont);  // U+FFFD itself
    EXPECT_EQ(drawn.Rows(), expected.Rows());
    EXPECT_EQ(TextWidth(kDialogFont, text), box.advance);
  }
  EXPECT_EQ(TextWidth(kDialogFont, "\xC0\xAF"), 2 * box.advance);
}

}  // namespace
}  // namespace rt
