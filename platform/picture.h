// Pictures, and the small BMP and ICO reader that turns the built-in files into them.
#pragma once

#include <cstddef>
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

// A picture, rows top-down. A decoded one holds its pixels; one read in place (ViewBmp) keeps
// its 8-bit palette indices inside the file it came from, which must outlive it: the built-in
// 800 x 600 background then costs no decoding and no 1.9 MB of fresh memory at every start.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<Pixel> pixels;  // width * height, when decoded
  bool opaque = false;        // no transparent pixel: may be copied without looking at alpha
  // When read in place: the top row's indices, the step from a row to the one below it
  // (negative for a file stored bottom-up), and colours for every index that occurs.
  const std::uint8_t* indices = nullptr;
  std::ptrdiff_t indexStride = 0;
  std::vector<Pixel> palette{};

  bool empty() const { return width == 0 || height == 0; }
  bool indexed() const { return indices != nullptr; }
  const std::uint8_t* indexRow(int y) const { return indices + y * indexStride; }
  Pixel at(int x, int y) const {
    return indexed() ? palette[indexRow(y)[x]] : pixels[static_cast<std::size_t>(y) * width + x];
  }
};

// Reads an uncompressed BMP (1, 4, 8, 24 or 32 bits per pixel, 40-byte or larger info header,
// bottom-up or top-down). Returns false with a reason in `error` for anything malformed or
// truncated; never reads past the end of `file`.
bool DecodeBmp(std::span<const std::uint8_t> file, Picture& out, std::string& error);

// Like DecodeBmp, but an 8-bit picture is read in place: `out` points into `file`, which must
// outlive it. Other depths are decoded.
bool ViewBmp(std::span<const std::uint8_t> file, Picture& out, std::string& error);

// Reads the image of an ICO file whose colour depth is closest to `wantedBitsPerPixel` (the
// deepest one on a tie), applying its AND mask as transparency. Same error rules as DecodeBmp.
bool DecodeIco(std::span<const std::uint8_t> file, int wantedBitsPerPixel, Picture& out,
               std::string& error);

}  // namespace rt
