// Decoded pictures and the small BMP and ICO reader that turns the built-in files into them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace rt {

// One pixel as 0xAARRGGBB; alpha is 0 (transparent) or 255 (opaque).
using Pixel = std::uint32_t;
constexpr Pixel kOpaque = 0xFF000000u;

constexpr Pixel Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return kOpaque | (Pixel{r} << 16) | (Pixel{g} << 8) | Pixel{b};
}

// A decoded picture: rows top-down, width * height pixels.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<Pixel> pixels;
  bool opaque = false;  // no transparent pixel: may be copied without looking at alpha

  bool empty() const { return width == 0 || height == 0; }
  Pixel at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Reads an uncompressed BMP (1, 4, 8, 24 or 32 bits per pixel, 40-byte or larger info header,
// bottom-up or top-down). Returns false with a reason in `error` for anything malformed or
// truncated; never reads past the end of `file`.
bool DecodeBmp(std::span<const std::uint8_t> file, Picture& out, std::string& error);

// Reads the image of an ICO file whose colour depth is closest to `wantedBitsPerPixel` (the
// deepest one on a tie), applying its AND mask as transparency. Same error rules as DecodeBmp.
bool DecodeIco(std::span<const std::uint8_t> file, int wantedBitsPerPixel, Picture& out,
               std::string& error);

}  // namespace rt
