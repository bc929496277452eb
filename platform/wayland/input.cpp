// The Wayland host's input: the seat's keyboard and pointer, translated to the runtime's key and
// mouse events.
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "platform/wayland/wayland.h"

namespace host::wayland_detail {
namespace {

// evdev key codes (linux/input-event-codes.h) to Windows virtual-key codes, and the characters a
// US layout types with them, plain and with Shift. Without libxkbcommon the compositor's keymap
// is not read: this is the layout of nearly every keyboard's codes.
struct KeyInfo {
  std::uint16_t code;
  std::uint8_t virtualKey;
  char plain, shifted;
};
// clang-format off
constexpr KeyInfo kKeys[] = {
    {KEY_ESC, 27, 27, 27},            {KEY_1, '1', '1', '!'},           {KEY_2, '2', '2', '@'},
    {KEY_3, '3', '3', '#'},           {KEY_4, '4', '4', '$'},           {KEY_5, '5', '5', '%'},
    {KEY_6, '6', '6', '^'},           {KEY_7, '7', '7', '&'},           {KEY_8, '8', '8', '*'},
    {KEY_9, '9', '9', '('},           {KEY_0, '0', '0', ')'},           {KEY_MINUS, 189, '-', '_'},
    {KEY_EQUAL, 187, '=', '+'},       {KEY_BACKSPACE, 8, 8, 8},         {KEY_TAB, 9, 9, 9},
    {KEY_Q, 'Q', 'q', 'Q'},           {KEY_W, 'W', 'w', 'W'},           {KEY_E, 'E', 'e', 'E'},
    {KEY_R, 'R', 'r', 'R'},           {KEY_T, 'T', 't', 'T'},           {KEY_Y, 'Y', 'y', 'Y'},
    {KEY_U, 'U', 'u', 'U'},           {KEY_I, 'I', 'i', 'I'},           {KEY_O, 'O', 'o', 'O'},
    {KEY_P, 'P', 'p', 'P'},           {KEY_LEFTBRACE, 219, '[', '{'},   {KEY_ENTER, 13, 13, 13},
    {KEY_RIGHTBRACE, 221, ']', '}'},  {KEY_LEFTCTRL, 17, 0, 0},         {KEY_A, 'A', 'a', 'A'},
    {KEY_S, 'S', 's', 'S'},           {KEY_D, 'D', 'd', 'D'},           {KEY_F, 'F', 'f', 'F'},
    {KEY_G, 'G', 'g', 'G'},           {KEY_H, 'H', 'h', 'H'},           {KEY_J, 'J', 'j', 'J'},
    {KEY_K, 'K', 'k', 'K'},           {KEY_L, 'L', 'l', 'L'},           {KEY_GRAVE, 192, '`', '~'},
    {KEY_APOSTROPHE, 222, '\'', '"'}, {KEY_SEMICOLON, 186, ';', ':'},   {KEY_LEFTSHIFT, 16, 0, 0},
    {KEY_BACKSLASH, 220, '\\', '|'},  {KEY_Z, 'Z', 'z', 'Z'},           {KEY_X, 'X', 'x', 'X'},
    {KEY_C, 'C', 'c', 'C'},           {KEY_V, 'V', 'v', 'V'},           {KEY_B, 'B', 'b', 'B'},
    {KEY_N, 'N', 'n', 'N'},           {KEY_M, 'M', 'm', 'M'},           {KEY_COMMA, 188, ',', '<'},
    {KEY_DOT, 190, '.', '>'},         {KEY_SLASH, 191, '/', '?'},       {KEY_RIGHTSHIFT, 16, 0, 0},
    {KEY_KPASTERISK, 106, '*', '*'},  {KEY_LEFTALT, 18, 0, 0},          {KEY_SPACE, 32, ' ', ' '},
    {KEY_CAPSLOCK, 20, 0, 0},         {KEY_NUMLOCK, 144, 0, 0},         {KEY_SCROLLLOCK, 145, 0, 0},
    {KEY_KPMINUS, 109, '-', '-'},     {KEY_KPPLUS, 107, '+', '+'},      {KEY_F11, 122, 0, 0},
    {KEY_F12, 123, 0, 0},             {KEY_KPENTER, 13, 13, 13},        {KEY_RIGHTCTRL, 17, 0, 0},
    {KEY_KPSLASH, 111, '/', '/'},     {KEY_SYSRQ, 44, 0, 0},            {KEY_RIGHTALT, 18, 0, 0},
    {KEY_HOME, 36, 0, 0},             {KEY_UP, 38, 0, 0},               {KEY_PAGEUP, 33, 0, 0},
    {KEY_LEFT, 37, 0, 0},             {KEY_RIGHT, 39, 0, 0},            {KEY_END, 35, 0, 0},
    {KEY_DOWN, 40, 0, 0},             {KEY_PAGEDOWN, 34, 0, 0},         {KEY_INSERT, 45, 0, 0},
    {KEY_DELETE, 46, 0, 0},           {KEY_PAUSE, 19, 0, 0},            {KEY_LEFTMETA, 91, 0, 0},
    {KEY_RIGHTMETA, 92, 0, 0},        {KEY_COMPOSE, 93, 0, 0},
};
// clang-format on
// The keypad's digits and point follow Num Lock: a digit with it, a cursor key without.
constexpr KeyInfo kKeypad[] = {
    {KEY_KP0, 45, '0', 0}, {KEY_KP1, 35, '1', 0}, {KEY_KP2, 40, '2', 0},   {KEY_KP3, 34, '3', 0},
    {KEY_KP4, 37, '4', 0}, {KEY_KP5, 12, '5', 0}, {KEY_KP6, 39, '6', 0},   {KEY_KP7, 36, '7', 0},
    {KEY_KP8, 38, '8', 0}, {KEY_KP9, 33, '9', 0}, {KEY_KPDOT, 46, '.', 0},
};

// The modifier masks as the compositor's default xkb keymap (evdev rules) numbers them: Shift,
// Lock, Control, Mod1 (Alt), Mod2 (Num Lock). Reading them by position spares parsing the keymap.
constexpr std::uint32_t kShiftBit = 1u << 0, kLockBit = 1u << 1, kControlBit = 1u << 2,
                        kAltBit = 1u << 3, kNumLockBit = 1u << 4;

int ShiftBits() {
  const std::uint32_t m = S().modifiers;
  return ((m & kShiftBit) ? kShiftMask : 0) | ((m & kControlBit) ? kCtrlMask : 0) |
         ((m & kAltBit) ? kAltMask : 0);
}

void KeyPressed(std::uint32_t code) {
  WaylandState& s = S();
  Event event;
  event.type = EventType::KeyDown;
  event.window = HandleOf(s.keyboardFocus);
  event.shift = ShiftBits();
  int character = 0;
  for (const KeyInfo& key : kKeys) {
    if (key.code != code) continue;
    event.keyCode = key.virtualKey;
    const bool letter = key.virtualKey >= 'A' && key.virtualKey <= 'Z';
    const bool shifted = ((s.modifiers & kShiftBit) != 0) != (letter && (s.modifiers & kLockBit));
    character = shifted ? key.shifted : key.plain;
    if (letter && (s.modifiers & kControlBit)) character = key.virtualKey & 0x1F;  // Ctrl+A is 1
  }
  for (std::size_t i = 0; i < std::size(kKeypad); ++i) {
    if (kKeypad[i].code != code) continue;
    const bool numbers = (s.modifiers & kNumLockBit) != 0;
    event.keyCode = numbers ? (i < 10 ? 96 + static_cast<int>(i) : 110) : kKeypad[i].virtualKey;
    character = numbers ? kKeypad[i].plain : 0;
  }
  if (code >= KEY_F1 && code <= KEY_F10) event.keyCode = 112 + static_cast<int>(code - KEY_F1);
  if (code >= KEY_F13 && code <= KEY_F24) event.keyCode = 124 + static_cast<int>(code - KEY_F13);
  Post(event);
  if (character == 0) return;
  event.type = EventType::KeyPress;
  event.keyChar = character;
  Post(event);
}

const wl_keyboard_listener kKeyboardListener = {
    .keymap = [](void*, wl_keyboard*, std::uint32_t, std::int32_t fd, std::uint32_t) { close(fd); },
    .enter =
        [](void*, wl_keyboard*, std::uint32_t, wl_surface* surface, wl_array* keys) {
          // A surface we destroyed meanwhile arrives as null.
          auto* top = surface ? static_cast<Toplevel*>(wl_surface_get_user_data(surface)) : nullptr;
          WaylandState& s = S();
          s.keyboardFocus = top != nullptr ? top->window : nullptr;
          s.keysSeenDown.clear();
          if (s.keyboardFocus == nullptr || !FullScreen(*s.keyboardFocus)) return;
          s.saverLostKeyboard = false;
          const bool first = !s.saverHadKeyboard;
          s.saverHadKeyboard = true;
          // A keyboard that appears while the saver runs (plugged in, a remote desktop's) comes
          // with the key that woke it already down: that key is the user's.
          const auto* down = static_cast<const std::uint32_t*>(keys->data);
          for (std::size_t k = 0; k < keys->size / sizeof(std::uint32_t); ++k) {
            if (!first || !s.keyboardBeforeSaver) {
              PostUserIsBack(*s.keyboardFocus);
              break;
            }
            s.keysHeldBefore.push_back(down[k]);
          }
        },
    .leave =
        [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {
          WaylandState& s = S();
          if (s.keyboardFocus != nullptr && FullScreen(*s.keyboardFocus))
            s.saverLostKeyboard = true;
          s.keyboardFocus = nullptr;
        },
    .key =
        [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
           std::uint32_t state) {
          WaylandState& s = S();
          if (s.keyboardFocus == nullptr) return;
          // The runtime hears presses: the compositor repeats nothing for us, nor do we.
          if (state == WL_KEYBOARD_KEY_STATE_PRESSED) {
            s.keysSeenDown.push_back(key);
            KeyPressed(key);
            return;
          }
          // The release of a press we never saw (it came before the keyboard was ours) is a key
          // to the saver, but not that of a key held from before the saver.
          const bool seen = std::erase(s.keysSeenDown, key) > 0;
          const bool heldBefore = std::erase(s.keysHeldBefore, key) > 0;
          if (!seen && !heldBefore && FullScreen(*s.keyboardFocus))
            PostUserIsBack(*s.keyboardFocus);
        },
    .modifiers = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
                    std::uint32_t latched, std::uint32_t locked,
                    std::uint32_t) { S().modifiers = depressed | latched | locked; },
    .repeat_info = nullptr,  // newer than the version we bind
};

// A pointer event at the pointer's place, in the focused window's client pixels.
void PostPointer(EventType type, int button) {
  WaylandState& s = S();
  const Toplevel* top = s.pointerFocus;
  if (top == nullptr) return;
  const rt::PixelRect area = ShownArea(*top);
  Event event;
  event.type = type;
  event.window = HandleOf(top->window);
  event.x = area.x + static_cast<int>(std::floor(s.pointerX));
  event.y = area.y + static_cast<int>(std::floor(s.pointerY)) - top->window->titleBar;
  // Our own title bar is no client area; while a button is held the client hears of it all.
  if (event.y < 0 && s.buttons == 0 && type == EventType::MouseMove) return;
  event.button = button;
  event.shift = ShiftBits();
  Post(event);
}

int ButtonBit(std::uint32_t button) {
  switch (button) {
    case BTN_LEFT:
      return kLeftButton;
    case BTN_RIGHT:
      return kRightButton;
    case BTN_MIDDLE:
      return kMiddleButton;
    default:
      return 0;
  }
}

const wl_pointer_listener kPointerListener = {
    .enter =
        [](void*, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface, wl_fixed_t x,
           wl_fixed_t y) {
          WaylandState& s = S();
          s.pointerFocus =
              surface ? static_cast<Toplevel*>(wl_surface_get_user_data(surface)) : nullptr;
          if (s.pointerFocus == nullptr) return;
          // No pointer over the saver: a Wayland client cannot move it away, but it may hide it.
          if (FullScreen(*s.pointerFocus->window))
            wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
          s.pointerX = wl_fixed_to_double(x);
          s.pointerY = wl_fixed_to_double(y);
          PostPointer(EventType::MouseMove, s.buttons);  // the report of a window shown under it
        },
    .leave = [](void*, wl_pointer*, std::uint32_t, wl_surface*) { S().pointerFocus = nullptr; },
    .motion =
        [](void*, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
          WaylandState& s = S();
          s.pointerX = wl_fixed_to_double(x);
          s.pointerY = wl_fixed_to_double(y);
          PostPointer(EventType::MouseMove, s.buttons);
        },
    .button =
        [](void*, wl_pointer*, std::uint32_t serial, std::uint32_t, std::uint32_t button,
           std::uint32_t state) {
          WaylandState& s = S();
          const int bit = ButtonBit(button);
          if (bit == 0 || s.pointerFocus == nullptr) return;
          const bool pressed = state == WL_POINTER_BUTTON_STATE_PRESSED;
          // A press on our own title bar lets the compositor move the dialog.
          if (pressed && s.buttons == 0 && bit == kLeftButton &&
              s.pointerY < s.pointerFocus->window->titleBar) {
            xdg_toplevel_move(s.pointerFocus->toplevel, s.seat, serial);
            return;
          }
          if (pressed == ((s.buttons & bit) != 0))
            return;  // a release of a press we did not pass on
          s.buttons = pressed ? s.buttons | bit : s.buttons & ~bit;
          PostPointer(pressed ? EventType::MouseDown : EventType::MouseUp, bit);
        },
    .axis = [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},  // no click
    // Newer than the version we bind:
    .frame = nullptr,
    .axis_source = nullptr,
    .axis_stop = nullptr,
    .axis_discrete = nullptr,
    .axis_value120 = nullptr,
};

const wl_seat_listener kSeatListener = {
    .capabilities =
        [](void*, wl_seat* seat, std::uint32_t capabilities) {
          WaylandState& s = S();
          const bool pointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
          const bool keyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
          if (pointer && s.pointer == nullptr) {
            s.pointer = wl_seat_get_pointer(seat);
            wl_pointer_add_listener(s.pointer, &kPointerListener, nullptr);
          } else if (!pointer && s.pointer != nullptr) {
            wl_pointer_destroy(s.pointer);
            s.pointer = nullptr;
            s.pointerFocus = nullptr;
            s.buttons = 0;
          }
          if (keyboard && s.keyboard == nullptr) {
            s.keyboard = wl_seat_get_keyboard(seat);
            s.keyboardBeforeSaver = std::none_of(s.windows.begin(), s.windows.end(),
                                                 [](const auto& w) { return FullScreen(*w); });
            wl_keyboard_add_listener(s.keyboard, &kKeyboardListener, nullptr);
          } else if (!keyboard && s.keyboard != nullptr) {
            wl_keyboard_destroy(s.keyboard);
            s.keyboard = nullptr;
            s.keyboardFocus = nullptr;
          }
        },
    .name = nullptr,  // newer than the version we bind
};

}  // namespace

void AddSeat(wl_seat* seat) {
  wl_seat_add_listener(seat, &kSeatListener, nullptr);
}

void InhibitShortcuts(Toplevel& top) {
  WaylandState& s = S();
  // Without it a compositor's binding (sway's Super+2) could hide the saver, which would then
  // hear no key; losing the keyboard ends it all the same where the compositor declines.
  if (s.shortcutsInhibitManager == nullptr || s.seat == nullptr) return;
  top.shortcutsInhibitor = zwp_keyboard_shortcuts_inhibit_manager_v1_inhibit_shortcuts(
      s.shortcutsInhibitManager, top.surface, s.seat);
}

void ReleaseShortcuts(Toplevel& top) {
  if (top.shortcutsInhibitor != nullptr)
    zwp_keyboard_shortcuts_inhibitor_v1_destroy(top.shortcutsInhibitor);
  top.shortcutsInhibitor = nullptr;
}

void PostUserIsBack(const Window& window) {
  Event event;
  event.type = EventType::KeyDown;
  event.window = HandleOf(&window);
  Post(event);
}

void CheckSaverKeyboardFocus() {
  // Between two of the saver's own surfaces the keyboard leaves one and enters the other in the
  // same batch; only a leave that no enter followed counts.
  WaylandState& s = S();
  if (!s.saverLostKeyboard || s.keyboardFocus != nullptr) return;
  s.saverLostKeyboard = false;
  for (const auto& window : s.windows)
    if (FullScreen(*window)) PostUserIsBack(*window);
}

void MoveCursor(int, int) {
  // A Wayland client cannot move the pointer; over the saver it is hidden instead.
}

}  // namespace host::wayland_detail
