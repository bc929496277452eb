// Rasterises the built-in fonts with FreeType into C++ sources for platform/fonts/.
// Usage: quietglass-fontgen OUTPUT_DIR [DIALOG_FONT.ttf TITLE_FONT.ttf]
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kDpi = 96;
constexpr char32_t kCopyrightSign = 0xA9;
constexpr char32_t kReplacementChar = 0xFFFD;

// One font to build: where it comes from, how big, how much heavier, and where it goes.
struct FontJob {
  std::string fontPath;
  std::string sourceName;  // the face as named by its makers, for the generated file's notice
  std::string notice;      // the face's copyright lines
  std::string licenceFile;
  double points = 0;
  double emboldenX = 0;  // extra stem width in pixels
  double emboldenY = 0;  // extra stem height in pixels
  std::string symbol;
  std::string outputName;
};

struct RenderedGlyph {
  char32_t codePoint = 0;
  int advance = 0;
  int left = 0;
  int bitmapTop = 0;  // rows above the baseline, as FreeType gives it
  int width = 0;
  int height = 0;
  std::vector<bool> pixels;  // row-major
};

struct RenderedFont {
  std::vector<RenderedGlyph> glyphs;
  int ascent = 0;
  int descent = 0;
  int underlineOffset = 0;
  int underlineThickness = 1;
};

int CeilPixels(FT_Pos value26_6) {
  return static_cast<int>((value26_6 + 63) >> 6);
}

bool RenderGlyph(FT_Face face, const FontJob& job, char32_t codePoint, RenderedGlyph& out) {
  const FT_UInt index = FT_Get_Char_Index(face, codePoint);
  if (index == 0) return false;
  // Hinted for 1-bit output: the hinting then snaps stems to whole pixels.
  if (FT_Load_Glyph(face, index, FT_LOAD_TARGET_MONO | FT_LOAD_NO_BITMAP) != 0) return false;
  FT_GlyphSlot slot = face->glyph;
  const FT_Pos extraX = std::lround(job.emboldenX * 64), extraY = std::lround(job.emboldenY * 64);
  if (extraX != 0 || extraY != 0) FT_Outline_EmboldenXY(&slot->outline, extraX, extraY);
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return false;
  const FT_Bitmap& bitmap = slot->bitmap;
  out.codePoint = codePoint;
  out.advance = static_cast<int>((slot->advance.x + extraX + 32) >> 6);
  out.left = slot->bitmap_left;
  out.bitmapTop = slot->bitmap_top;
  out.width = static_cast<int>(bitmap.width);
  out.height = static_cast<int>(bitmap.rows);
  out.pixels.assign(static_cast<std::size_t>(out.width) * out.height, false);
  for (int row = 0; row < out.height; ++row) {
    const unsigned char* line = bitmap.buffer + static_cast<std::ptrdiff_t>(row) * bitmap.pitch;
    for (int col = 0; col < out.width; ++col) {
      out.pixels[static_cast<std::size_t>(row) * out.width + col] =
          (line[col >> 3] & (0x80 >> (col & 7))) != 0;
    }
  }
  // A blank glyph (the space) needs no bitmap.
  if (std::find(out.pixels.begin(), out.pixels.end(), true) == out.pixels.end()) {
    out.width = out.height = 0;
    out.pixels.clear();
  }
  return true;
}

// The hollow box drawn for missing characters: cap height tall, about half an em wide.
RenderedGlyph MakeReplacementBox(int ppem, int capHeight, int stroke) {
  RenderedGlyph box;
  box.codePoint = kReplacementChar;
  box.width = std::max(3, static_cast<int>(std::lround(ppem * 0.45)));
  box.height = capHeight;
  box.left = std::max(1, ppem / 11);
  box.advance = box.width + 2 * box.left;
  box.bitmapTop = capHeight;
  box.pixels.assign(static_cast<std::size_t>(box.width) * box.height, false);
  for (int row = 0; row < box.height; ++row) {
    for (int col = 0; col < box.width; ++col) {
      const bool edge =
          row < stroke || row >= box.height - stroke || col < stroke || col >= box.width - stroke;
      box.pixels[static_cast<std::size_t>(row) * box.width + col] = edge;
    }
  }
  return box;
}

