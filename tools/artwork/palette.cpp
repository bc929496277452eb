// The saver palette: which colour sits in which entry.
#include "tools/artwork/palette.h"

#include <stdexcept>

#include "tools/artwork/logo.h"

namespace artwork {
namespace {

// The reserved colours of the 256-colour system palette: the first ten and the last ten entries.
constexpr std::array<rt::Pixel, 10> kLowSystemColours = {
    Hex(0x000000), Hex(0x800000), Hex(0x008000), Hex(0x808000), Hex(0x000080),
    Hex(0x800080), Hex(0x008080), Hex(0xC0C0C0), Hex(0xC0DCC0), Hex(0xA6CAF0)};
constexpr std::array<rt::Pixel, 10> kHighSystemColours = {
    Hex(0xFFFBF0), Hex(0xA0A0A4), Hex(0x808080), Hex(0xFF0000), Hex(0x00FF00),
    Hex(0xFFFF00), Hex(0x0000FF), Hex(0xFF00FF), Hex(0x00FFFF), Hex(0xFFFFFF)};

// Entry 10 is the short bars' #00DECE; entry 20 repeats it. The other short-bar colours fill 11-19
// and everything else follows from 21 on.
constexpr int kShortBarLeadBand = 7;  // #00DECE within kShortBarBands

constexpr Palette BuildPalette() {
  Palette palette{};
  palette.fill(kWhite);
  for (int i = 0; i < 10; ++i) {
    palette[i] = kLowSystemColours[i];
    palette[kFirstUpperSystemEntry + i] = kHighSystemColours[i];
  }
  int entry = kFirstArtworkEntry;
  palette[entry++] = kShortBarBands[kShortBarLeadBand].colour;
  for (int i = 0; i < static_cast<int>(kShortBarBands.size()); ++i) {
    if (i != kShortBarLeadBand) palette[entry++] = kShortBarBands[i].colour;
  }
  if (entry != kRepeatedEntry)
    throw std::logic_error("the repeated entry must follow the short bars");
  palette[entry++] = palette[kFirstArtworkEntry];
  for (const Band& band : kLongBarBands) palette[entry++] = band.colour;
  for (rt::Pixel colour : {kPurple, kSalmonDark, kSalmonLight, kEjectLight, kGreyDark, kEjectShadow,
                           kGreyLight, kBlueLight, kBlueDark, kNavy, kNavyDeep}) {
    palette[entry++] = colour;
  }
  if (entry != kLastArtworkEntry + 1) throw std::logic_error("artwork colours must fill 10-46");
  return palette;
}

// Built while compiling: a table that does not fit 10-46 stops the build.
constexpr Palette kSaverPalette = BuildPalette();

constexpr std::array<rt::Pixel, 16> kSixteenColours = {
    Hex(0x000000), Hex(0x800000), Hex(0x008000), Hex(0x808000), Hex(0x000080), Hex(0x800080),
    Hex(0x008080), Hex(0xC0C0C0), Hex(0x808080), Hex(0xFF0000), Hex(0x00FF00), Hex(0xFFFF00),
    Hex(0x0000FF), Hex(0xFF00FF), Hex(0x00FFFF), Hex(0xFFFFFF)};

}  // namespace

const Palette& SaverPalette() {
  return kSaverPalette;
}

const std::array<rt::Pixel, 16>& SixteenColourPalette() {
  return kSixteenColours;
}

}  // namespace artwork
