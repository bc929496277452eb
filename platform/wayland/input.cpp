// The Wayland host's input: the seat's keyboard and pointer, translated to the runtime's key and
// mouse events.
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-cursor.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix.h"
#include "platform/wayland/wayland.h"

namespace host::wayland_detail {
namespace {

xkb_context* XkbContext() {
  WaylandState& s = S();
  if (s.xkbContext == nullptr) s.xkbContext = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  return s.xkbContext;
}

// The compositor's keymap, which tells what each key types in the user's layout. Where it sends
// none, or one that does not compile, the system's default layout stands in until a good one.
void ReadKeymap(std::uint32_t format, int fd, std::uint32_t size) {
  WaylandState& s = S();
  xkb_keymap* keymap = nullptr;
  if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && XkbContext() != nullptr && size > 0) {
    void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (text != MAP_FAILED) {
      const auto* chars = static_cast<const char*>(text);
      keymap = xkb_keymap_new_from_buffer(XkbContext(), chars, strnlen(chars, size),
                                          XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
      munmap(text, size);
    }
  }
  close(fd);
  if (keymap == nullptr && s.keymap == nullptr && XkbContext() != nullptr)
    keymap = xkb_keymap_new_from_names(XkbContext(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap == nullptr) return;
  if (s.keyState != nullptr) xkb_state_unref(s.keyState);
  if (s.keymap != nullptr) xkb_keymap_unref(s.keymap);
  s.keymap = keymap;
  s.keyState = xkb_state_new(keymap);
}

int ShiftBits() {
  xkb_state* state = S().keyState;
  if (state == nullptr) return 0;
  const auto active = [&](const char* name) {
    return xkb_state_mod_name_is_active(state, name, XKB_STATE_MODS_EFFECTIVE) > 0;
  };
  return (active(XKB_MOD_NAME_SHIFT) ? kShiftMask : 0) |
         (active(XKB_MOD_NAME_CTRL) ? kCtrlMask : 0) | (active(XKB_MOD_NAME_ALT) ? kAltMask : 0);
}

void KeyPressed(std::uint32_t key) {
  WaylandState& s = S();
  Event event;
  event.type = EventType::KeyDown;
  event.window = HandleOf(s.keyboardFocus);
  event.shift = ShiftBits();
  std::uint32_t character = 0;
  if (s.keyState != nullptr) {
    const xkb_keycode_t code = key + 8;  // xkb numbers the keys from evdev's codes plus 8
    xkb_keysym_t named = xkb_state_key_get_one_sym(s.keyState, code);
    // Keypad keys follow Num Lock; every other key is named by its symbol without modifiers,
    // so that Alt+O is the O key wherever the layout puts it.
    if (named < XKB_KEY_KP_Space || named > XKB_KEY_KP_Equal) {
      const xkb_keysym_t* plain = nullptr;
      const xkb_layout_index_t layout = xkb_state_key_get_layout(s.keyState, code);
      if (xkb_keymap_key_get_syms_by_level(s.keymap, code, layout, 0, &plain) > 0) named = plain[0];
    }
    event.keyCode = posix::VirtualKeyOfKeysym(named);
    character = xkb_state_key_get_utf32(s.keyState, code);  // Ctrl+A types 1
  }
  Post(event);
  // The runtime's characters are single bytes; Delete types nothing, as on Windows.
  if (character == 0 || character == 127 || character > 255) return;
  event.type = EventType::KeyPress;
  event.keyChar = static_cast<int>(character);
  Post(event);
}

const wl_keyboard_listener kKeyboardListener = {
    .keymap = [](void*, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                 std::uint32_t size) { ReadKeymap(format, fd, size); },
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
    .modifiers =
        [](void*, wl_keyboard*, std::uint32_t, std::uint32_t depressed, std::uint32_t latched,
           std::uint32_t locked, std::uint32_t group) {
          if (xkb_state* state = S().keyState; state != nullptr)
            xkb_state_update_mask(state, depressed, latched, locked, 0, 0, group);
        },
    .repeat_info = nullptr,  // newer than the version we bind
};

// The arrow from the user's cursor theme (XCURSOR_THEME and XCURSOR_SIZE, as every toolkit
// reads them); libwayland-cursor has cursors of its own where the theme is missing.
wl_cursor_image* Arrow() {
  WaylandState& s = S();
  if (s.cursorTheme == nullptr) {
    const char* theme = std::getenv("XCURSOR_THEME");
    const char* sizeText = std::getenv("XCURSOR_SIZE");
    long size = sizeText != nullptr ? std::strtol(sizeText, nullptr, 10) : 0;
    if (size <= 0 || size > 256) size = 24;  // unset or nonsense: the usual size
    s.cursorTheme = wl_cursor_theme_load(theme != nullptr && *theme != '\0' ? theme : nullptr,
                                         static_cast<int>(size), s.shm);
    if (s.cursorTheme == nullptr) return nullptr;
  }
  wl_cursor* arrow = wl_cursor_theme_get_cursor(s.cursorTheme, "left_ptr");
  if (arrow == nullptr) arrow = wl_cursor_theme_get_cursor(s.cursorTheme, "default");
  return arrow != nullptr && arrow->image_count > 0 ? arrow->images[0] : nullptr;
}

void ShowArrow(wl_pointer* pointer, std::uint32_t serial) {
  WaylandState& s = S();
  wl_cursor_image* image = Arrow();
  if (image == nullptr) return;
  if (s.cursorSurface == nullptr) {
    s.cursorSurface = wl_compositor_create_surface(s.compositor);
    wl_surface_attach(s.cursorSurface, wl_cursor_image_get_buffer(image), 0, 0);
    wl_surface_damage(s.cursorSurface, 0, 0, static_cast<std::int32_t>(image->width),
                      static_cast<std::int32_t>(image->height));
    wl_surface_commit(s.cursorSurface);
  }
  wl_pointer_set_cursor(pointer, serial, s.cursorSurface,
                        static_cast<std::int32_t>(image->hotspot_x),
                        static_cast<std::int32_t>(image->hotspot_y));
}

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
          // Over the dialog the arrow: some compositors show none until the client sets one.
          if (FullScreen(*s.pointerFocus->window))
            wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
          else
            ShowArrow(pointer, serial);
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
            wl_keyboard_add_listener(s.keyboard, &kKeyboardListener, nullptr);
            // A keyboard that joins while the saver is shown (plugged in, a remote desktop's)
            // is someone at the machine: the key that woke it may have come and gone before the
            // compositor gave it to any window.
            const auto saver = std::find_if(s.windows.begin(), s.windows.end(),
                                            [](const auto& w) { return FullScreen(*w); });
            s.keyboardBeforeSaver = saver == s.windows.end();
            if (saver != s.windows.end()) PostUserIsBack(**saver);
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
