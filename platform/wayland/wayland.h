// The Wayland host's shared state and the routines its files call in one another: connection.cpp
// (registry and start-up), outputs.cpp, toplevels.cpp, input.cpp and buffers.cpp.
//
// The saver is one full-screen toplevel per output. Each shows the band colour from a 2 x 2 buffer
// that wp_viewporter stretches over the output, and whatever the runtime presents goes into a
// subsurface only as large as the presented area, so no buffer is the size of the screen (only
// the band's, where the compositor has no wp_viewporter).
#pragma once

#include <wayland-client.h>
#include <wayland-cursor.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "keyboard-shortcuts-inhibit-unstable-v1-client-protocol.h"
#include "platform/host.h"
#include "viewporter-client-protocol.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace host::wayland_detail {

struct Output {
  wl_output* output = nullptr;
  zxdg_output_v1* xdgOutput = nullptr;  // its logical size, where the compositor tells it
  std::uint32_t name = 0;               // the registry's, which global_remove names
  int modeWidth = 0, modeHeight = 0, scale = 1, transform = 0;
  int logicalWidth = 0, logicalHeight = 0;      // from xdg-output; 0 until it has said
  int describedWidth = 0, describedHeight = 0;  // the size the last description gave
  int width = 0, height = 0;  // in desktop pixels; 0 until the output has described itself
};

// A wl_shm buffer in memory of its own, with room to grow downwards: memory no row has been
// written to costs nothing.
struct ShmBuffer {
  wl_shm_pool* pool = nullptr;
  wl_buffer* buffer = nullptr;
  rt::Pixel* pixels = nullptr;  // XRGB8888 is 0xAARRGGBB with the alpha byte ignored
  int width = 0, height = 0, capacityRows = 0;
  bool busy = false;                 // the compositor may still read it
  std::vector<rt::PixelRect> stale;  // shown from the other buffer since this one was
};

// The pixels of one wl_surface: `box` in window client pixels, in up to two buffers that take
// turns, so that a buffer the compositor may still read is never written. At an output's integer
// scale each client pixel is a square of `scale` x `scale` buffer pixels: a compositor that
// filters a scale-1 buffer as it enlarges it would blur the picture.
struct Layer {
  wl_surface* surface = nullptr;
  rt::PixelRect box;
  int scale = 1;
  int surfaceScale = 1;  // the buffer scale the surface has been told, 1 until told otherwise
  std::array<std::unique_ptr<ShmBuffer>, 2> buffers;
  int front = -1;  // the buffer last committed
  int back = -1;   // the buffer being written for the next commit, up to date
  std::vector<rt::PixelRect> damage;
  bool moved = false;  // the subsurface's position must be set again
};

struct Window;

// One xdg_toplevel: for the saver, the one on output `outputName`; for a dialog, the dialog.
struct Toplevel {
  Window* window = nullptr;
  std::uint32_t outputName = 0;
  wl_surface* surface = nullptr;
  xdg_surface* xdgSurface = nullptr;
  xdg_toplevel* toplevel = nullptr;
  wp_viewport* viewport = nullptr;
  zxdg_toplevel_decoration_v1* decoration = nullptr;
  zwp_keyboard_shortcuts_inhibitor_v1* shortcutsInhibitor = nullptr;  // full screen: keys are ours
  bool shownFullScreen = false;  // full screen: the compositor has said it is
  bool serverSideFrame = false;
  bool configured = false;
  int width = 0, height = 0;            // the size the compositor asked for
  std::unique_ptr<ShmBuffer> band;      // full screen: the band colour
  wl_subsurface* subsurface = nullptr;  // full screen: holds `layer`
  Layer layer;
};

struct Window {
  WindowSettings settings;
  int titleBar = 0;  // rows of our own title bar above the client area
  std::vector<std::unique_ptr<Toplevel>> toplevels;
};

struct WaylandState {
  std::string commandLine;
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_compositor* compositor = nullptr;
  wl_subcompositor* subcompositor = nullptr;
  wl_shm* shm = nullptr;
  xdg_wm_base* wmBase = nullptr;
  wp_viewporter* viewporter = nullptr;
  zxdg_decoration_manager_v1* decorations = nullptr;
  zwp_keyboard_shortcuts_inhibit_manager_v1* shortcutsInhibitManager = nullptr;
  zxdg_output_manager_v1* outputManager = nullptr;
  wl_seat* seat = nullptr;
  wl_pointer* pointer = nullptr;
  wl_keyboard* keyboard = nullptr;
  std::vector<std::unique_ptr<Output>> outputs;  // in the order the compositor announced them
  std::vector<std::unique_ptr<Window>> windows;  // index + 1 is the window's handle
  Toplevel* pointerFocus = nullptr;
  double pointerX = 0, pointerY = 0;  // surface-local
  int buttons = 0;
  Window* keyboardFocus = nullptr;
  bool saverLostKeyboard = false;    // the keyboard left the saver, maybe only for another output's
  bool keyboardBeforeSaver = false;  // the seat had its keyboard before the saver was shown
  bool saverHadKeyboard = false;     // the keyboard has entered the saver
  // Keys down when a keyboard that was there before first entered the saver: the last key of
  // another window (the Enter that started it from a terminal), whose release is no new key.
  std::vector<std::uint32_t> keysHeldBefore;
  std::vector<std::uint32_t> keysSeenDown;  // pressed while ours, not yet released
  wl_cursor_theme* cursorTheme = nullptr;   // loaded when the pointer first enters a dialog
  wl_surface* cursorSurface = nullptr;      // shows the arrow over a dialog
  xkb_context* xkbContext = nullptr;
  xkb_keymap* keymap = nullptr;   // the compositor's, which says what each key types
  xkb_state* keyState = nullptr;  // the keymap with the modifiers and layout now in effect
  unsigned long posted = 0;       // events handed to the runtime so far
  std::vector<rt::PixelRect> lastMonitors;
};

