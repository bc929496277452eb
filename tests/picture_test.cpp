// The picture reader: BMP and ICO decoding, and 8-bit bitmaps read in place.
#include "platform/picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "platform/forms.h"

namespace {

std::vector<std::uint8_t> Bytes(std::span<const std::uint8_t> span) {
  return {span.begin(), span.end()};
}

TEST(PictureReader, ReadsTheBuiltInPictures) {
  rt::Picture picture;
  std::string error;
  ASSERT_TRUE(rt::DecodeBmp(assets::BackgroundBmp(), picture, error)) << error;
  EXPECT_EQ(picture.width, 800);
  EXPECT_EQ(picture.height, 600);
  ASSERT_TRUE(rt::DecodeBmp(assets::DiskBmp(), picture, error)) << error;
  EXPECT_EQ(picture.width, 134);
  EXPECT_EQ(picture.height, 120);
  for (auto ico : {assets::ProgramIcon(), assets::CreatureIcon()})
    for (int bits : {4, 8}) {
      ASSERT_TRUE(rt::DecodeIco(ico, bits, picture, error)) << error;
      EXPECT_EQ(picture.width, 32);
      EXPECT_EQ(picture.height, 32);
    }
}

TEST(PictureReader, RejectsEveryTruncationAndSurvivesDamage) {
  for (auto file :
       {Bytes(assets::DiskBmp()), Bytes(assets::ProgramIcon()), Bytes(assets::CreatureIcon())}) {
    const bool isBmp = file[0] == 'B';
    auto decode = [&](const std::vector<std::uint8_t>& bytes, std::string& error) {
      rt::Picture picture;
      // A heap copy of exactly this size, so the sanitizers catch any read past the end.
      const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size() + 1]);
      std::copy(bytes.begin(), bytes.end(), exact.get());
      const std::span<const std::uint8_t> span(exact.get(), bytes.size());
      if (!isBmp) return rt::DecodeIco(span, 8, picture, error);
      std::string viewError;
      const bool viewed = rt::ViewBmp(span, picture, viewError);
      const bool decoded = rt::DecodeBmp(span, picture, error);
      EXPECT_EQ(viewed, decoded) << viewError << " / " << error;
      return decoded;
    };
    for (std::size_t size = 0; size < file.size(); size += (size < 200 ? 1 : 97)) {
      std::string error;
      EXPECT_FALSE(decode({file.begin(), file.begin() + static_cast<long>(size)}, error))
          << "size " << size;
      EXPECT_FALSE(error.empty());
    }
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
      auto damaged = file;
      for (int k = 0; k < 4; ++k)
        damaged[random() % std::min<std::size_t>(damaged.size(), 80)] =
            static_cast<std::uint8_t>(random());
      std::string error;
      decode(damaged, error);  // may succeed or fail; must not read out of bounds
    }
  }
}

// A small 8-bit BMP, bottom-up, with row padding: 3 x 2 pixels.
std::vector<std::uint8_t> TinyBmp() {
  std::vector<std::uint8_t> f = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 14 + 40 + 8, 0, 0, 0, 40,
                                 0,   0,   0, 3, 0, 0, 0, 2, 0, 0, 0,           1, 0, 8, 0};
  f.resize(14 + 40, 0);
  f[14 + 32] = 2;  // two palette entries
  for (std::uint8_t v : {0x10, 0x20, 0x30, 0, 0xFF, 0xEE, 0xDD, 0}) f.push_back(v);  // BGRx
  for (std::uint8_t v : {1, 0, 1, 0}) f.push_back(v);  // bottom row, padded to 4 bytes
  for (std::uint8_t v : {0, 1, 1, 0}) f.push_back(v);  // top row
  return f;
}

TEST(PictureReader, BottomUpRowsAndPalette) {
  rt::Picture picture;
  std::string error;
  ASSERT_TRUE(rt::DecodeBmp(TinyBmp(), picture, error)) << error;
  const rt::Pixel a = rt::Rgb(0x30, 0x20, 0x10), b = rt::Rgb(0xDD, 0xEE, 0xFF);
  EXPECT_EQ(picture.pixels, (std::vector<rt::Pixel>{a, b, b, b, a, b}));
  EXPECT_TRUE(picture.opaque);
  auto bad = TinyBmp();
  bad[14 + 40 + 8 + 4 + 2] = 2;  // the last pixel refers past the two palette entries
  EXPECT_FALSE(rt::DecodeBmp(bad, picture, error));
  // A file that fails halfway leaves the picture as it was.
  EXPECT_EQ(picture.pixels, (std::vector<rt::Pixel>{a, b, b, b, a, b}));
}

