// The saver's logo: two rainbow check marks, each a long and a short slanted bar.
#pragma once

#include <array>
#include <span>

#include "tools/artwork/palette.h"

namespace artwork {

// The logo's box in background coordinates, and the first row of the short bars.
constexpr int kLogoLeft = 200;
constexpr int kLogoTop = 166;
constexpr int kLogoRight = 364;
constexpr int kLogoBottom = 315;
constexpr int kShortBarTop = 266;

// One colour band of a bar: the rows (background coordinates) in which the colour shows. Where two
// bands share rows they are dithered together.
struct Band {
  rt::Pixel colour;
  int firstRow;
  int lastRow;
};

// Bands top to bottom: red to green down the long bars, blue to cyan down the short ones.
constexpr std::array<Band, 15> kLongBarBands = {{{Hex(0xFF0031), 166, 170},
                                                 {Hex(0xFF0000), 166, 185},
                                                 {Hex(0xFF3100), 178, 193},
                                                 {Hex(0xFF5200), 190, 205},
                                                 {Hex(0xFF8C00), 198, 213},
                                                 {Hex(0xFFAD00), 210, 225},
                                                 {Hex(0xFFDE00), 218, 233},
                                                 {Hex(0xFFFF00), 230, 254},
                                                 {Hex(0xCEFF00), 248, 266},
                                                 {Hex(0x9CFF00), 260, 278},
                                                 {Hex(0x63FF00), 272, 290},
                                                 {Hex(0x31FF00), 284, 302},
                                                 {Hex(0x00FF00), 296, 309},
                                                 {Hex(0x00FF31), 308, 311},
                                                 {Hex(0x00FF63), 310, 315}}};
constexpr std::array<Band, 10> kShortBarBands = {{{Hex(0x0031FF), 266, 271},
                                                  {Hex(0x0052FF), 268, 274},
                                                  {Hex(0x0031CE), 270, 271},
                                                  {Hex(0x0052CE), 272, 281},
                                                  {Hex(0x008CFF), 276, 277},
                                                  {Hex(0x008CCE), 278, 285},
                                                  {Hex(0x00ADCE), 284, 291},
                                                  {Hex(0x00DECE), 288, 295},
                                                  {Hex(0x00FFCE), 294, 305},
                                                  {Hex(0x00FF9C), 298, 315}}};

// The first (left) mark's bars on row y: x of the long bar's left edge, and of the short bar's
// from row 266 on. The second mark lies 25 px further right.
int LongBarLeft(int y);
int ShortBarLeft(int y);

// Where a mark's two bars overlap, each keeps its own half of the overlap, so both bands show down
// to the flat bottom: the first column that belongs to the long bar. Bars are `barWidth` wide.
int JointColumn(int longLeft, int shortLeft, int barWidth);

// The band colour of bar pixel (x, y): the bands present on row y share it in an ordered dither.
rt::Pixel BandColour(std::span<const Band> bands, int x, int y);

// Draws the logo onto `canvas`, whose pixel (0, 0) stands for background pixel
// (originX, originY); the dithers follow background coordinates. Pixels off the canvas are skipped.
void DrawLogo(rt::Picture& canvas, int originX, int originY);

}  // namespace artwork
