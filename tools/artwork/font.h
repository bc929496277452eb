// The saver's text font: fixed-pitch glyphs designed on 8 rows and drawn at double height.
#pragma once

#include <string_view>

#include "platform/picture.h"

namespace artwork {

constexpr int kCellWidth = 10;   // pixels per character, glyph columns 0-9
constexpr int kCellHeight = 16;  // 8 design rows, each drawn twice

// Draws `line` in the salmon dither, cell k spanning x left + 10k to left + 10k + 9 and rows
// top to top + 15. Throws std::invalid_argument for a character the font lacks.
void DrawTextLine(rt::Picture& canvas, std::u32string_view line, int left, int top);

}  // namespace artwork