// Every pixel of a picture, whichever way it holds them.
std::vector<rt::Pixel> AllPixels(const rt::Picture& picture) {
  std::vector<rt::Pixel> all;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) all.push_back(picture.at(x, y));
  return all;
}

// TinyBmp stored top-down: the same picture.
std::vector<std::uint8_t> TinyTopDownBmp() {
  auto f = TinyBmp();
  f[14 + 8] = 0xFE;  // height -2
  for (int i = 1; i < 4; ++i) f[14 + 8 + i] = 0xFF;
  std::swap_ranges(f.end() - 8, f.end() - 4, f.end() - 4);
  return f;
}

TEST(PictureReader, EightBitPicturesAreReadInPlaceWithTheSamePixels) {
  const std::vector<std::uint8_t> tiny = TinyBmp(), topDown = TinyTopDownBmp();
  for (std::span<const std::uint8_t> file :
       {std::span<const std::uint8_t>(tiny), std::span<const std::uint8_t>(topDown),
        assets::BackgroundBmp(), assets::DiskBmp()}) {
    rt::Picture decoded, viewed;
    std::string error;
    ASSERT_TRUE(rt::DecodeBmp(file, decoded, error)) << error;
    ASSERT_TRUE(rt::ViewBmp(file, viewed, error)) << error;
    EXPECT_TRUE(viewed.indexed());
    EXPECT_TRUE(viewed.pixels.empty());  // nothing decoded, nothing copied
    EXPECT_GE(viewed.indices, file.data());
    EXPECT_LT(viewed.indices, file.data() + file.size());
    EXPECT_TRUE(viewed.opaque);
    EXPECT_EQ(viewed.width, decoded.width);
    EXPECT_EQ(viewed.height, decoded.height);
    EXPECT_EQ(AllPixels(viewed), decoded.pixels) << decoded.width << "x" << decoded.height;
  }
}

TEST(PictureReader, ReadingInPlaceChecksIndicesAndDecodesOtherDepths) {
  auto bad = TinyBmp();
  bad[14 + 40 + 8 + 4 + 2] = 2;  // the last pixel refers past the two palette entries
  rt::Picture picture;
  std::string error;
  const auto good = TinyBmp();
  ASSERT_TRUE(rt::ViewBmp(good, picture, error));
  const rt::Picture before = picture;
  EXPECT_FALSE(rt::ViewBmp(bad, picture, error));
  EXPECT_EQ(error, "pixel refers past the palette");
  EXPECT_EQ(picture.indices, before.indices);  // left as it was
  // A 24-bit picture has no palette to look up: it is decoded.
  std::vector<std::uint8_t> deep = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                                    0,   0,   0, 1, 0, 0, 0, 1, 0, 0, 0,  1, 0, 24, 0};
  deep.resize(54, 0);
  for (std::uint8_t v : {0x30, 0x20, 0x10, 0}) deep.push_back(v);
  ASSERT_TRUE(rt::ViewBmp(deep, picture, error)) << error;
  EXPECT_FALSE(picture.indexed());
  EXPECT_EQ(picture.pixels, std::vector<rt::Pixel>{rt::Rgb(0x10, 0x20, 0x30)});
}

// A picture read in place draws exactly like its decoded twin, at natural size and stretched
// both ways, through clips that cut it at odd places.
TEST(PictureReader, InPlacePicturesDrawLikeDecodedOnes) {
  rt::Picture decoded, viewed;
  std::string error;
  ASSERT_TRUE(rt::DecodeBmp(assets::DiskBmp(), decoded, error));
  ASSERT_TRUE(rt::ViewBmp(assets::DiskBmp(), viewed, error));
  const rt::PixelRect area{3, 5, 301, 257};
  for (auto [box, stretch] : {std::pair{rt::PixelRect{10, 20, 134, 120}, false},
                              std::pair{rt::PixelRect{-7, 11, 134, 47}, true},
                              std::pair{rt::PixelRect{40, -3, 271, 251}, true},
                              std::pair{rt::PixelRect{9, 9, 61, 130}, true}}) {
    for (const rt::PixelRect clip : {area, rt::PixelRect{50, 40, 33, 17}}) {
      std::vector<rt::Pixel> a(static_cast<std::size_t>(area.area()), 7), b = a;
      rt::Canvas ca{a.data(), area.width, area, clip}, cb{b.data(), area.width, area, clip};
      rt::DrawPicture(ca, decoded, box, stretch);
      rt::DrawPicture(cb, viewed, box, stretch);
      EXPECT_EQ(a, b) << box.x << "," << box.y << " " << box.width << "x" << box.height;
      EXPECT_NE(a, std::vector<rt::Pixel>(a.size(), 7));  // something was drawn
    }
  }
}

}  // namespace
