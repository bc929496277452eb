// A dependency-free PNG writer (stored deflate blocks) for captures and pictures in the README.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/picture.h"

namespace tools {

// Encodes the picture as an 8-bit RGB PNG (or RGBA when any pixel is transparent).
std::vector<std::uint8_t> EncodePng(const rt::Picture& picture);

// Writes EncodePng's bytes to `path`; false with a reason in `error` when the file can't be
// written.
bool WritePng(const std::string& path, const rt::Picture& picture, std::string& error);

}  // namespace tools