bool Render(FT_Library library, const FontJob& job, RenderedFont& font) {
  FT_Face face = nullptr;
  if (FT_New_Face(library, job.fontPath.c_str(), 0, &face) != 0) {
    std::cerr << "cannot open " << job.fontPath << "\n";
    return false;
  }
  FT_Set_Char_Size(face, 0, std::lround(job.points * 64), kDpi, kDpi);
  const FT_Size_Metrics& metrics = face->size->metrics;

  std::vector<char32_t> wanted;
  for (char32_t c = 32; c <= 126; ++c) wanted.push_back(c);
  wanted.push_back(kCopyrightSign);
  bool ok = true;
  for (char32_t c : wanted) {
    RenderedGlyph glyph;
    if (!RenderGlyph(face, job, c, glyph)) {
      std::cerr << job.fontPath << ": no glyph for U+" << std::hex << static_cast<unsigned>(c)
                << std::dec << "\n";
      ok = false;
      continue;
    }
    font.glyphs.push_back(std::move(glyph));
  }
  if (!ok) {
    FT_Done_Face(face);
    return false;
  }

  const auto byCode = [&](char32_t c) -> const RenderedGlyph& {
    return *std::find_if(font.glyphs.begin(), font.glyphs.end(),
                         [c](const RenderedGlyph& g) { return g.codePoint == c; });
  };
  const RenderedGlyph& capital = byCode(U'H');
  const RenderedGlyph& stem = byCode(U'l');
  font.glyphs.push_back(
      MakeReplacementBox(metrics.x_ppem, capital.height, std::max(1, stem.width / 2)));

  // The line must hold the font's own ascender and descender and every glyph's ink.
  font.ascent = CeilPixels(metrics.ascender);
  font.descent = CeilPixels(-metrics.descender);
  for (const RenderedGlyph& g : font.glyphs) {
    if (g.height == 0) continue;
    font.ascent = std::max(font.ascent, g.bitmapTop);
    font.descent = std::max(font.descent, g.height - g.bitmapTop);
  }

  const double unitsToPixels = static_cast<double>(metrics.y_ppem) / face->units_per_EM;
  font.underlineThickness =
      std::max(1, static_cast<int>(std::lround(face->underline_thickness * unitsToPixels)));
  const double underlineCentre = -face->underline_position * unitsToPixels;
  font.underlineOffset =
      std::clamp(static_cast<int>(std::lround(underlineCentre - font.underlineThickness / 2.0)), 1,
                 std::max(1, font.descent - font.underlineThickness));
  FT_Done_Face(face);
  return true;
}

std::string CharLiteral(char32_t c) {
  char buffer[16];
  if (c == U'\'' || c == U'\\') {
    std::snprintf(buffer, sizeof buffer, "U'\\%c'", static_cast<char>(c));
  } else if (c >= 32 && c <= 126) {
    std::snprintf(buffer, sizeof buffer, "U'%c'", static_cast<char>(c));
  } else {
    std::snprintf(buffer, sizeof buffer, "U'\\u%04X'", static_cast<unsigned>(c));
  }
  return buffer;
}

