// Key symbols (X11's, which xkb shares) to the runtime's virtual-key codes.
#include <X11/keysym.h>

#include <utility>

#include "platform/keys.h"
#include "platform/posix/posix.h"

namespace posix {
namespace {

constexpr std::pair<std::uint32_t, int> kVirtualKeys[] = {
    {XK_BackSpace, vk::kBack},
    {XK_Tab, vk::kTab},
    {XK_ISO_Left_Tab, vk::kTab},
    {XK_KP_Begin, vk::kClear},
    {XK_Return, vk::kReturn},
    {XK_KP_Enter, vk::kReturn},
    {XK_Shift_L, vk::kShift},
    {XK_Shift_R, vk::kShift},
    {XK_Control_L, vk::kControl},
    {XK_Control_R, vk::kControl},
    {XK_Alt_L, vk::kMenu},
    {XK_Alt_R, vk::kMenu},
    {XK_Meta_L, vk::kMenu},
    {XK_Meta_R, vk::kMenu},
    {XK_ISO_Level3_Shift, vk::kMenu},
    {XK_Pause, vk::kPause},
    {XK_Caps_Lock, vk::kCapital},
    {XK_Escape, vk::kEscape},
    {XK_space, vk::kSpace},
    {XK_Prior, vk::kPrior},
    {XK_KP_Prior, vk::kPrior},
    {XK_Next, vk::kNext},
    {XK_KP_Next, vk::kNext},
    {XK_End, vk::kEnd},
    {XK_KP_End, vk::kEnd},
    {XK_Home, vk::kHome},
    {XK_KP_Home, vk::kHome},
    {XK_Left, vk::kLeft},
    {XK_KP_Left, vk::kLeft},
    {XK_Up, vk::kUp},
    {XK_KP_Up, vk::kUp},
    {XK_Right, vk::kRight},
    {XK_KP_Right, vk::kRight},
    {XK_Down, vk::kDown},
    {XK_KP_Down, vk::kDown},
    {XK_Print, vk::kSnapshot},
    {XK_Insert, vk::kInsert},
    {XK_KP_Insert, vk::kInsert},
    {XK_Delete, vk::kDelete},
    {XK_KP_Delete, vk::kDelete},
    {XK_Super_L, vk::kLeftWindows},
    {XK_Super_R, vk::kRightWindows},
    {XK_Menu, vk::kApps},
    {XK_KP_Multiply, vk::kMultiply},
    {XK_KP_Add, vk::kAdd},
    {XK_KP_Separator, vk::kSeparator},
    {XK_KP_Subtract, vk::kSubtract},
    {XK_KP_Decimal, vk::kDecimal},
    {XK_KP_Divide, vk::kDivide},
    {XK_Num_Lock, vk::kNumLock},
    {XK_Scroll_Lock, vk::kScroll},
    {XK_semicolon, vk::kSemicolon},
    {XK_equal, vk::kEquals},
    {XK_comma, vk::kComma},
    {XK_minus, vk::kMinus},
    {XK_period, vk::kPeriod},
    {XK_slash, vk::kSlash},
    {XK_grave, vk::kGrave},
    {XK_bracketleft, vk::kLeftBracket},
    {XK_backslash, vk::kBackslash},
    {XK_bracketright, vk::kRightBracket},
    {XK_apostrophe, vk::kApostrophe},
};

}  // namespace

int VirtualKeyOfKeysym(std::uint32_t sym) {
  if (sym >= XK_a && sym <= XK_z) return 'A' + static_cast<int>(sym - XK_a);
  if (sym >= XK_A && sym <= XK_Z) return 'A' + static_cast<int>(sym - XK_A);
  if (sym >= XK_0 && sym <= XK_9) return '0' + static_cast<int>(sym - XK_0);
  if (sym >= XK_KP_0 && sym <= XK_KP_9) return vk::kNumpad0 + static_cast<int>(sym - XK_KP_0);
  if (sym >= XK_F1 && sym <= XK_F24) return vk::kF1 + static_cast<int>(sym - XK_F1);
  for (const auto& [keysym, code] : kVirtualKeys)
    if (keysym == sym) return code;
  return 0;
}

}  // namespace posix
