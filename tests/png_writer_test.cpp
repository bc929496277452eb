// The PNG writer, checked by reading back what it writes.
#include "tools/png_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "platform/runtime.h"

namespace {

// A reader for what the writer emits: one PNG with one IDAT and fixed-Huffman or stored blocks.
struct Inflater {
  const std::vector<std::uint8_t>& in;
  std::size_t at;
  int bit = 0;

  unsigned Bits(int n) {  // least significant first
    unsigned v = 0;
    for (int i = 0; i < n; ++i, ++bit) {
      if (bit == 8) bit = 0, ++at;
      v |= ((in.at(at) >> bit) & 1u) << i;
    }
    return v;
  }
  unsigned Code(int n) {  // Huffman codes: most significant first
    unsigned v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | Bits(1);
    return v;
  }
  int Symbol() {
    unsigned v = Code(7);
    if (v <= 23) return 256 + static_cast<int>(v);
    v = (v << 1) | Bits(1);
    if (v >= 0x30 && v <= 0xBF) return static_cast<int>(v - 0x30);
    if (v >= 0xC0 && v <= 0xC7) return 280 + static_cast<int>(v - 0xC0);
    v = (v << 1) | Bits(1);
    return 144 + static_cast<int>(v - 0x190);
  }
  std::vector<std::uint8_t> Run() {
    static const int lengthBase[] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                     15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                     67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int distanceBase[] = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    std::vector<std::uint8_t> out;
    for (bool last = false; !last;) {
      last = Bits(1);
      const unsigned type = Bits(2);
      if (type == 0) {
        if (bit != 0) bit = 0, ++at;
        const unsigned length = in.at(at) | (in.at(at + 1) << 8);
        at += 4;
        for (unsigned k = 0; k < length; ++k) out.push_back(in.at(at++));
        continue;
      }
      EXPECT_EQ(type, 1u);
      for (int symbol; (symbol = Symbol()) != 256;) {
        if (symbol < 256) {
          out.push_back(static_cast<std::uint8_t>(symbol));
          continue;
        }
        const int l = symbol - 257;
        const int length =
            lengthBase[l] + static_cast<int>(Bits(l < 8 || l == 28 ? 0 : (l - 4) / 4));
        const int d = static_cast<int>(Code(5));
        const int distance = distanceBase[d] + static_cast<int>(Bits(d < 4 ? 0 : (d - 2) / 2));
        for (int k = 0; k < length; ++k) out.push_back(out.at(out.size() - distance));
      }
    }
    return out;
  }
};

rt::Picture ReadPng(const std::vector<std::uint8_t>& png) {
  auto big = [&](std::size_t i) {
    return (png.at(i) << 24) | (png.at(i + 1) << 16) | (png.at(i + 2) << 8) | png.at(i + 3);
  };
  const int width = big(16), height = big(20), channels = png.at(25) == 6 ? 4 : 3;
  const std::size_t idat = 8 + 12 + 13;
  EXPECT_EQ(std::string(png.begin() + idat + 4, png.begin() + idat + 8), "IDAT");
  Inflater inflater{png, idat + 8 + 2};
  const std::vector<std::uint8_t> raw = inflater.Run();
  rt::Picture picture{width, height, {}};
  EXPECT_EQ(raw.size(), static_cast<std::size_t>(height) * (1 + width * channels));
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = raw.data() + static_cast<std::size_t>(y) * (1 + width * channels);
    EXPECT_EQ(row[0], 0);  // no filter
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = row + 1 + x * channels;
      const std::uint32_t alpha = channels == 4 ? p[3] : 0xFF;
      picture.pixels.push_back((alpha << 24) | (p[0] << 16) | (p[1] << 8) | p[2]);
    }
  }
  return picture;
}

TEST(PngWriter, RoundTripsOddSizesAndAlpha) {
  rt::Picture flat{47, 33, std::vector<rt::Pixel>(47 * 33, rt::Rgb(1, 2, 3))};
  flat.pixels[5] = 0;  // one transparent pixel makes it RGBA
  rt::Picture noisy{1, 1, {rt::Rgb(200, 100, 50)}};
  rt::Picture wide{300, 2, {}};
  std::uint32_t seed = 1;
  for (int i = 0; i < 600; ++i)
    wide.pixels.push_back(rt::kOpaque | ((seed = seed * 1103515245 + 12345) >> 8));
  for (const rt::Picture& picture :
       {flat, noisy, wide, rt::LoadBuiltInPicture(assets::BackgroundBmp())}) {
    SCOPED_TRACE(testing::Message() << picture.width << "x" << picture.height);
    const auto png = tools::EncodePng(picture);
    EXPECT_EQ(png[25], picture.width == 47 ? 6 : 2);  // colour type: RGBA only when needed
    const rt::Picture back = ReadPng(png);
    EXPECT_EQ(back.width, picture.width);
    EXPECT_EQ(back.height, picture.height);
    for (int y = 0; y < picture.height; ++y)
      for (int x = 0; x < picture.width; ++x)
        ASSERT_EQ(back.at(x, y), picture.at(x, y)) << x << "," << y;
  }
  // The artwork is mostly flat: it shrinks to a small fraction of its raw size.
  EXPECT_LT(tools::EncodePng(rt::LoadBuiltInPicture(assets::BackgroundBmp())).size(),
            800u * 600 * 3 / 20);
}

}  // namespace
