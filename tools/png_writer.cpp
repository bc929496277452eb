// PNG writing without zlib: a small deflate of our own (LZ77 matches, fixed Huffman codes), which
// shrinks the mostly flat pictures of this program to a few kilobytes.
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

// Writes bits least significant first, as deflate packs them.
struct BitWriter {
  std::vector<std::uint8_t>& out;
  std::uint32_t buffer = 0;
  int count = 0;

  void Put(std::uint32_t bits, int width) {
    buffer |= bits << count;
    count += width;
    while (count >= 8) {
      out.push_back(static_cast<std::uint8_t>(buffer));
      buffer >>= 8;
      count -= 8;
    }
  }
  // Huffman codes go most significant bit first.
  void PutCode(std::uint32_t code, int width) {
    std::uint32_t reversed = 0;
    for (int i = 0; i < width; ++i) reversed |= ((code >> i) & 1) << (width - 1 - i);
    Put(reversed, width);
  }
  void Finish() {
    if (count > 0) out.push_back(static_cast<std::uint8_t>(buffer));
    buffer = 0;
    count = 0;
  }
};

// The fixed literal/length code of deflate for symbol 0-287.
void PutSymbol(BitWriter& bits, int symbol) {
  if (symbol < 144)
    bits.PutCode(0x30 + symbol, 8);
  else if (symbol < 256)
    bits.PutCode(0x190 + symbol - 144, 9);
  else if (symbol < 280)
    bits.PutCode(symbol - 256, 7);
  else
    bits.PutCode(0xC0 + symbol - 280, 8);
}

constexpr std::array<int, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                             15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                             67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<int, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<int, 30> kDistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<int, 30> kDistanceExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void PutMatch(BitWriter& bits, int length, int distance) {
  int l = 28;
  while (kLengthBase[l] > length) --l;
  PutSymbol(bits, 257 + l);
  bits.Put(static_cast<std::uint32_t>(length - kLengthBase[l]), kLengthExtra[l]);
  int d = 29;
  while (kDistanceBase[d] > distance) --d;
  bits.PutCode(static_cast<std::uint32_t>(d), 5);
  bits.Put(static_cast<std::uint32_t>(distance - kDistanceBase[d]), kDistanceExtra[d]);
}

// One fixed-Huffman block over all of `data`, with matches found through a hash of three bytes.
void Deflate(const std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& out) {
  constexpr int kWindow = 32768, kMaxLength = 258, kHashSize = 1 << 15, kChainLimit = 32;
  std::vector<int> head(kHashSize, -1), previous(data.size(), -1);
  auto hashAt = [&](std::size_t i) {
    return ((data[i] << 10) ^ (data[i + 1] << 5) ^ data[i + 2]) & (kHashSize - 1);
  };
  auto insert = [&](std::size_t i) {
    if (i + 2 >= data.size()) return;
    const int h = hashAt(i);
    previous[i] = head[h];
    head[h] = static_cast<int>(i);
  };
  BitWriter bits{out};
  bits.Put(1, 1);  // BFINAL
  bits.Put(1, 2);  // BTYPE 01: fixed Huffman codes
  std::size_t i = 0;
  while (i < data.size()) {
    int bestLength = 0, bestDistance = 0;
    if (i + 2 < data.size()) {
      const std::size_t limit = std::min<std::size_t>(kMaxLength, data.size() - i);
      int candidate = head[hashAt(i)];
      for (int tries = 0; candidate >= 0 && tries < kChainLimit;
           ++tries, candidate = previous[candidate]) {
        const std::size_t distance = i - static_cast<std::size_t>(candidate);
        if (distance > kWindow) break;
        std::size_t length = 0;
        while (length < limit && data[candidate + length] == data[i + length]) ++length;
        if (static_cast<int>(length) > bestLength) {
          bestLength = static_cast<int>(length);
          bestDistance = static_cast<int>(distance);
          if (length == limit) break;
        }
      }
    }
    if (bestLength >= 3) {
      PutMatch(bits, bestLength, bestDistance);
      for (int k = 0; k < bestLength; ++k) insert(i + k);
      i += static_cast<std::size_t>(bestLength);
    } else {
      PutSymbol(bits, data[i]);
      insert(i);
      ++i;
    }
  }
  PutSymbol(bits, 256);  // end of block
  bits.Finish();
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const rt::Picture& picture) {
  bool alpha = false;  // a picture read in place is opaque and has no pixels to look at
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
  Deflate(raw, zlib);
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
