// The virtual-key codes the runtime's key events carry (Windows' numbering, which the program's
// handlers were written for). Letters and digits are their upper-case ASCII codes.
#pragma once

namespace vk {

constexpr int kBack = 0x08, kTab = 0x09, kClear = 0x0C, kReturn = 0x0D, kShift = 0x10,
              kControl = 0x11, kMenu = 0x12, kPause = 0x13, kCapital = 0x14, kEscape = 0x1B,
              kSpace = 0x20, kPrior = 0x21, kNext = 0x22, kEnd = 0x23, kHome = 0x24, kLeft = 0x25,
              kUp = 0x26, kRight = 0x27, kDown = 0x28, kSnapshot = 0x2C, kInsert = 0x2D,
              kDelete = 0x2E, kLeftWindows = 0x5B, kRightWindows = 0x5C, kApps = 0x5D,
              kNumpad0 = 0x60, kMultiply = 0x6A, kAdd = 0x6B, kSeparator = 0x6C, kSubtract = 0x6D,
              kDecimal = 0x6E, kDivide = 0x6F, kF1 = 0x70, kF24 = 0x87, kNumLock = 0x90,
              kScroll = 0x91;
// The punctuation keys of a US keyboard: ; = , - . / ` [ \ ] '
constexpr int kSemicolon = 0xBA, kEquals = 0xBB, kComma = 0xBC, kMinus = 0xBD, kPeriod = 0xBE,
              kSlash = 0xBF, kGrave = 0xC0, kLeftBracket = 0xDB, kBackslash = 0xDC,
              kRightBracket = 0xDD, kApostrophe = 0xDE;

}  // namespace vk
