// Built-in 1-bit bitmap fonts and the text measuring, wrapping and drawing that uses them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/geometry.h"
#include "platform/picture.h"

namespace rt {

// One character's bitmap and metrics, all in pixels.
struct Glyph {
  char32_t codePoint = 0;
  std::int16_t advance = 0;    // how far the pen moves after this character
  std::int16_t left = 0;       // from the pen to the bitmap's first column (may be negative)
  std::int16_t top = 0;        // from the line's top to the bitmap's first row
  std::uint16_t width = 0;     // bitmap columns
  std::uint16_t height = 0;    // bitmap rows
  std::uint32_t firstBit = 0;  // into BitmapFont::bits: rows top-down, each row left to right
};

// The replacement character: every font carries it, drawn as a hollow box, and it stands in for
// every character the font lacks (and for bytes that are not valid UTF-8).
constexpr char32_t kReplacementChar = 0xFFFD;

// A bitmap font. A line of text is `lineHeight` rows tall with the baseline `ascent` rows below
// its top. Glyph bitmaps are packed without padding, most significant bit first.
struct BitmapFont {
  int ascent = 0;
  int descent = 0;
  int lineHeight = 0;
  int underlineOffset = 0;        // rows between the baseline and the access-key underline
  int underlineThickness = 1;     // rows
  std::span<const Glyph> glyphs;  // sorted by code point, including kReplacementChar
  std::span<const std::uint8_t> bits;
};

// The default dialog font: a crisp 8-point sans at 96 DPI.
extern const BitmapFont kDialogFont;
// A heavy 18-point sans for titles.
extern const BitmapFont kTitleFont;

// The glyph for `codePoint`, or the font's replacement box when it has none.
const Glyph& FindGlyph(const BitmapFont& font, char32_t codePoint);

// Whether the glyph's bitmap has its pixel at (column, row) set.
bool GlyphPixel(const BitmapFont& font, const Glyph& glyph, int column, int row);

// Decodes the code point starting at `text[pos]` and moves `pos` past it. A malformed or cut-off
// sequence yields kReplacementChar and moves `pos` by one byte. `pos` must be < text.size().
char32_t NextCodePoint(std::string_view text, std::size_t& pos);

// The sum of the characters' advances.
int TextWidth(const BitmapFont& font, std::string_view utf8);

// Breaks `text` into lines no wider than `maxWidth`: at blanks where possible (the blanks at a
// break are dropped, and so are blanks at the end of every line), inside a word that is wider than
// a whole line, and at every line feed (LF, CR or CR LF). A line always holds at least one
// character, even when that alone is wider than `maxWidth`. Empty text gives no lines.
std::vector<std::string> WrapText(const BitmapFont& font, std::string_view text, int maxWidth);

// A caption with its access-key marker removed: "&OK" shows as "OK" with the O underlined.
struct AccessKeyCaption {
  std::string text;   // what is shown: each "&x" becomes "x" and "&&" becomes "&"
  int keyIndex = -1;  // byte index in `text` of the underlined character, -1 for none
  char32_t key = 0;   // that character, 0 for none
};

// Only the first marked character becomes the access key; a lone '&' at the end is dropped.
AccessKeyCaption StripAccessKey(std::string_view caption);

}  // namespace rt
