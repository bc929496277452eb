// BMP and ICO encoding: little-endian headers written field by field, rows padded to 4 bytes.
#include "tools/artwork/bitmap_files.h"

#include <stdexcept>
#include <string>

namespace artwork {
namespace {

struct ByteWriter {
  std::vector<std::uint8_t> bytes;

  void U8(std::uint32_t value) { bytes.push_back(static_cast<std::uint8_t>(value)); }
  void U16(std::uint32_t value) {
    U8(value);
    U8(value >> 8);
  }
  void U32(std::uint32_t value) {
    U16(value);
    U16(value >> 16);
  }
  void I32(std::int32_t value) { U32(static_cast<std::uint32_t>(value)); }
};

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kPaletteEntrySize = 4;  // blue, green, red, reserved
constexpr std::uint32_t kIconDirectorySize = 6;
constexpr std::uint32_t kIconEntrySize = 16;

int BitsPerPixel(const IndexedPicture& picture) {
  switch (picture.palette.size()) {
    case 2:
      return 1;
    case 16:
      return 4;
    case 256:
      return 8;
  }
  throw std::invalid_argument("palette must have 2, 16 or 256 colours");
}

// Bytes in one stored row of `width` pixels at `bits` per pixel: rows end on a 4-byte boundary.
std::uint32_t RowBytes(int width, int bits) {
  return (static_cast<std::uint32_t>(width) * bits + 31) / 32 * 4;
}

void CheckSize(const IndexedPicture& picture) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.indices.size() != static_cast<std::size_t>(picture.width) * picture.height)
    throw std::invalid_argument("picture size does not match its pixels");
}

// The 40-byte info header. `storedHeight` counts the AND mask's rows too in an icon.
void PutInfoHeader(ByteWriter& out, const IndexedPicture& picture, std::int32_t storedHeight,
                   std::uint32_t imageBytes) {
  out.U32(kInfoHeaderSize);                                    // biSize
  out.I32(picture.width);                                      // biWidth
  out.I32(storedHeight);                                       // biHeight (positive: bottom-up)
  out.U16(1);                                                  // biPlanes
  out.U16(static_cast<std::uint32_t>(BitsPerPixel(picture)));  // biBitCount
  out.U32(0);                                                  // biCompression: none
  out.U32(imageBytes);                                         // biSizeImage
  out.I32(kPixelsPerMetre);                                    // biXPelsPerMeter
  out.I32(kPixelsPerMetre);                                    // biYPelsPerMeter
  out.U32(0);                                                  // biClrUsed: the full palette
  out.U32(0);                                                  // biClrImportant: all of them
}

void PutPalette(ByteWriter& out, const IndexedPicture& picture) {
  for (rt::Pixel colour : picture.palette) {
    out.U8(colour);        // blue
    out.U8(colour >> 8);   // green
    out.U8(colour >> 16);  // red
    out.U8(0);             // reserved
  }
}

// The colour rows, bottom row first, each packed at the palette's bit depth and padded.
void PutColourRows(ByteWriter& out, const IndexedPicture& picture) {
  const int bits = BitsPerPixel(picture);
  const int perByte = 8 / bits;
  for (int y = picture.height - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(RowBytes(picture.width, bits), 0);
    for (int x = 0; x < picture.width; ++x) {
      const std::uint8_t index = picture.indices[static_cast<std::size_t>(y) * picture.width + x];
      if (index >= picture.palette.size()) throw std::invalid_argument("index past the palette");
      row[x / perByte] |= static_cast<std::uint8_t>(index << (8 - bits * (x % perByte + 1)));
    }
    out.bytes.insert(out.bytes.end(), row.begin(), row.end());
  }
}

// The AND mask, bottom row first: a set bit lets the screen show through.
void PutMaskRows(ByteWriter& out, const IconImage& image) {
  const IndexedPicture& picture = image.colours;
  for (int y = picture.height - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(RowBytes(picture.width, 1), 0);
    for (int x = 0; x < picture.width && !image.transparent.empty(); ++x) {
      if (image.transparent[static_cast<std::size_t>(y) * picture.width + x])
        row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    out.bytes.insert(out.bytes.end(), row.begin(), row.end());
  }
}

std::uint32_t IconImageBytes(const IndexedPicture& picture) {
  return kInfoHeaderSize + kPaletteEntrySize * static_cast<std::uint32_t>(picture.palette.size()) +
         (RowBytes(picture.width, BitsPerPixel(picture)) + RowBytes(picture.width, 1)) *
             static_cast<std::uint32_t>(picture.height);
}

}  // namespace

