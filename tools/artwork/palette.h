// The 256-colour palette that the saver's pictures share, and the colours the artwork draws with.
#pragma once

#include <array>
#include <cstdint>

#include "platform/picture.h"

namespace artwork {

using Palette = std::array<rt::Pixel, 256>;

// Builds an opaque pixel from a 0xRRGGBB literal.
constexpr rt::Pixel Hex(std::uint32_t rrggbb) {
  return rt::kOpaque | rrggbb;
}

// Colours of the background's plain parts, the drive and the disk.
constexpr rt::Pixel kPurple = Hex(0x310031);       // the background, and the disk's cut corners
constexpr rt::Pixel kBlack = Hex(0x000000);        // slot and activity light
constexpr rt::Pixel kWhite = Hex(0xFFFFFF);        // disk label
constexpr rt::Pixel kSalmonDark = Hex(0xCEAD63);   // salmon dither, 6 of 16 pixels
constexpr rt::Pixel kSalmonLight = Hex(0xFFAD9C);  // salmon dither, the rest
constexpr rt::Pixel kEjectLight = Hex(0xCE8C63);   // eject-button outline
constexpr rt::Pixel kEjectShadow = Hex(0x9C5263);  // eject-button outline
constexpr rt::Pixel kGreyDark = Hex(0x9C8C63);     // shutter, logo edges, eject-button outline
constexpr rt::Pixel kGreyLight = Hex(0x9C8C9C);    // shutter and logo edges
constexpr rt::Pixel kBlueLight = Hex(0x31319C);    // blue dither, 10 of 16 pixels
constexpr rt::Pixel kBlueDark = Hex(0x003163);     // blue dither and dark dither
constexpr rt::Pixel kNavy = Hex(0x313163);         // dark dither
constexpr rt::Pixel kNavyDeep = Hex(0x000063);     // dark dither

// Where the palette keeps its parts.
constexpr int kFirstArtworkEntry = 10;
constexpr int kLastArtworkEntry = 46;
constexpr int kRepeatedEntry = 20;  // a second copy of entry 10, which no picture uses
constexpr int kFirstUpperSystemEntry = 246;

// The shared palette: the 20 reserved system colours at 0-9 and 246-255, the artwork colours at
// 10-46 and white everywhere else. Each colour is drawn with the first entry that holds it, so the
// artwork's red, green and yellow come from 10-46, not from the system's copies, and the label's
// white from entry 47.
const Palette& SaverPalette();

// The 16 colours of the standard 16-colour palette, for the icons' 16-colour images.
const std::array<rt::Pixel, 16>& SixteenColourPalette();

}  // namespace artwork
