// PNG writing without zlib: the image data goes into stored (uncompressed) deflate blocks.
#include "tools/png_writer.h"

#include <algorithm>
#include <array>
#include <fstream>

namespace tools {
namespace {

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutChunk(std::vector<std::uint8_t>& out, const char type[4],
              const std::vector<std::uint8_t>& data) {
  PutBig32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBig32(out, Crc32(out.data() + typeAt, data.size() + 4));
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const rt::Picture& picture) {
  bool alpha = false;
  for (rt::Pixel p : picture.pixels) alpha |= (p >> 24) != 0xFF;
  const int channels = alpha ? 4 : 3;

  std::vector<std::uint8_t> raw;  // filter byte 0, then the row's samples
  raw.reserve(static_cast<std::size_t>(picture.height) * (1 + picture.width * channels));
  for (int y = 0; y < picture.height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < picture.width; ++x) {
      const rt::Pixel p = picture.at(x, y);
      raw.push_back(static_cast<std::uint8_t>(p >> 16));
      raw.push_back(static_cast<std::uint8_t>(p >> 8));
      raw.push_back(static_cast<std::uint8_t>(p));
      if (alpha) raw.push_back(static_cast<std::uint8_t>(p >> 24));
    }
  }

  std::vector<std::uint8_t> zlib = {0x78, 0x01};  // deflate, 32K window, no preset dictionary
  std::size_t at = 0;
  do {
    const std::size_t block = std::min<std::size_t>(65535, raw.size() - at);
    const bool last = at + block == raw.size();
    zlib.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
    zlib.push_back(static_cast<std::uint8_t>(block));
    zlib.push_back(static_cast<std::uint8_t>(block >> 8));
    zlib.push_back(static_cast<std::uint8_t>(~block));
    zlib.push_back(static_cast<std::uint8_t>(~block >> 8));
    zlib.insert(zlib.end(), raw.begin() + at, raw.begin() + at + block);
    at += block;
  } while (at < raw.size());
  std::uint32_t a = 1, b = 0;  // Adler-32 of the uncompressed data
  for (std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(zlib, (b << 16) | a);

  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutBig32(header, static_cast<std::uint32_t>(picture.width));
  PutBig32(header, static_cast<std::uint32_t>(picture.height));
  header.insert(header.end(), {8, static_cast<std::uint8_t>(alpha ? 6 : 2), 0, 0, 0});
  PutChunk(out, "IHDR", header);
  PutChunk(out, "IDAT", zlib);
  PutChunk(out, "IEND", {});
  return out;
}

bool WritePng(const std::string& path, const rt::Picture& picture, std::string& error) {
  const std::vector<std::uint8_t> bytes = EncodePng(picture);
  std::ofstream file(path, std::ios::binary);
  if (!file.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()))) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace tools
