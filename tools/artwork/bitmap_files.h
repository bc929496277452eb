// Writers for the two picture formats the program embeds: 8-bit BMP files and ICO files.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/picture.h"

namespace artwork {

// A palette picture: rows top-down, one palette index per pixel.
struct IndexedPicture {
  int width = 0;
  int height = 0;
  std::vector<rt::Pixel> palette;     // 2, 16 or 256 opaque colours
  std::vector<std::uint8_t> indices;  // width * height entries
};

// One image of an icon: its colours and which pixels are transparent (the AND mask).
struct IconImage {
  IndexedPicture colours;
  std::vector<bool> transparent;  // width * height flags, or empty for a fully opaque image
};

// Resolution written into every bitmap header: 72 dots per inch.
constexpr std::int32_t kPixelsPerMetre = 2834;

// An uncompressed bitmap file with an 8-bit palette (256 entries), rows stored bottom-up.
std::vector<std::uint8_t> EncodeBmp8(const IndexedPicture& picture);

// An icon file holding `images` in order; each image's bit depth follows from its palette size
// (16 colours: 4 bits per pixel, 256 colours: 8 bits per pixel).
std::vector<std::uint8_t> EncodeIco(std::span<const IconImage> images);

// Turns a drawn picture into palette indices; every pixel's colour must be in `palette`, else
// throws std::invalid_argument. Transparent pixels (alpha 0) take index 0.
IndexedPicture ToIndexed(const rt::Picture& picture, std::span<const rt::Pixel> palette);

// The picture's colours again, for PNG previews.
rt::Picture ToPicture(const IndexedPicture& picture);

}  // namespace artwork