// ---- connection.cpp ----
WaylandState& S();
// Hands an event to the runtime and counts it, so that ReadEvents knows when to return.
void Post(const Event& event);
[[noreturn]] void ConnectionLost();
// Sends what waits for the compositor, waiting for room in the socket if need be.
void FlushConnection();
// Reads and handles the compositor's events until one of them is posted to the runtime (or, with
// `anyEvent`, until any arrives) or `timeoutSeconds` pass (negative: for ever; 0: only looks).
void ReadEvents(double timeoutSeconds, bool anyEvent = false);

// ---- outputs.cpp: the desktop is the outputs side by side, in the order they were announced ----
std::vector<Output*> ReadyOutputs();
// The output's rectangle on the desktop; empty when it is not part of it.
rt::PixelRect OutputRect(std::uint32_t name);
// After outputs came, went or changed: every output gets its toplevel, none is left on an output
// that is gone, and the runtime hears of it and paints everything again.
void SyncFullScreenWindows();
// A wl_output the registry announced as `name`; it joins the desktop once it has described itself.
void AddOutput(wl_registry* registry, std::uint32_t name, std::uint32_t version);
// xdg-output's manager, which tells each output's logical size: a fractional scale's too.
void AddOutputManager(wl_registry* registry, std::uint32_t name, std::uint32_t version);
// The registry's global `name` is gone; the desktop follows if it was an output.
void RemoveOutput(std::uint32_t name);
// Lets go of every output and the manager, as the connection closes.
void DropOutputs();
std::vector<rt::PixelRect> Monitors();
// The scale a surface on the output is best shown at: the output's integer scale where that is
// exactly how its pixels map to the desktop's, else 1 (a fractional scale is the compositor's).
int BufferScale(std::uint32_t outputName);

// ---- toplevels.cpp ----
Window* FindWindow(NativeWindow handle);
NativeWindow HandleOf(const Window* window);
bool FullScreen(const Window& window);
// The part of the window's client area that the toplevel shows.
rt::PixelRect ShownArea(const Toplevel& top);
// A toplevel of the window; full screen on `output` when that is given.
Toplevel& AddToplevel(Window& window, Output* output);
void RemoveToplevel(Window& window, Toplevel* top);
FrameExtents FrameFor(const WindowSettings& settings);
NativeWindow CreateWindow(const WindowSettings& settings);

// ---- input.cpp ----
// Listens to the seat, which gains and loses its pointer and keyboard as devices come and go.
void AddSeat(wl_seat* seat);
// Asks the compositor to pass the saver every key, its own shortcuts included; and lets go.
void InhibitShortcuts(Toplevel& top);
void ReleaseShortcuts(Toplevel& top);
// The saver's window was taken from the user's sight (its keyboard focus or its full-screen
// state is gone): the user is back, which the saver hears as a key.
void PostUserIsBack(const Window& window);
// After a batch of the compositor's events: a saver that lost the keyboard to no window of its
// own has been left by the user.
void CheckSaverKeyboardFocus();
void MoveCursor(int x, int y);

// Client pixels `box` held in memory at `scale`, `stride` buffer pixels to a row.
struct Pixels {
  rt::Pixel* pixels = nullptr;
  int stride = 0;
  rt::PixelRect box;
  int scale = 1;
  int surfaceScale = 1;  // the buffer scale the surface has been told, 1 until told otherwise
};

// ---- buffers.cpp ----
// Copies `rect` (client pixels, inside both) from one to the other, each at its own scale.
void CopyPixels(const Pixels& from, const Pixels& to, const rt::PixelRect& rect);
void FillPixels(const Pixels& to, const rt::PixelRect& rect, rt::Pixel colour);
// Shows the layer at `scale` from its next commit, keeping what it holds.
void SetLayerScale(Layer& layer, int scale);
std::unique_ptr<ShmBuffer> NewBuffer(int width, int height, int capacityRows, rt::Pixel colour);
void DropBuffer(std::unique_ptr<ShmBuffer>& buffer);
// The layer's one buffer from now on is `fresh`, covering `box`, all of it to be shown.
void Replace(Layer& layer, std::unique_ptr<ShmBuffer> fresh, const rt::PixelRect& box);
// Shows what was written into the layer since its last commit; false when there was nothing.
bool CommitLayer(Toplevel& top);
// Forgets what the subsurface showed: after the outputs changed, the runtime paints it all anew.
void ClearLayer(Toplevel& top);
void Present(NativeWindow handle, const rt::PixelRect& area, const rt::Pixel* pixels, int stride);
void Fill(NativeWindow handle, const rt::PixelRect& area, rt::Pixel colour);
void Flush();

}  // namespace host::wayland_detail
