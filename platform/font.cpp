// Text measuring, word wrapping, access-key captions and clipped drawing with the bitmap fonts.
#include "platform/font.h"

#include <algorithm>

namespace rt {
namespace {

bool IsBlank(char32_t c) {
  return c == U' ' || c == U'\t';
}

bool IsContinuationByte(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

std::string_view TrimTrailingBlanks(std::string_view line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  return line;
}

// Wraps one paragraph (text without line feeds) onto `lines`.
void WrapParagraph(const BitmapFont& font, std::string_view text, int maxWidth,
                   std::vector<std::string>& lines) {
  std::size_t lineStart = 0;
  while (lineStart < text.size()) {
    int width = 0;
    std::size_t pos = lineStart;
    std::size_t lastBlank = std::string_view::npos;  // where the line can end at a blank
    std::size_t lineEnd = text.size();
    std::size_t nextStart = text.size();
    bool sawInk = false;  // leading blanks are no place to break
    while (pos < text.size()) {
      const std::size_t charStart = pos;
      const char32_t c = NextCodePoint(text, pos);
      if (IsBlank(c)) {
        if (sawInk) lastBlank = charStart;
        width += FindGlyph(font, c).advance;
        continue;
      }
      const int advance = FindGlyph(font, c).advance;
      if (width + advance > maxWidth && charStart > lineStart) {
        if (lastBlank != std::string_view::npos) {
          lineEnd = lastBlank;
          nextStart = lastBlank;
        } else {
          lineEnd = charStart;  // a word longer than the line is cut here
          nextStart = charStart;
        }
        break;
      }
      width += advance;
      sawInk = true;
    }
    lines.emplace_back(TrimTrailingBlanks(text.substr(lineStart, lineEnd - lineStart)));
    // The next line starts at its first non-blank character.
    while (nextStart < text.size() && (text[nextStart] == ' ' || text[nextStart] == '\t')) {
      ++nextStart;
    }
    lineStart = nextStart;
  }
}

}  // namespace

const Glyph& FindGlyph(const BitmapFont& font, char32_t codePoint) {
  const auto byCode = [](const Glyph& glyph, char32_t c) { return glyph.codePoint < c; };
  auto found = std::lower_bound(font.glyphs.begin(), font.glyphs.end(), codePoint, byCode);
  if (found != font.glyphs.end() && found->codePoint == codePoint) return *found;
  found = std::lower_bound(font.glyphs.begin(), font.glyphs.end(), kReplacementChar, byCode);
  if (found != font.glyphs.end() && found->codePoint == kReplacementChar) return *found;
  static constexpr Glyph kNothing{};
  return kNothing;
}

bool GlyphPixel(const BitmapFont& font, const Glyph& glyph, int column, int row) {
  if (column < 0 || row < 0 || column >= glyph.width || row >= glyph.height) return false;
  const std::size_t bit = glyph.firstBit + static_cast<std::size_t>(row) * glyph.width + column;
  if (bit / 8 >= font.bits.size()) return false;
  return (font.bits[bit / 8] & (0x80u >> (bit % 8))) != 0;
}

char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  int length = 0;
  char32_t value = 0;
  char32_t smallest = 0;  // anything below this is an overlong form
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, smallest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, smallest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, smallest = 0x10000;
  } else {
    ++pos;
    return kReplacementChar;
  }
  if (text.size() - pos < static_cast<std::size_t>(length)) {
    ++pos;
    return kReplacementChar;
  }
  for (int i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[pos + i]);
    if (!IsContinuationByte(byte)) {
      ++pos;
      return kReplacementChar;
    }
    value = (value << 6) | (byte & 0x3F);
  }
  if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++pos;
    return kReplacementChar;
  }
  pos += length;
  return value;
}

int TextWidth(const BitmapFont& font, std::string_view utf8) {
  int width = 0;
  for (std::size_t pos = 0; pos < utf8.size();)
    width += FindGlyph(font, NextCodePoint(utf8, pos)).advance;
  return width;
}

std::vector<std::string> WrapText(const BitmapFont& font, std::string_view text, int maxWidth) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    const bool lastParagraph = end == std::string_view::npos;
    if (lastParagraph) end = text.size();
    const std::string_view paragraph = text.substr(start, end - start);
    if (TrimTrailingBlanks(paragraph).empty()) {
      lines.emplace_back();
    } else {
      WrapParagraph(font, paragraph, maxWidth, lines);
    }
    if (lastParagraph) break;
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    // A line feed at the very end starts no further line.
  }
  return lines;
}

AccessKeyCaption StripAccessKey(std::string_view caption) {
  AccessKeyCaption result;
  result.text.reserve(caption.size());
  for (std::size_t pos = 0; pos < caption.size();) {
    if (caption[pos] != '&') {
      result.text += caption[pos++];
      continue;
    }
    ++pos;
    if (pos == caption.size()) break;  // a lone '&' at the end
    if (caption[pos] == '&') {
      result.text += '&';
      ++pos;
      continue;
    }
    const std::size_t keyStart = pos;
    const char32_t key = NextCodePoint(caption, pos);
    if (result.keyIndex < 0) {
      result.keyIndex = static_cast<int>(result.text.size());
      result.key = key;
    }
    result.text.append(caption.substr(keyStart, pos - keyStart));
  }
  return result;
}

}  // namespace rt