std::vector<std::uint8_t> EncodeBmp8(const IndexedPicture& picture) {
  CheckSize(picture);
  if (picture.palette.size() != 256) throw std::invalid_argument("BMP needs a 256-colour palette");
  const std::uint32_t pixelOffset = kFileHeaderSize + kInfoHeaderSize + 256 * kPaletteEntrySize;
  const std::uint32_t imageBytes = RowBytes(picture.width, 8) * picture.height;
  ByteWriter out;
  out.U8('B');  // bfType
  out.U8('M');
  out.U32(pixelOffset + imageBytes);  // bfSize: the whole file
  out.U16(0);                         // bfReserved1
  out.U16(0);                         // bfReserved2
  out.U32(pixelOffset);               // bfOffBits: where the pixel rows start
  PutInfoHeader(out, picture, picture.height, imageBytes);
  PutPalette(out, picture);
  PutColourRows(out, picture);
  return out.bytes;
}

std::vector<std::uint8_t> EncodeIco(std::span<const IconImage> images) {
  if (images.empty()) throw std::invalid_argument("an icon needs at least one image");
  ByteWriter out;
  out.U16(0);                                          // idReserved
  out.U16(1);                                          // idType: icon
  out.U16(static_cast<std::uint32_t>(images.size()));  // idCount
  std::uint32_t offset = kIconDirectorySize + kIconEntrySize * images.size();
  for (const IconImage& image : images) {
    const IndexedPicture& picture = image.colours;
    CheckSize(picture);
    if (picture.width > 256 || picture.height > 256)
      throw std::invalid_argument("icon images are at most 256 x 256");
    if (!image.transparent.empty() && image.transparent.size() != picture.indices.size())
      throw std::invalid_argument("icon mask size does not match its pixels");
    const int bits = BitsPerPixel(picture);
    out.U8(picture.width % 256);   // bWidth (0 means 256)
    out.U8(picture.height % 256);  // bHeight (0 means 256)
    out.U8(bits < 8 ? static_cast<std::uint32_t>(picture.palette.size()) : 0);  // bColorCount
    out.U8(0);                                                                  // bReserved
    out.U16(1);                                                                 // wPlanes
    out.U16(static_cast<std::uint32_t>(bits));                                  // wBitCount
    out.U32(IconImageBytes(picture));                                           // dwBytesInRes
    out.U32(offset);                                                            // dwImageOffset
    offset += IconImageBytes(picture);
  }
  for (const IconImage& image : images) {
    const IndexedPicture& picture = image.colours;
    const std::uint32_t colourBytes =
        RowBytes(picture.width, BitsPerPixel(picture)) * picture.height;
    const std::uint32_t maskBytes = RowBytes(picture.width, 1) * picture.height;
    PutInfoHeader(out, picture, picture.height * 2, colourBytes + maskBytes);
    PutPalette(out, picture);
    PutColourRows(out, picture);
    PutMaskRows(out, image);
  }
  return out.bytes;
}

IndexedPicture ToIndexed(const rt::Picture& picture, std::span<const rt::Pixel> palette) {
  IndexedPicture out{picture.width, picture.height, {palette.begin(), palette.end()}, {}};
  out.indices.reserve(picture.pixels.size());
  for (rt::Pixel pixel : picture.pixels) {
    if ((pixel & rt::kOpaque) == 0) {
      out.indices.push_back(0);
      continue;
    }
    std::size_t index = 0;
    while (index < palette.size() && palette[index] != pixel) ++index;
    if (index == palette.size()) {
      throw std::invalid_argument("colour " + std::to_string(pixel & 0xFFFFFF) +
                                  " is not in the palette");
    }
    out.indices.push_back(static_cast<std::uint8_t>(index));
  }
  return out;
}

rt::Picture ToPicture(const IndexedPicture& picture) {
  rt::Picture out{picture.width, picture.height, {}};
  out.pixels.reserve(picture.indices.size());
  for (std::uint8_t index : picture.indices) out.pixels.push_back(picture.palette[index]);
  return out;
}

}  // namespace artwork
