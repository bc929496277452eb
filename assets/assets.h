// The pictures built into the program: the files of this folder, as bytes.
#pragma once

#include <cstdint>
#include <span>

namespace assets {

std::span<const std::uint8_t> BackgroundBmp();  // background.bmp, the saver's artwork
std::span<const std::uint8_t> DiskBmp();        // disk.bmp, the disk that slides into the drive
std::span<const std::uint8_t> ProgramIcon();    // quietglass.ico
std::span<const std::uint8_t> CreatureIcon();   // creature.ico, the dialog's hidden picture

}  // namespace assets
