// The pictures the program embeds, drawn from code: background, disk and the two icons.
#pragma once

#include <vector>

#include "platform/picture.h"
#include "tools/artwork/bitmap_files.h"

namespace artwork {

constexpr int kBackgroundWidth = 800;
constexpr int kBackgroundHeight = 600;
constexpr int kDiskWidth = 134;
constexpr int kDiskHeight = 120;
constexpr int kIconSide = 32;

// The saver's 800 x 600 start-up screen: logo, four lines of text and the drive.
rt::Picture DrawBackground();

// The 134 x 120 floppy disk that slides into the drive.
rt::Picture DrawDisk();

// The program icon: the logo on black, as a 16-colour and a 256-colour image, fully opaque.
std::vector<IconImage> DrawProgramIcon();

// The setup dialog's hidden picture: a creature's head, 16-colour and 256-colour, with
// transparency.
std::vector<IconImage> DrawCreatureIcon();

}  // namespace artwork