std::string GenerateSource(const FontJob& job, const RenderedFont& font) {
  std::vector<std::uint8_t> bytes;
  std::uint32_t bitCount = 0;
  std::ostringstream glyphTable;
  std::vector<const RenderedGlyph*> sorted;
  for (const RenderedGlyph& g : font.glyphs) sorted.push_back(&g);
  std::sort(sorted.begin(), sorted.end(), [](const RenderedGlyph* a, const RenderedGlyph* b) {
    return a->codePoint < b->codePoint;
  });
  for (const RenderedGlyph* g : sorted) {
    const int top = font.ascent - g->bitmapTop;
    glyphTable << "    {" << CharLiteral(g->codePoint) << ", " << g->advance << ", " << g->left
               << ", " << (g->height == 0 ? 0 : top) << ", " << g->width << ", " << g->height
               << ", " << (g->pixels.empty() ? 0 : bitCount) << "},\n";
    for (bool on : g->pixels) {
      if (bitCount % 8 == 0) bytes.push_back(0);
      if (on) bytes.back() |= static_cast<std::uint8_t>(0x80 >> (bitCount % 8));
      ++bitCount;
    }
  }

  std::ostringstream out;
  out << "// " << job.symbol << ": " << job.sourceName << " at " << job.points << " points, "
      << kDpi << " DPI, 1 bit per pixel";
  if (job.emboldenX > 0 || job.emboldenY > 0) {
    out << ", " << job.emboldenX << " x " << job.emboldenY << " px heavier";
  }
  out << ".\n// Generated by tools/fontgen; do not edit.\n"
      << "// Glyph data derived from " << job.sourceName << ". " << job.notice << "\n"
      << "// Licensed under the SIL Open Font License 1.1: see tools/fontgen/" << job.licenceFile
      << ".\n"
      << "#include \"platform/font.h\"\n\n"
      << "namespace rt {\nnamespace {\n\n"
      << "// code point, advance, left, top, width, height, first bit\n"
      << "constexpr Glyph kGlyphs[] = {\n"
      << glyphTable.str() << "};\n\n"
      << "constexpr std::uint8_t kBits[] = {\n";
  constexpr int kBytesPerLine = 16;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % kBytesPerLine == 0) out << "   ";
    char hex[8];
    std::snprintf(hex, sizeof hex, " 0x%02X,", bytes[i]);
    out << hex;
    if (i % kBytesPerLine == kBytesPerLine - 1 || i + 1 == bytes.size()) out << "\n";
  }
  out << "};\n\n}  // namespace\n\n"
      << "constinit const BitmapFont " << job.symbol << " = {\n"
      << "    .ascent = " << font.ascent << ",\n"
      << "    .descent = " << font.descent << ",\n"
      << "    .lineHeight = " << font.ascent + font.descent << ",\n"
      << "    .underlineOffset = " << font.underlineOffset << ",\n"
      << "    .underlineThickness = " << font.underlineThickness << ",\n"
      << "    .glyphs = kGlyphs,\n"
      << "    .bits = kBits,\n"
      << "};\n\n}  // namespace rt\n";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::cerr << "usage: " << argv[0] << " OUTPUT_DIR [DIALOG_FONT.ttf TITLE_FONT.ttf]\n";
    return 2;
  }
  const std::string outputDir = argv[1];
  const std::string fontDir = "/usr/share/fonts/truetype/liberation2/";
  const std::string notice =
      "Digitized data copyright (c) 2010 Google Corporation with Reserved Font Arimo, Tinos and "
      "Cousine. Copyright (c) 2012 Red Hat, Inc. with Reserved Font Name Liberation.";
  std::vector<FontJob> jobs = {
      {fontDir + "LiberationSans-Regular.ttf", "Liberation Sans Regular 2.1", notice,
       "LICENSE-LiberationSans.txt", 8, 0, 0, "kDialogFont", "dialog_font.cpp"},
      // A stand-in for a black weight: the bold face with its stems widened further.
      {fontDir + "LiberationSans-Bold.ttf", "Liberation Sans Bold 2.1", notice,
       "LICENSE-LiberationSans.txt", 18, 3, 0, "kTitleFont", "title_font.cpp"},
  };
  if (argc == 4) {
    jobs[0].fontPath = argv[2];
    jobs[1].fontPath = argv[3];
  }

  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    std::cerr << "cannot start FreeType\n";
    return 1;
  }
  int status = 0;
  for (const FontJob& job : jobs) {
    RenderedFont font;
    if (!Render(library, job, font)) {
      status = 1;
      continue;
    }
    const std::string path = outputDir + "/" + job.outputName;
    std::ofstream file(path, std::ios::binary);
    file << GenerateSource(job, font);
    if (!file) {
      std::cerr << "cannot write " << path << "\n";
      status = 1;
    }
  }
  FT_Done_FreeType(library);
  return status;
}
