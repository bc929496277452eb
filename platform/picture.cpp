// The BMP and ICO reader: every offset and size is checked against the file before it is used.
#include "platform/picture.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace rt {
namespace {

// Reads little-endian fields at checked offsets; any read past the end sets `failed`.
struct Reader {
  std::span<const std::uint8_t> bytes;
  bool failed = false;

  bool has(std::size_t offset, std::size_t count) const {
    return offset <= bytes.size() && count <= bytes.size() - offset;
  }
  std::uint32_t u(std::size_t offset, int width) {
    if (!has(offset, static_cast<std::size_t>(width))) {
      failed = true;
      return 0;
    }
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[offset + i];
    return value;
  }
  std::uint16_t u16(std::size_t offset) { return static_cast<std::uint16_t>(u(offset, 2)); }
  std::uint32_t u32(std::size_t offset) { return u(offset, 4); }
  std::int32_t i32(std::size_t offset) { return static_cast<std::int32_t>(u(offset, 4)); }
};

constexpr int kMaxSide = 16384;  // far above any picture of ours; keeps sizes sane

// Refuses the file: says why in `error` and answers false (the caller decides what follows).
bool Reject(std::string& error, const char* reason) {
  error = reason;
  return false;
}

std::size_t RowBytes(int width, int bitsPerPixel) {
  return ((static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32) * 4;
}

// Where a device-independent bitmap's parts lie in its file, every one checked to be inside.
struct DibLayout {
  int width = 0, height = 0, bits = 0;
  bool topDown = false;
  std::vector<Pixel> palette;
  std::size_t colourStart = 0, rowBytes = 0;    // the colour rows, in stored order
  bool masked = false;                          // an icon's AND mask follows them:
  std::size_t maskStart = 0, maskRowBytes = 0;  // where it starts and its row length
};

// Reads the layout of the bitmap whose info header starts at `header` inside `file`.
// `pixelOffset` is where the colour rows start, or 0 for "right after the palette".
// An icon image (`iconImage`) has a 1-bit AND mask after its colour rows that marks transparent
// pixels, and its header height counts both.
bool ReadLayout(std::span<const std::uint8_t> file, std::size_t header, bool iconImage,
                std::size_t pixelOffset, DibLayout& dib, std::string& error) {
  Reader r{file};
  const std::uint32_t headerSize = r.u32(header);
  if (r.failed || headerSize < 40 || !r.has(header, headerSize))
    return Reject(error, "bitmap info header is truncated or too small");
  const std::int32_t width = r.i32(header + 4);
  std::int32_t height = r.i32(header + 8);
  const std::uint16_t planes = r.u16(header + 12);
  const std::uint16_t bits = r.u16(header + 14);
  const std::uint32_t compression = r.u32(header + 16);
  std::uint32_t colours = r.u32(header + 32);
  if (planes != 1) return Reject(error, "bitmap must have one plane");
  if (compression != 0) return Reject(error, "compressed bitmaps are not supported");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
    return Reject(error, "unsupported bits per pixel");
  dib.topDown = false;
  if (height < 0) {
    if (iconImage || height == std::numeric_limits<std::int32_t>::min())
      return Reject(error, "bad bitmap height");
    dib.topDown = true;
    height = -height;
  }
  if (iconImage) {
    if (height % 2 != 0) return Reject(error, "icon image height must count the mask rows");
    height /= 2;
  }
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
    return Reject(error, "bitmap size out of range");
  dib.width = width;
  dib.height = height;
  dib.bits = bits;

  const std::size_t paletteAt = header + headerSize;
  std::size_t paletteCount = 0;
  if (bits <= 8) {
    const std::uint32_t full = 1u << bits;
    if (colours > full) return Reject(error, "palette larger than the bit depth allows");
    paletteCount = colours == 0 ? full : colours;
  }
  if (!r.has(paletteAt, paletteCount * 4)) return Reject(error, "palette is truncated");
  dib.palette.resize(paletteCount);
  for (std::size_t i = 0; i < paletteCount; ++i) {
    const std::size_t at = paletteAt + i * 4;
    dib.palette[i] = Rgb(file[at + 2], file[at + 1], file[at]);
  }

  dib.colourStart = pixelOffset != 0 ? pixelOffset : paletteAt + paletteCount * 4;
  dib.rowBytes = RowBytes(width, bits);
  dib.maskRowBytes = RowBytes(width, 1);
  const std::size_t colourBytes = dib.rowBytes * static_cast<std::size_t>(height);
  if (!r.has(dib.colourStart, colourBytes)) return Reject(error, "pixel data is truncated");
  dib.masked = iconImage;
  dib.maskStart = dib.colourStart + colourBytes;
  if (iconImage && !r.has(dib.maskStart, dib.maskRowBytes * static_cast<std::size_t>(height)))
    return Reject(error, "icon mask is truncated");
  return true;
}

// Decodes the bitmap laid out as `dib` into 32-bit pixels.
bool DecodeDib(std::span<const std::uint8_t> file, const DibLayout& dib, Picture& out,
               std::string& error) {
  const int width = dib.width, height = dib.height, bits = dib.bits;
  const std::vector<Pixel>& palette = dib.palette;
  // Built apart and moved in at the end, so a file that fails halfway leaves `out` as it was;
  // written once in order, never filled first.
  Picture decoded{width, height, {}, true};
  decoded.pixels.reserve(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const int stored = dib.topDown ? y : height - 1 - y;
    const std::uint8_t* row = file.data() + dib.colourStart + dib.rowBytes * stored;
    const std::uint8_t* mask = file.data() + dib.maskStart + dib.maskRowBytes * stored;
    for (int x = 0; x < width; ++x) {
      Pixel p = 0;
      if (bits == 8) {
        if (row[x] >= palette.size()) return Reject(error, "pixel refers past the palette");
        p = palette[row[x]];
      } else if (bits < 8) {
        const int perByte = 8 / bits;
        const int shift = 8 - bits * (x % perByte + 1);
        const unsigned index = (row[x / perByte] >> shift) & ((1u << bits) - 1);
        if (index >= palette.size()) return Reject(error, "pixel refers past the palette");
        p = palette[index];
      } else {
        const std::uint8_t* px = row + static_cast<std::size_t>(x) * (bits / 8);
        p = Rgb(px[2], px[1], px[0]);
      }
      if (dib.masked && ((mask[x / 8] >> (7 - x % 8)) & 1)) {
        p = 0;
        decoded.opaque = false;
      }
      decoded.pixels.push_back(p);
    }
  }
  out = std::move(decoded);
  return true;
}

// The BMP file header: where the info header and the colour rows start.
bool ReadFileHeader(std::span<const std::uint8_t> file, std::size_t& pixelOffset,
                    std::string& error) {
  Reader r{file};
  if (!r.has(0, 14) || file[0] != 'B' || file[1] != 'M')
    return Reject(error, "not a BMP file (no 'BM' signature)");
  pixelOffset = r.u32(10);
  if (pixelOffset < 14 + 40 || pixelOffset > file.size())
    return Reject(error, "BMP pixel offset out of range");
  return true;
}

}  // namespace

bool DecodeBmp(std::span<const std::uint8_t> file, Picture& out, std::string& error) {
  std::size_t pixelOffset = 0;
  DibLayout dib;
  return ReadFileHeader(file, pixelOffset, error) &&
         ReadLayout(file, 14, false, pixelOffset, dib, error) && DecodeDib(file, dib, out, error);
}

bool ViewBmp(std::span<const std::uint8_t> file, Picture& out, std::string& error) {
  std::size_t pixelOffset = 0;
  DibLayout dib;
  if (!ReadFileHeader(file, pixelOffset, error) ||
      !ReadLayout(file, 14, false, pixelOffset, dib, error))
    return false;
  if (dib.bits != 8) return DecodeDib(file, dib, out, error);
  // Checked once here, so drawing may look every index up without a test; a full palette (the
  // built-in pictures have one) covers every index.
  const std::uint8_t* rows = file.data() + dib.colourStart;
  if (dib.palette.size() < 256)
    for (int y = 0; y < dib.height; ++y)
      for (int x = 0; x < dib.width; ++x)
        if (rows[dib.rowBytes * y + x] >= dib.palette.size())
          return Reject(error, "pixel refers past the palette");
  const auto stride = static_cast<std::ptrdiff_t>(dib.rowBytes);
  out = Picture{dib.width, dib.height, {}, true};
  out.indices = dib.topDown ? rows : rows + stride * (dib.height - 1);
  out.indexStride = dib.topDown ? stride : -stride;
  out.palette = std::move(dib.palette);
  return true;
}

bool DecodeIco(std::span<const std::uint8_t> file, int wantedBitsPerPixel, Picture& out,
               std::string& error) {
  Reader r{file};
  if (!r.has(0, 6) || r.u16(0) != 0 || r.u16(2) != 1) return Reject(error, "not an ICO file");
  const int count = r.u16(4);
  if (count == 0) return Reject(error, "ICO file holds no image");
  if (!r.has(6, static_cast<std::size_t>(count) * 16))
    return Reject(error, "ICO directory is truncated");
  int best = -1;
  int bestBits = 0;
  for (int i = 0; i < count; ++i) {
    const std::size_t entry = 6 + static_cast<std::size_t>(i) * 16;
    const std::uint32_t offset = r.u32(entry + 12);
    int bits = r.u16(entry + 6);
    if (bits == 0) bits = r.has(offset, 16) ? r.u16(offset + 14) : 0;  // some writers leave it 0
    const bool better =
        best < 0 || std::abs(bits - wantedBitsPerPixel) < std::abs(bestBits - wantedBitsPerPixel) ||
        (std::abs(bits - wantedBitsPerPixel) == std::abs(bestBits - wantedBitsPerPixel) &&
         bits > bestBits);
    if (better) {
      best = i;
      bestBits = bits;
    }
  }
  const std::size_t entry = 6 + static_cast<std::size_t>(best) * 16;
  const std::uint32_t size = r.u32(entry + 8);
  const std::uint32_t offset = r.u32(entry + 12);
  if (!r.has(offset, size) || size < 40) return Reject(error, "ICO image lies outside the file");
  const std::span<const std::uint8_t> image = file.subspan(offset, size);
  DibLayout dib;
  return ReadLayout(image, 0, true, 0, dib, error) && DecodeDib(image, dib, out, error);
}

}  // namespace rt
