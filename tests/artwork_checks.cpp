// Checks the committed pictures (assets/*.bmp, *.ico) against the artwork's fixed facts, reading
// the files with a small reader of its own, and round-trips the generator's writers through the
// runtime.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/picture.h"
#include "tools/artwork/bitmap_files.h"

namespace {

using Colour = std::uint32_t;  // 0xRRGGBB

constexpr Colour kPurple = 0x310031;
constexpr Colour kBlack = 0x000000;
constexpr Colour kWhite = 0xFFFFFF;
constexpr Colour kSalmonDark = 0xCEAD63;
constexpr Colour kSalmonLight = 0xFFAD9C;
constexpr Colour kGreyDark = 0x9C8C63;
constexpr Colour kGreyLight = 0x9C8C9C;

std::vector<std::uint8_t> ReadAsset(const std::string& name) {
  std::ifstream file(std::string(QG_ASSETS_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::uint32_t Le(const std::vector<std::uint8_t>& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes.at(at + i);
  return value;
}

// A palette picture as stored: palette entries and one index per pixel, rows top-down.
struct Stored {
  int width = 0;
  int height = 0;
  std::vector<Colour> palette;
  std::vector<std::uint8_t> indices;
  std::vector<bool> transparent;  // icons only

  std::uint8_t index(int x, int y) const { return indices.at(y * width + x); }
  Colour at(int x, int y) const { return palette.at(index(x, y)); }
};

// Reads a device-independent bitmap at `header`: palette, then rows bottom-up at 4 or 8 bits per
// pixel; an icon image has half its header height in colour rows and then the AND mask.
Stored ReadDib(const std::vector<std::uint8_t>& bytes, std::size_t header, std::size_t pixelsAt,
               bool icon) {
  Stored out;
  out.width = static_cast<int>(Le(bytes, header + 4, 4));
  out.height = static_cast<int>(Le(bytes, header + 8, 4)) / (icon ? 2 : 1);
  const int bits = static_cast<int>(Le(bytes, header + 14, 2));
  const std::size_t paletteAt = header + Le(bytes, header, 4);
  for (int i = 0; i < (1 << bits); ++i) out.palette.push_back(Le(bytes, paletteAt + 4 * i, 3));
  if (pixelsAt == 0) pixelsAt = paletteAt + 4 * out.palette.size();
  const std::size_t rowBytes = (out.width * bits + 31) / 32 * 4;
  const std::size_t maskRowBytes = (out.width + 31) / 32 * 4;
  const std::size_t maskAt = pixelsAt + rowBytes * out.height;
  for (int y = 0; y < out.height; ++y) {
    const std::size_t row = pixelsAt + rowBytes * (out.height - 1 - y);
    const std::size_t maskRow = maskAt + maskRowBytes * (out.height - 1 - y);
    for (int x = 0; x < out.width; ++x) {
      const std::uint8_t byte = bytes.at(row + x * bits / 8);
      out.indices.push_back(bits == 8 ? byte : (x % 2 == 0 ? byte >> 4 : byte & 0x0F));
      if (icon) out.transparent.push_back((bytes.at(maskRow + x / 8) >> (7 - x % 8)) & 1);
    }
  }
  return out;
}

Stored ReadBmp(const std::string& name) {
  const std::vector<std::uint8_t> bytes = ReadAsset(name);
  return ReadDib(bytes, 14, Le(bytes, 10, 4), false);
}

std::vector<Stored> ReadIco(const std::string& name) {
  const std::vector<std::uint8_t> bytes = ReadAsset(name);
  std::vector<Stored> images;
  for (std::uint32_t i = 0; i < Le(bytes, 4, 2); ++i)
    images.push_back(ReadDib(bytes, Le(bytes, 6 + 16 * i + 12, 4), 0, true));
  return images;
}

// The fixed dithers, in each picture's own coordinates.
Colour Salmon(int x, int y) {
  const bool dark =
      (y % 2 == 1 && x % 2 == 0) || (y % 4 == 2 && x % 4 == 1) || (y % 4 == 0 && x % 4 == 3);
  return dark ? kSalmonDark : kSalmonLight;
}
bool BluePosition(int x, int y) {
  return (y % 2 == 1 && x % 2 == 0) || (y % 4 == 0 && x % 4 == 1) || (y % 4 == 2 && x % 4 == 3);
}
Colour Blue(int x, int y) {
  return BluePosition(x, y) ? 0x003163 : 0x31319C;
}
Colour Dark(int x, int y) {
  if (!BluePosition(x, y)) return 0x313163;
  return y % 2 == 0 ? 0x003163 : 0x000063;
}
Colour Shutter(int x, int y) {
  return (y % 2 == 0 && x % 2 == 0) || (y % 4 == 1 && x % 4 == 3) ? kGreyLight : kGreyDark;
}
Colour Label(int, int) {
  return kWhite;
}
Colour Cut(int, int) {
  return kPurple;
}

struct Rect {
  int left, top, right, bottom;  // inclusive
  bool contains(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

std::string Where(int x, int y) {
  return "at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
}

// ---------------------------------------------------------------------------------------------
// File layout

struct BmpFacts {
  const char* name;
  std::uint32_t fileSize;
  int width;
  int height;
  std::uint32_t pixelBytes;
};

class BmpHeaders : public testing::TestWithParam<BmpFacts> {};

TEST_P(BmpHeaders, FieldsAndSize) {
  const BmpFacts& facts = GetParam();
  const std::vector<std::uint8_t> bytes = ReadAsset(facts.name);
  ASSERT_EQ(bytes.size(), facts.fileSize);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  EXPECT_EQ(Le(bytes, 2, 4), facts.fileSize);      // file size
  EXPECT_EQ(Le(bytes, 10, 4), 14u + 40u + 1024u);  // pixels after a full palette
  EXPECT_EQ(Le(bytes, 14, 4), 40u);                // info header size
  EXPECT_EQ(static_cast<int>(Le(bytes, 18, 4)), facts.width);
  EXPECT_EQ(static_cast<int>(Le(bytes, 22, 4)), facts.height);  // positive: bottom-up
  EXPECT_EQ(Le(bytes, 26, 2), 1u);                              // planes
  EXPECT_EQ(Le(bytes, 28, 2), 8u);                              // bits per pixel
  EXPECT_EQ(Le(bytes, 30, 4), 0u);                              // uncompressed
  EXPECT_EQ(Le(bytes, 34, 4), facts.pixelBytes);
  EXPECT_EQ(Le(bytes, 38, 4), 2834u);
  EXPECT_EQ(Le(bytes, 42, 4), 2834u);
  const std::uint32_t coloursUsed = Le(bytes, 46, 4);
  EXPECT_TRUE(coloursUsed == 0 || coloursUsed == 256);
  EXPECT_EQ(facts.fileSize - Le(bytes, 10, 4), facts.pixelBytes);
}

INSTANTIATE_TEST_SUITE_P(Artwork, BmpHeaders,
                         testing::Values(BmpFacts{"background.bmp", 481078, 800, 600, 480000},
                                         BmpFacts{"disk.bmp", 17398, 134, 120, 16320}));

// ---------------------------------------------------------------------------------------------
// Palette

TEST(ArtworkPalette, LayoutIsSharedAndFixed) {
  const Stored background = ReadBmp("background.bmp");
  const Stored disk = ReadBmp("disk.bmp");
  ASSERT_EQ(background.palette.size(), 256u);
  EXPECT_EQ(background.palette, disk.palette);
  const std::vector<Colour>& palette = background.palette;

  const std::array<Colour, 10> low = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
                                      0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
  const std::array<Colour, 10> high = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                                       0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(palette[i], low[i]) << "entry " << i;
    EXPECT_EQ(palette[246 + i], high[i]) << "entry " << 246 + i;
  }
  EXPECT_EQ(palette[10], 0x00DECEu);
  EXPECT_EQ(palette[20], 0x00DECEu);
  for (int i = 47; i <= 245; ++i) EXPECT_EQ(palette[i], kWhite) << "entry " << i;

  const std::set<Colour> levels = {0x00, 0x31, 0x52, 0x63, 0x8C, 0x9C, 0xAD, 0xCE, 0xDE, 0xFF};
  std::set<Colour> artwork;
  for (int i = 10; i <= 46; ++i) {
    for (int shift : {0, 8, 16}) EXPECT_TRUE(levels.count((palette[i] >> shift) & 0xFF)) << i;
    if (i != 20) {
      EXPECT_TRUE(artwork.insert(palette[i]).second) << "entry " << i << " repeats";
    }
  }
  EXPECT_EQ(artwork.size(), 36u);
}

TEST(ArtworkPalette, EntriesThePicturesUse) {
  const Stored background = ReadBmp("background.bmp");
  const Stored disk = ReadBmp("disk.bmp");
  std::set<int> used;
  for (const Stored* picture : {&background, &disk}) {
    for (std::uint8_t index : picture->indices) used.insert(index);
  }
  EXPECT_EQ(used.count(20), 0u) << "entry 20 is only a copy";
  EXPECT_EQ(background.index(568, 272), 0) << "the slot's black is the system black";
  EXPECT_EQ(disk.index(16, 58), 47) << "the label uses entry 47";
  for (int index : used) EXPECT_TRUE(index == 0 || (index >= 10 && index <= 47)) << index;
}

// ---------------------------------------------------------------------------------------------
// Disk picture

TEST(DiskPicture, ColourCounts) {
  const Stored disk = ReadBmp("disk.bmp");
  std::map<Colour, int> counts;
  for (int y = 0; y < disk.height; ++y) {
    for (int x = 0; x < disk.width; ++x) ++counts[disk.at(x, y)];
  }
  const std::map<Colour, int> expected = {{0xFFFFFF, 6848}, {0x31319C, 3037}, {0x003163, 2047},
                                          {0x9C8C63, 1720}, {0x313163, 1123}, {0x9C8C9C, 792},
                                          {0x000063, 449},  {0x310031, 64}};
  EXPECT_EQ(counts, expected);
}

struct DiskArea {
  const char* element;
  Rect box;
  Colour (*fill)(int x, int y);
};

// Every feature of the disk; a later row wins where two overlap.
const std::vector<DiskArea> kDiskAreas = {
    {"recess", {18, 0, 33, 1}, Dark},         {"recess", {14, 2, 33, 39}, Dark},
    {"recess", {16, 40, 35, 41}, Dark},       {"shutter", {34, 0, 103, 39}, Shutter},
    {"shutter", {36, 40, 101, 41}, Shutter},  {"shutter window", {75, 8, 88, 37}, Dark},
    {"cross mark", {6, 6, 7, 15}, Dark},      {"cross mark", {6, 8, 8, 8}, Dark},
    {"cross mark", {5, 9, 8, 9}, Dark},       {"cross mark", {4, 10, 9, 11}, Dark},
    {"small mark", {4, 110, 9, 113}, Dark},   {"label frame", {16, 52, 119, 53}, Dark},
    {"label frame", {14, 54, 17, 57}, Dark},  {"label frame", {118, 54, 121, 57}, Dark},
    {"label frame", {14, 58, 15, 119}, Dark}, {"label frame", {120, 58, 121, 119}, Dark},
    {"label", {18, 54, 117, 57}, Label},      {"label", {16, 58, 119, 119}, Label},
    {"cut corner", {0, 0, 3, 1}, Cut},        {"cut corner", {0, 2, 1, 3}, Cut},
    {"cut corner", {126, 0, 133, 1}, Cut},    {"cut corner", {128, 2, 133, 3}, Cut},
    {"cut corner", {130, 4, 133, 5}, Cut},    {"cut corner", {132, 6, 133, 7}, Cut},
    {"notch", {14, 0, 17, 1}, Cut},           {"notch", {104, 0, 105, 1}, Cut}};

TEST(DiskPicture, EveryElementAndTheBody) {
  const Stored disk = ReadBmp("disk.bmp");
  for (int y = 0; y < disk.height; ++y) {
    for (int x = 0; x < disk.width; ++x) {
      const char* element = "body";
      Colour (*fill)(int, int) = Blue;
      for (const DiskArea& area : kDiskAreas) {
        if (area.box.contains(x, y)) {
          element = area.element;
          fill = area.fill;
        }
      }
      ASSERT_EQ(disk.at(x, y), fill(x, y)) << element << " " << Where(x, y);
    }
  }
}

TEST(DiskPicture, ListedEdgePixels) {
  const Stored disk = ReadBmp("disk.bmp");
  EXPECT_EQ(disk.at(0, 0), kPurple);
  EXPECT_EQ(disk.at(4, 0), 0x31319Cu);
  EXPECT_EQ(disk.at(34, 0), kGreyLight);
  EXPECT_EQ(disk.at(16, 58), kWhite);
  // The cut corners step in by two columns every two rows.
  EXPECT_EQ(disk.at(2, 2), Blue(2, 2));
  EXPECT_EQ(disk.at(125, 0), Blue(125, 0));
  EXPECT_EQ(disk.at(131, 6), Blue(131, 6));
  EXPECT_EQ(disk.at(133, 8), Blue(133, 8));
}

// ---------------------------------------------------------------------------------------------
// Background picture

constexpr Rect kContent = {161, 166, 715, 431};
constexpr Rect kDrive = {560, 266, 715, 303};
constexpr Rect kSlot = {568, 272, 707, 279};
constexpr Rect kLight = {585, 294, 592, 295};
constexpr Rect kEject = {678, 288, 702, 295};
constexpr Rect kLogo = {200, 166, 364, 315};
constexpr Rect kText = {161, 344, 367, 431};

class BackgroundPicture : public testing::Test {
 protected:
  static void SetUpTestSuite() { picture_ = new Stored(ReadBmp("background.bmp")); }
  static void TearDownTestSuite() {
    delete picture_;
    picture_ = nullptr;
  }
  static const Stored& Bg() { return *picture_; }

  // Smallest box around every non-purple pixel inside `area`.
  static Rect InkBox(const Rect& area) {
    Rect box{area.right + 1, area.bottom + 1, area.left - 1, area.top - 1};
    for (int y = area.top; y <= area.bottom; ++y) {
      for (int x = area.left; x <= area.right; ++x) {
        if (Bg().at(x, y) == kPurple) continue;
        box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x),
               std::max(box.bottom, y)};
      }
    }
    return box;
  }

 private:
  static inline const Stored* picture_ = nullptr;
};

void ExpectSameBox(const Rect& actual, const Rect& expected) {
  EXPECT_EQ(actual.left, expected.left);
  EXPECT_EQ(actual.top, expected.top);
  EXPECT_EQ(actual.right, expected.right);
  EXPECT_EQ(actual.bottom, expected.bottom);
}

TEST_F(BackgroundPicture, EverythingOutsideTheContentBoxIsPurple) {
  for (int y = 0; y < 600; ++y) {
    for (int x = 0; x < 800; ++x) {
      if (!kContent.contains(x, y)) {
        ASSERT_EQ(Bg().at(x, y), kPurple) << Where(x, y);
      }
    }
  }
  ExpectSameBox(InkBox({0, 0, 799, 599}), kContent);
}

TEST_F(BackgroundPicture, ColourAndPurpleCounts) {
  std::set<int> entries;
  int purple = 0;
  for (int y = 0; y < 600; ++y) {
    for (int x = 0; x < 800; ++x) {
      entries.insert(Bg().index(x, y));
      purple += Bg().at(x, y) == kPurple;
    }
  }
  EXPECT_EQ(entries.size(), 33u);
  EXPECT_EQ(purple, 463750);
}

TEST_F(BackgroundPicture, DriveBodySlotAndLight) {
  for (int y = kDrive.top; y <= kDrive.bottom; ++y) {
    for (int x = kDrive.left; x <= kDrive.right; ++x) {
      if (kEject.contains(x, y)) continue;
      const Colour expected = kSlot.contains(x, y) || kLight.contains(x, y) ? kBlack : Salmon(x, y);
      ASSERT_EQ(Bg().at(x, y), expected) << Where(x, y);
    }
  }
  EXPECT_EQ(Bg().at(568, 272), kBlack);
  EXPECT_EQ(Bg().at(707, 279), kBlack);
  EXPECT_EQ(Bg().at(567, 272), Salmon(567, 272));
  EXPECT_EQ(Bg().at(708, 272), Salmon(708, 272));
  for (int x = 568; x <= 707; ++x) {
    EXPECT_EQ(Bg().at(x, 271), Salmon(x, 271)) << Where(x, 271);
    EXPECT_EQ(Bg().at(x, 280), Salmon(x, 280)) << Where(x, 280);
  }
  EXPECT_EQ(Bg().at(560, 266), kSalmonLight);
  EXPECT_EQ(Bg().at(561, 266), kSalmonDark);
  EXPECT_EQ(Bg().at(560, 267), kSalmonDark);
  // No outline: the pixels just outside the box are purple.
  EXPECT_EQ(Bg().at(559, 280), kPurple);
  EXPECT_EQ(Bg().at(716, 280), kPurple);
  EXPECT_EQ(Bg().at(600, 265), kPurple);
  EXPECT_EQ(Bg().at(600, 304), kPurple);
}

TEST_F(BackgroundPicture, EjectButtonOutlinePixelByPixel) {
  constexpr Colour kEjectLight = 0xCE8C63;
  constexpr Colour kEjectShadow = 0x9C5263;
  for (int y = kEject.top; y <= kEject.bottom; ++y) {
    for (int x = kEject.left; x <= kEject.right; ++x) {
      Colour expected = Salmon(x, y);  // inside and below the open bracket
      if (x == kEject.left || (x == kEject.right && y <= 291))
        expected = y % 2 == 0 ? kEjectLight : kEjectShadow;
      if (y == 288) expected = x % 2 == 0 ? kEjectLight : kGreyDark;
      if (y == 289) expected = x % 2 == 0 ? kEjectShadow : (x % 4 == 1 ? kEjectLight : kGreyDark);
      ASSERT_EQ(Bg().at(x, y), expected) << Where(x, y);
    }
  }
}

TEST_F(BackgroundPicture, LogoBoxAndBarEdges) {
  ExpectSameBox(InkBox({161, 166, 500, 340}), kLogo);
  struct Run {
    int y, left, right;  // logo pixels with purple on both sides
  };
  // Tops of the long bars, their rows 264-265, tops of the short bars, the narrowing joint and the
  // flat bottoms.
  for (const Run& run :
       {Run{166, 320, 339}, Run{166, 345, 364}, Run{167, 320, 339}, Run{265, 260, 279},
        Run{266, 200, 219}, Run{266, 225, 244}, Run{310, 228, 251}, Run{311, 228, 251},
        Run{312, 229, 250}, Run{314, 230, 249}, Run{315, 230, 249}, Run{315, 255, 274}}) {
    EXPECT_EQ(Bg().at(run.left - 1, run.y), kPurple) << Where(run.left - 1, run.y);
    EXPECT_EQ(Bg().at(run.right + 1, run.y), kPurple) << Where(run.right + 1, run.y);
    for (int x = run.left; x <= run.right; ++x)
      EXPECT_NE(Bg().at(x, run.y), kPurple) << Where(x, run.y);
  }
}

TEST_F(BackgroundPicture, BarsEndInATwoPixelGreyEdge) {
  struct Edge {
    int y, right;  // the bar's last column on row y
  };
  for (const Edge& edge : {Edge{166, 339}, Edge{166, 364}, Edge{265, 279}, Edge{265, 304},
                           Edge{266, 219}, Edge{266, 244}, Edge{315, 249}, Edge{315, 274}}) {
    for (int x = edge.right - 1; x <= edge.right; ++x) {
      const Colour c = Bg().at(x, edge.y);
      EXPECT_TRUE(c == kGreyLight || c == kGreyDark) << Where(x, edge.y);
    }
    for (int x = edge.right - 19; x <= edge.right - 2; ++x) {
      const Colour c = Bg().at(x, edge.y);
      EXPECT_TRUE(c != kGreyLight && c != kGreyDark && c != kPurple) << Where(x, edge.y);
    }
  }
}

TEST_F(BackgroundPicture, LongBarSlopesEveryOtherRow) {
  // Above the short bars the first mark's long bar is the leftmost ink: its left edge runs from
  // x 320 on row 166 to 260 on row 265, moving only between row pairs and by 1 or 2 px at a time.
  const auto leftEdge = [](int y) { return InkBox({161, y, 400, y}).left; };
  EXPECT_EQ(leftEdge(166), 320);
  EXPECT_EQ(leftEdge(265), 260);
  for (int y = 166; y < 264; y += 2) {
    EXPECT_EQ(leftEdge(y), leftEdge(y + 1)) << "row " << y;
    const int step = leftEdge(y) - leftEdge(y + 2);
    EXPECT_TRUE(step == 1 || step == 2) << "row " << y;
  }
}

struct ColourRows {
  Colour colour;
  int first, last;
};

TEST_F(BackgroundPicture, ColourBandsByRows) {
  const std::vector<ColourRows> bands = {
      {0xFF0031, 166, 170}, {0xFF0000, 166, 185}, {0xFF3100, 178, 193}, {0xFF5200, 190, 205},
      {0xFF8C00, 198, 213}, {0xFFAD00, 210, 225}, {0xFFDE00, 218, 233}, {0xFFFF00, 230, 254},
      {0xCEFF00, 248, 266}, {0x9CFF00, 260, 278}, {0x63FF00, 272, 290}, {0x31FF00, 284, 302},
      {0x00FF00, 296, 309}, {0x00FF31, 308, 311}, {0x00FF63, 310, 315}, {0x0031FF, 266, 271},
      {0x0052FF, 268, 274}, {0x0031CE, 270, 271}, {0x0052CE, 272, 281}, {0x008CFF, 276, 277},
      {0x008CCE, 278, 285}, {0x00ADCE, 284, 291}, {0x00DECE, 288, 295}, {0x00FFCE, 294, 305},
      {0x00FF9C, 298, 315}};
  std::map<Colour, std::set<int>> rowsOf;
  for (int y = 0; y < 600; ++y) {
    for (int x = 0; x < 800; ++x) rowsOf[Bg().at(x, y)].insert(y);
  }
  for (const ColourRows& band : bands) {
    const std::set<int>& rows = rowsOf[band.colour];
    ASSERT_FALSE(rows.empty()) << std::hex << band.colour;
    EXPECT_EQ(*rows.begin(), band.first) << std::hex << band.colour;
    EXPECT_EQ(*rows.rbegin(), band.last) << std::hex << band.colour;
    EXPECT_EQ(rows.size(), static_cast<std::size_t>(band.last - band.first + 1))
        << std::hex << band.colour << " skips a row";
  }
  // The logo holds nothing but its bands and the two edge greys.
  std::set<Colour> logoColours = {kPurple, kGreyDark, kGreyLight};
  for (const ColourRows& band : bands) logoColours.insert(band.colour);
  for (int y = kLogo.top; y <= kLogo.bottom; ++y) {
    for (int x = kLogo.left; x <= kLogo.right; ++x)
      ASSERT_TRUE(logoColours.count(Bg().at(x, y))) << Where(x, y);
  }
}

TEST_F(BackgroundPicture, LogoAndTextAreDoubleHeight) {
  for (const Rect& area : {kLogo, kText}) {
    ASSERT_EQ(area.top % 2, 0);
    for (int y = area.top; y <= area.bottom; y += 2) {
      for (int x = area.left; x <= area.right; ++x)
        ASSERT_EQ(Bg().at(x, y) == kPurple, Bg().at(x, y + 1) == kPurple) << Where(x, y);
    }
  }
}

TEST_F(BackgroundPicture, TextBlockBoxAndDither) {
  ExpectSameBox(InkBox({0, 330, 500, 460}), kText);
  for (int y = kText.top; y <= kText.bottom; ++y) {
    for (int x = kText.left; x <= kText.right; ++x) {
      const Colour c = Bg().at(x, y);
      if (c != kPurple) {
        ASSERT_EQ(c, Salmon(x, y)) << Where(x, y);
      }
    }
  }
}

struct TextLine {
  int top;
  int bottom;  // last row with ink
  int cells;
};

constexpr std::array<TextLine, 4> kTextLines = {
    {{344, 357, 16}, {368, 383, 21}, {392, 407, 21}, {416, 431, 20}}};

TEST_F(BackgroundPicture, TextLinesStartInColumn161AndEndInTheirLastCell) {
  for (const TextLine& line : kTextLines) {
    const Rect box = InkBox({150, line.top, 400, line.top + 15});
    EXPECT_EQ(box.left, 161) << "line at " << line.top;
    EXPECT_EQ(box.top, line.top);
    EXPECT_EQ(box.bottom, line.bottom);
    EXPECT_EQ((box.right - 160) / 10, line.cells - 1) << "line at " << line.top;
    // Capitals and digits are 14 px high: rows top to top + 13.
    EXPECT_EQ(InkBox({161, line.top, 400, line.top + 13}).bottom, line.top + 13);
  }
}

struct GlyphRows {
  const char* glyph;
  int lineTop, cell;
  int firstRow, lastRow;  // counted from the line's top
};

// Capitals, digits and ascenders are 14 px high, the x-height is 10 px and descenders reach 2 px
// below the baseline.
TEST_F(BackgroundPicture, GlyphHeights) {
  for (const GlyphRows& g :
       {GlyphRows{"3", 344, 0, 0, 13}, GlyphRows{"b", 344, 4, 0, 13}, GlyphRows{"o", 344, 5, 4, 13},
        GlyphRows{"C", 368, 0, 0, 13}, GlyphRows{"p", 368, 2, 4, 15}, GlyphRows{"y", 368, 3, 4, 15},
        GlyphRows{"P", 392, 0, 0, 13}, GlyphRows{"w", 392, 4, 4, 13},
        GlyphRows{",", 392, 15, 10, 15}, GlyphRows{"A", 416, 0, 0, 13},
        GlyphRows{"g", 416, 6, 4, 15}, GlyphRows{"v", 416, 16, 4, 13}}) {
    const int left = 160 + 10 * g.cell;
    const Rect box = InkBox({left, g.lineTop, left + 9, g.lineTop + 15});
    EXPECT_EQ(box.top - g.lineTop, g.firstRow) << g.glyph;
    EXPECT_EQ(box.bottom - g.lineTop, g.lastRow) << g.glyph;
  }
}

TEST_F(BackgroundPicture, GlyphsKeepToTheirCellsButTheCopyrightSignFillsItsCell) {
  for (const TextLine& line : kTextLines) {
    for (int y = line.top; y <= line.top + 15; ++y) {
      for (int x = 160; x < 160 + 10 * line.cells; ++x) {
        const int column = (x - 160) % 10;
        const bool copyrightCell = line.top == 368 && (x - 160) / 10 == 10;
        if (!copyrightCell && (column == 0 || column == 9)) {
          ASSERT_EQ(Bg().at(x, y), kPurple) << Where(x, y);
        }
      }
    }
  }
  const Rect copyright = InkBox({260, 368, 269, 383});
  EXPECT_EQ(copyright.left, 260);
  EXPECT_EQ(copyright.right, 269);
  EXPECT_EQ(InkBox({250, 368, 259, 383}).left, 260) << "cell 9 is a space";
  EXPECT_EQ(InkBox({270, 368, 279, 383}).left, 280) << "cell 11 is a space";
}

// ---------------------------------------------------------------------------------------------
// Icons

struct IconFacts {
  const char* name;
  bool anyTransparent;
};

class IconFiles : public testing::TestWithParam<IconFacts> {};

TEST_P(IconFiles, TwoImagesOf32By32In16And256Colours) {
  const std::vector<std::uint8_t> bytes = ReadAsset(GetParam().name);
  ASSERT_GE(bytes.size(), 6u + 32u);
  EXPECT_EQ(Le(bytes, 0, 2), 0u);
  EXPECT_EQ(Le(bytes, 2, 2), 1u);  // icon
  ASSERT_EQ(Le(bytes, 4, 2), 2u);
  const std::array<std::uint32_t, 2> bits = {4, 8};
  for (int i = 0; i < 2; ++i) {
    const std::size_t entry = 6 + 16 * i;
    EXPECT_EQ(bytes[entry], 32);
    EXPECT_EQ(bytes[entry + 1], 32);
    EXPECT_EQ(bytes[entry + 2], i == 0 ? 16 : 0);  // colour count; 0 stands for 256
    EXPECT_EQ(Le(bytes, entry + 6, 2), bits[i]);
    const std::uint32_t size = Le(bytes, entry + 8, 4);
    const std::uint32_t offset = Le(bytes, entry + 12, 4);
    EXPECT_LE(offset + size, bytes.size());
    EXPECT_EQ(Le(bytes, offset, 4), 40u);
    EXPECT_EQ(Le(bytes, offset + 8, 4), 64u);  // colour rows and mask rows
    EXPECT_EQ(Le(bytes, offset + 14, 2), bits[i]);
    EXPECT_EQ(size, 40u + 4u * (1u << bits[i]) + 32u * 32u * bits[i] / 8 + 32u * 4u);
  }
  for (const Stored& image : ReadIco(GetParam().name)) {
    const auto transparent = std::count(image.transparent.begin(), image.transparent.end(), true);
    if (GetParam().anyTransparent) {
      EXPECT_GT(transparent, 0);
      EXPECT_LT(transparent, 32 * 32);
    } else {
      EXPECT_EQ(transparent, 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Artwork, IconFiles,
                         testing::Values(IconFacts{"quietglass.ico", false},
                                         IconFacts{"creature.ico", true}));

std::map<Colour, int> OpaqueColours(const Stored& image) {
  std::map<Colour, int> counts;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (!image.transparent[y * image.width + x]) ++counts[image.at(x, y)];
    }
  }
  return counts;
}

int CountOf(const std::map<Colour, int>& counts, Colour colour) {
  const auto found = counts.find(colour);
  return found == counts.end() ? 0 : found->second;
}

TEST(ProgramIcon, RainbowChecksOnBlack) {
  const std::vector<Stored> images = ReadIco("quietglass.ico");
  for (const Stored& image : images) {
    for (auto [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}, {31, 31}, {10, 8}})
      EXPECT_EQ(image.at(x, y), kBlack) << Where(x, y);
    const std::map<Colour, int> colours = OpaqueColours(image);
    EXPECT_GT(CountOf(colours, kBlack), 32 * 32 / 2);
    EXPECT_GE(colours.size(), 6u) << "black, edge grey and the rainbow";
  }
  // Top rows red, bottom rows green and cyan in the 256-colour image.
  const std::map<Colour, int> full = OpaqueColours(images[1]);
  for (Colour colour : {0xFF0000u, 0xFFFF00u, 0x00FF00u, 0x0052CEu})
    EXPECT_GT(CountOf(full, colour), 0) << std::hex << colour;
}

TEST(CreatureIcon, GreenHeadWhiteEyesBlackOutlineYellowAndOrange) {
  const std::vector<Stored> images = ReadIco("creature.ico");
  for (const Stored& image : images) {
    for (int corner : {0, 31, 32 * 31, 32 * 32 - 1})
      EXPECT_TRUE(image.transparent[corner]) << "corners show the dialog behind";
    const std::map<Colour, int> colours = OpaqueColours(image);
    EXPECT_GT(CountOf(colours, kBlack), 100);
    EXPECT_GT(CountOf(colours, kWhite), 20);
    EXPECT_GT(CountOf(colours, 0xFFFF00), 10);
    int green = 0;  // full green with little red or blue
    for (auto [colour, count] : colours) {
      if ((colour >> 8 & 0xFF) >= 0x80 && (colour >> 16) < 0x80 && (colour & 0xFF) < 0x80)
        green += count;
    }
    EXPECT_GT(green, 150);
  }
  EXPECT_GT(CountOf(OpaqueColours(images[1]), 0xFF8C00), 5) << "orange";
}

// ---------------------------------------------------------------------------------------------
// The generator's writers, read back by the runtime

artwork::IndexedPicture Pattern(int width, int height, int colours) {
  artwork::IndexedPicture picture{width, height, {}, {}};
  for (int i = 0; i < colours; ++i) {
    picture.palette.push_back(rt::Rgb(static_cast<std::uint8_t>(i * 7),
                                      static_cast<std::uint8_t>(255 - i),
                                      static_cast<std::uint8_t>(i * 3)));
  }
  for (int i = 0; i < width * height; ++i)
    picture.indices.push_back(static_cast<std::uint8_t>((i * 5 + i / width) % colours));
  return picture;
}

class WriterRoundTrip : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(WriterRoundTrip, BmpReadsBackPixelForPixel) {
  const auto [width, height] = GetParam();
  const artwork::IndexedPicture picture = Pattern(width, height, 256);
  const std::vector<std::uint8_t> bytes = artwork::EncodeBmp8(picture);
  rt::Picture decoded;
  std::string error;
  ASSERT_TRUE(rt::DecodeBmp(bytes, decoded, error)) << error;
  EXPECT_EQ(decoded.width, width);
  EXPECT_EQ(decoded.height, height);
  EXPECT_EQ(decoded.pixels, artwork::ToPicture(picture).pixels);
}

TEST_P(WriterRoundTrip, IcoReadsBackEachDepthWithItsMask) {
  const auto [width, height] = GetParam();
  std::vector<artwork::IconImage> images;
  for (int colours : {16, 256}) {
    artwork::IconImage image{Pattern(width, height, colours), {}};
    for (int i = 0; i < width * height; ++i) image.transparent.push_back(i % 3 == 1);
    images.push_back(image);
  }
  const std::vector<std::uint8_t> bytes = artwork::EncodeIco(images);
  for (int i = 0; i < 2; ++i) {
    rt::Picture decoded;
    std::string error;
    ASSERT_TRUE(rt::DecodeIco(bytes, i == 0 ? 4 : 8, decoded, error)) << error;
    rt::Picture expected = artwork::ToPicture(images[i].colours);
    for (int p = 0; p < width * height; ++p) {
      if (images[i].transparent[p]) expected.pixels[p] = 0;
    }
    EXPECT_EQ(decoded.width, width);
    EXPECT_EQ(decoded.height, height);
    EXPECT_EQ(decoded.pixels, expected.pixels) << "image " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(AwkwardSizes, WriterRoundTrip,
                         testing::Values(std::pair{1, 1}, std::pair{47, 33}));

}  // namespace
