// Draws sample text in both built-in fonts into a PNG, to check the generated fonts by eye.
// Usage: quietglass-fontpreview OUTPUT.png [SCALE]
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/canvas.h"
#include "platform/font.h"
#include "tools/png_writer.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: " << argv[0] << " OUTPUT.png [SCALE]\n";
    return 2;
  }
  const int scale = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  const rt::Pixel background = rt::Rgb(192, 192, 192), ink = rt::Rgb(0, 0, 0);
  const std::string ascii = [] {
    std::string s;
    for (char c = 32; c < 127; ++c) s += c;
    return s;
  }();
  const std::string advice =
      "For best results (and to prevent dithering on the purple background), your display "
      "should be running in 'high color' or greater. 256 color mode just wont cut it. Anyway, no "
      "self respecting ex-Orvel owner would been seen dead with only 256 colors!";

  constexpr int kWidth = 560, kHeight = 300;
  rt::Picture picture{kWidth, kHeight, std::vector<rt::Pixel>(kWidth * kHeight, background)};
  const rt::PixelRect all{0, 0, kWidth, kHeight};
  const auto draw = [&](int x, int y, const rt::BitmapFont& font, const std::string& text,
                        int underline = -1) {
    rt::Canvas canvas{picture.pixels.data(), kWidth, all, all};
    rt::DrawText(canvas, x, y, font, text, ink, underline);
  };

  int y = 4;
  draw(4, y, rt::kTitleFont, "Quietglass");
  y += rt::kTitleFont.lineHeight + 4;
  draw(4, y, rt::kTitleFont, ascii.substr(0, 48));
  y += rt::kTitleFont.lineHeight;
  draw(4, y, rt::kTitleFont, ascii.substr(48) + "\xC2\xA9");
  y += rt::kTitleFont.lineHeight + 6;
  draw(4, y, rt::kDialogFont, ascii);
  y += rt::kDialogFont.lineHeight;
  draw(4, y, rt::kDialogFont, "Bolted together in 10 minutes by Pellwin  \xC2\xA9 email: website:");
  y += rt::kDialogFont.lineHeight;
  const rt::AccessKeyCaption ok = rt::StripAccessKey("&OK");
  draw(4, y, rt::kDialogFont, ok.text, ok.keyIndex);
  draw(40, y, rt::kDialogFont, "Missing: \xE2\x82\xAC, bad byte: \xFF.");
  y += rt::kDialogFont.lineHeight + 6;
  // The advice text as the dialog shows it: centred in a 193-pixel column.
  constexpr int kColumn = 193;
  for (const std::string& line : rt::WrapText(rt::kDialogFont, advice, kColumn)) {
    draw(4 + (kColumn - rt::TextWidth(rt::kDialogFont, line)) / 2, y, rt::kDialogFont, line);
    y += rt::kDialogFont.lineHeight;
  }
  for (int row = y - 6 * rt::kDialogFont.lineHeight; row < y; ++row) {
    picture.pixels[row * kWidth + 3] = rt::Rgb(128, 0, 128);
    picture.pixels[row * kWidth + 4 + kColumn] = rt::Rgb(128, 0, 128);
  }

  rt::Picture scaled{kWidth * scale, kHeight * scale, {}};
  scaled.pixels.resize(static_cast<std::size_t>(scaled.width) * scaled.height);
  for (int row = 0; row < scaled.height; ++row) {
    for (int col = 0; col < scaled.width; ++col) {
      scaled.pixels[row * scaled.width + col] = picture.at(col / scale, row / scale);
    }
  }
  std::string error;
  if (!tools::WritePng(argv[1], scaled, error)) {
    std::cerr << error << "\n";
    return 1;
  }
  return 0;
}
