// The Wayland host: xdg-shell toplevels, input translated to the runtime's events, pixels in
// wl_shm buffers. Layout, painting and timers stay in the runtime.
//
// The saver is one full-screen toplevel per output. Each shows the band colour from a 2 x 2 buffer
// that wp_viewporter stretches over the output, and whatever the runtime presents goes into a
// subsurface only as large as the presented area, so no buffer is ever the size of the screen.
#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/canvas.h"
#include "platform/font.h"
#include "platform/host.h"
#include "platform/posix/posix.h"
#include "viewporter-client-protocol.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace host {
namespace {

// Our own title bar, drawn on a dialog where the compositor offers no decorations.
constexpr int kTitleBarHeight = 22;
constexpr rt::Pixel kTitleBarColour = rt::Rgb(0, 0, 0x80),
                    kTitleTextColour = rt::Rgb(255, 255, 255);

struct Output {
  wl_output* output = nullptr;
  std::uint32_t name = 0;  // the registry's, which global_remove names
  int modeWidth = 0, modeHeight = 0, scale = 1, transform = 0;
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
// turns, so that a buffer the compositor may still read is never written.
struct Layer {
  wl_surface* surface = nullptr;
  rt::PixelRect box;
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
  wl_seat* seat = nullptr;
  wl_pointer* pointer = nullptr;
  wl_keyboard* keyboard = nullptr;
  std::vector<std::unique_ptr<Output>> outputs;  // in the order the compositor announced them
  std::vector<std::unique_ptr<Window>> windows;  // index + 1 is the window's handle
  Toplevel* pointerFocus = nullptr;
  double pointerX = 0, pointerY = 0;  // surface-local
  int buttons = 0;
  Window* keyboardFocus = nullptr;
  std::uint32_t modifiers = 0;
  unsigned long posted = 0;  // events handed to the runtime so far
  int instanceSocket = -1;
  std::vector<rt::PixelRect> lastMonitors;
};

WaylandState& S() {
  static WaylandState state;
  return state;
}

void Post(const Event& event) {
  ++S().posted;
  rt::PostEvent(event);
}

[[noreturn]] void ConnectionLost() {
  std::fprintf(stderr, "quietglass: lost the Wayland compositor: %s\n",
               std::strerror(wl_display_get_error(S().display)));
  _exit(1);
}

// ---- Outputs: the desktop is the outputs side by side, in the order they were announced ----

std::vector<Output*> ReadyOutputs() {
  std::vector<Output*> ready;
  for (const auto& output : S().outputs)
    if (output->width > 0 && output->height > 0) ready.push_back(output.get());
  return ready;
}

// The output's rectangle on the desktop; empty when it is not part of it.
rt::PixelRect OutputRect(std::uint32_t name) {
  int x = 0;
  for (const Output* output : ReadyOutputs()) {
    if (output->name == name) return {x, 0, output->width, output->height};
    x += output->width;
  }
  return {};
}

// ---- Buffers ---------------------------------------------------------------------------------

const wl_buffer_listener kBufferListener = {
    .release = [](void* data, wl_buffer*) { static_cast<ShmBuffer*>(data)->busy = false; },
};

// A new wl_buffer of `height` rows over the buffer's memory; rows below the old ones get `colour`.
void SetHeight(ShmBuffer& buffer, int height, rt::Pixel colour) {
  if (buffer.buffer != nullptr) wl_buffer_destroy(buffer.buffer);
  std::fill(buffer.pixels + static_cast<std::size_t>(buffer.width) * buffer.height,
            buffer.pixels + static_cast<std::size_t>(buffer.width) * height, colour);
  buffer.height = height;
  buffer.buffer = wl_shm_pool_create_buffer(buffer.pool, 0, buffer.width, height, buffer.width * 4,
                                            WL_SHM_FORMAT_XRGB8888);
  wl_buffer_add_listener(buffer.buffer, &kBufferListener, &buffer);
  buffer.busy = false;
}

std::unique_ptr<ShmBuffer> NewBuffer(int width, int height, int capacityRows, rt::Pixel colour) {
  auto buffer = std::make_unique<ShmBuffer>();
  buffer->width = width;
  buffer->capacityRows = std::max(height, capacityRows);
  const auto bytes = static_cast<std::size_t>(width) * buffer->capacityRows * sizeof(rt::Pixel);
  const int fd = memfd_create("quietglass", MFD_CLOEXEC);
  void* memory = MAP_FAILED;
  if (fd >= 0 && ftruncate(fd, static_cast<off_t>(bytes)) == 0)
    memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (memory == MAP_FAILED) {
    std::fprintf(stderr, "quietglass: no memory for a %d x %d picture: %s\n", width, height,
                 std::strerror(errno));
    _exit(1);
  }
  buffer->pixels = static_cast<rt::Pixel*>(memory);
  buffer->pool = wl_shm_create_pool(S().shm, fd, static_cast<std::int32_t>(bytes));
  close(fd);  // the pool keeps the memory
  SetHeight(*buffer, height, colour);
  return buffer;
}

void DropBuffer(std::unique_ptr<ShmBuffer>& buffer) {
  if (!buffer) return;
  wl_buffer_destroy(buffer->buffer);
  wl_shm_pool_destroy(buffer->pool);
  munmap(buffer->pixels,
         static_cast<std::size_t>(buffer->width) * buffer->capacityRows * sizeof(rt::Pixel));
  buffer.reset();
}

// Copies `rect` (client pixels, inside the box) from one buffer of the layer to another.
void CopyRect(const Layer& layer, const ShmBuffer& from, ShmBuffer& to, const rt::PixelRect& rect) {
  const int stride = layer.box.width;
  for (int y = rect.y; y < rect.bottom(); ++y) {
    const std::size_t at =
        static_cast<std::size_t>(y - layer.box.y) * stride + (rect.x - layer.box.x);
    std::copy(from.pixels + at, from.pixels + at + rect.width, to.pixels + at);
  }
}

// The layer's one buffer from now on is `fresh`, covering `box`, all of it to be shown.
void Replace(Layer& layer, std::unique_ptr<ShmBuffer> fresh, const rt::PixelRect& box) {
  for (auto& buffer : layer.buffers) DropBuffer(buffer);
  layer.buffers[0] = std::move(fresh);
  layer.front = -1;
  layer.back = 0;
  layer.box = box;
  layer.damage.assign(1, box);
}

// Makes the layer's box `box`, keeping what it holds; the rest is `colour` until written. The
// runtime paints a frame in strips from the top, so a box not yet shown grows downwards in place;
// `bottom` is as far as it could go.
void Grow(Layer& layer, const rt::PixelRect& box, int bottom, rt::Pixel colour) {
  ShmBuffer* only = layer.buffers[1] ? nullptr : layer.buffers[0].get();
  if (layer.front < 0 && only != nullptr && box.x == layer.box.x && box.y == layer.box.y &&
      box.width == layer.box.width && box.height <= only->capacityRows) {
    SetHeight(*only, box.height, colour);
    layer.box = box;
    layer.damage.assign(1, box);
    return;
  }
  auto fresh = NewBuffer(box.width, box.height, bottom - box.y, colour);
  if (const int latest = layer.back >= 0 ? layer.back : layer.front; latest >= 0) {
    const ShmBuffer& old = *layer.buffers[latest];
    for (int y = 0; y < layer.box.height; ++y) {
      const rt::Pixel* src = old.pixels + static_cast<std::size_t>(y) * layer.box.width;
      std::copy(src, src + layer.box.width,
                fresh->pixels + static_cast<std::size_t>(layer.box.y + y - box.y) * box.width +
                    (layer.box.x - box.x));
    }
  }
  Replace(layer, std::move(fresh), box);
  layer.moved = true;
}

// A buffer of the layer that the compositor has let go of, brought up to date.
ShmBuffer& WritableBuffer(Layer& layer) {
  if (layer.back >= 0) return *layer.buffers[layer.back];
  const auto free = [&]() -> int {
    for (int i = 0; i < 2; ++i)
      if (layer.buffers[i] && !layer.buffers[i]->busy) return i;
    return -1;
  };
  int chosen = free();
  if (chosen < 0 && !layer.buffers[1]) {
    // The compositor holds the one we have (some keep the shown buffer until it is replaced).
    layer.buffers[1] = NewBuffer(layer.box.width, layer.box.height, 0, 0);
    layer.buffers[1]->stale.assign(1, layer.box);
    chosen = 1;
  }
  if (chosen < 0) {
    // Both held: the older is usually let go as soon as the compositor reads our queue.
    if (wl_display_roundtrip(S().display) < 0) ConnectionLost();
    chosen = free();
    if (chosen < 0) chosen = layer.front == 0 ? 1 : 0;
  }
  ShmBuffer& buffer = *layer.buffers[chosen];
  if (layer.front >= 0 && layer.front != chosen)
    for (const rt::PixelRect& rect : buffer.stale)
      CopyRect(layer, *layer.buffers[layer.front], buffer, rect);
  buffer.stale.clear();
  layer.back = chosen;
  return buffer;
}

// ---- Windows ---------------------------------------------------------------------------------

Window* FindWindow(NativeWindow handle) {
  auto& windows = S().windows;
  if (handle == 0 || handle > windows.size()) return nullptr;
  return windows[handle - 1].get();
}

NativeWindow HandleOf(const Window* window) {
  const auto& windows = S().windows;
  for (std::size_t i = 0; i < windows.size(); ++i)
    if (windows[i].get() == window) return i + 1;
  return 0;
}

bool FullScreen(const Window& window) {
  return window.settings.kind == WindowKind::FullScreen;
}

// The part of the window's client area that the toplevel shows.
rt::PixelRect ShownArea(const Toplevel& top) {
  const Window& window = *top.window;
  if (FullScreen(window)) return OutputRect(top.outputName);
  return {0, 0, window.settings.client.width, window.settings.client.height};
}

// Shows what was written into the layer since its last commit; false when there was nothing.
bool CommitLayer(Toplevel& top) {
  Layer& layer = top.layer;
  // Before the first configure nothing may be attached; the configure commits what waits.
  if (!top.configured || layer.damage.empty() || layer.back < 0) return false;
  const int index = layer.back;
  ShmBuffer& buffer = *layer.buffers[index];
  if (top.subsurface != nullptr && layer.moved) {
    const rt::PixelRect area = ShownArea(top);
    wl_subsurface_set_position(top.subsurface, layer.box.x - area.x, layer.box.y - area.y);
  }
  layer.moved = false;
  wl_surface_attach(layer.surface, buffer.buffer, 0, 0);
  for (const rt::PixelRect& rect : layer.damage)
    wl_surface_damage(layer.surface, rect.x - layer.box.x, rect.y - layer.box.y, rect.width,
                      rect.height);
  wl_surface_commit(layer.surface);
  if (layer.surface != top.surface) wl_surface_commit(top.surface);  // applies the subsurface
  if (auto& other = layer.buffers[1 - index])
    for (const rt::PixelRect& rect : layer.damage) rt::AddToBoundedList(other->stale, rect);
  buffer.busy = true;
  layer.front = index;
  layer.back = -1;
  layer.damage.clear();
  return true;
}

// Puts `area` (window client pixels) from `pixels`, or `colour` where `pixels` is null, into the
// layers of the window's toplevels; a layer grows to hold what the band cannot show.
void Draw(Window& window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride,
          rt::Pixel colour) {
  for (const auto& top : window.toplevels) {
    Layer& layer = top->layer;
    const rt::PixelRect shown = ShownArea(*top);
    rt::PixelRect part = rt::Intersect(area, shown);
    // The band's own colour over the band needs no pixels: the surface below shows it.
    if (pixels == nullptr && colour == window.settings.background)
      part = rt::Intersect(part, layer.box);
    if (part.empty()) continue;
    if (rt::Union(layer.box, part) != layer.box)
      Grow(layer, rt::Union(layer.box, part), shown.bottom(), window.settings.background);
    ShmBuffer& buffer = WritableBuffer(layer);
    for (int y = part.y; y < part.bottom(); ++y) {
      rt::Pixel* dst = buffer.pixels + static_cast<std::size_t>(y - layer.box.y) * layer.box.width +
                       (part.x - layer.box.x);
      if (pixels == nullptr) {
        std::fill(dst, dst + part.width, colour);
      } else {
        const rt::Pixel* src =
            pixels + static_cast<std::ptrdiff_t>(y - area.y) * stride + (part.x - area.x);
        std::copy(src, src + part.width, dst);
      }
    }
    rt::AddToBoundedList(layer.damage, part);
  }
}

// Forgets what the subsurface showed: after the outputs changed, the runtime paints it all anew.
void ClearLayer(Toplevel& top) {
  Layer& layer = top.layer;
  for (auto& buffer : layer.buffers) DropBuffer(buffer);
  layer.box = {};
  layer.front = layer.back = -1;
  layer.damage.clear();
  wl_surface_attach(layer.surface, nullptr, 0, 0);
  wl_surface_commit(layer.surface);
  if (top.configured) wl_surface_commit(top.surface);
}

void PostScreenChanged() {
  Event event;
  event.type = EventType::ScreenChanged;
  Post(event);
}

void SyncFullScreenWindows();

const xdg_surface_listener kXdgSurfaceListener = {
    .configure =
        [](void* data, xdg_surface* surface, std::uint32_t serial) {
          auto& top = *static_cast<Toplevel*>(data);
          xdg_surface_ack_configure(surface, serial);
          top.configured = true;
          if (!FullScreen(*top.window)) {
            // The first paint may be waiting for this; later ones only acknowledge.
            if (!CommitLayer(top) && top.layer.front >= 0) wl_surface_commit(top.surface);
            return;
          }
          // The band fills what the compositor gave us, which is the output as it sees it.
          const rt::PixelRect area = ShownArea(top);
          const int width = top.width > 0 ? top.width : area.width;
          const int height = top.height > 0 ? top.height : area.height;
          if (width <= 0 || height <= 0) return;
          if (top.viewport != nullptr) {
            // The middle of a 2 x 2 buffer: a scaler that samples past the source's edge (pixman
            // does, leaving the last column black) still finds the band's colour there.
            if (!top.band) {
              top.band = NewBuffer(2, 2, 2, top.window->settings.background);
              wp_viewport_set_source(top.viewport, wl_fixed_from_double(0.5),
                                     wl_fixed_from_double(0.5), wl_fixed_from_int(1),
                                     wl_fixed_from_int(1));
            }
            wp_viewport_set_destination(top.viewport, width, height);
          } else {
            DropBuffer(top.band);  // no viewporter: a band as large as the output
            top.band = NewBuffer(width, height, height, top.window->settings.background);
          }
          wl_surface_attach(top.surface, top.band->buffer, 0, 0);
          wl_surface_damage(top.surface, 0, 0, width, height);
          if (!CommitLayer(top)) wl_surface_commit(top.surface);
          // An output whose size we guessed wrong (a fractional scale): the runtime lays out
          // again on the size the compositor uses.
          for (const auto& output : S().outputs) {
            if (output->name != top.outputName ||
                (output->width == width && output->height == height))
              continue;
            output->width = width;
            output->height = height;
            SyncFullScreenWindows();
            break;
          }
        },
};

const xdg_toplevel_listener kToplevelListener = {
    .configure =
        [](void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
          auto& top = *static_cast<Toplevel*>(data);
          top.width = width;
          top.height = height;
        },
    .close =
        [](void* data, xdg_toplevel*) {
          Event event;
          event.type = EventType::CloseRequest;
          event.window = HandleOf(static_cast<Toplevel*>(data)->window);
          Post(event);
        },
    .configure_bounds = nullptr,  // newer than the version we bind
    .wm_capabilities = nullptr,
};

// A dialog's buffer: its client area, with our own title bar above it when `titleBar` rows tall.
// What the client area showed stays; the next commit shows it all.
void LayOutDialog(Toplevel& top, int titleBar) {
  Window& window = *top.window;
  Layer& layer = top.layer;
  const int width = std::max(1, window.settings.client.width);
  const int height = std::max(1, window.settings.client.height);
  xdg_toplevel_set_min_size(top.toplevel, width, height + titleBar);
  xdg_toplevel_set_max_size(top.toplevel, width, height + titleBar);
  const rt::PixelRect box{0, -titleBar, width, height + titleBar};
  auto fresh = NewBuffer(box.width, box.height, box.height, window.settings.background);
  if (const int latest = layer.back >= 0 ? layer.back : layer.front; latest >= 0)
    std::copy_n(layer.buffers[latest]->pixels + static_cast<std::size_t>(window.titleBar) * width,
                static_cast<std::size_t>(width) * height,
                fresh->pixels + static_cast<std::size_t>(titleBar) * width);
  if (titleBar > 0) {
    const rt::PixelRect bar{0, -titleBar, width, titleBar};
    rt::Canvas canvas{fresh->pixels, width, box, bar};
    canvas.Fill(bar, kTitleBarColour);
    const rt::BitmapFont& font = rt::kDialogFont;
    rt::DrawText(canvas, 5, bar.y + (bar.height - font.lineHeight) / 2, font,
                 window.settings.caption, kTitleTextColour);
  }
  Replace(layer, std::move(fresh), box);
  window.titleBar = titleBar;
}

const zxdg_toplevel_decoration_v1_listener kDecorationListener = {
    .configure =
        [](void* data, zxdg_toplevel_decoration_v1*, std::uint32_t mode) {
          auto& top = *static_cast<Toplevel*>(data);
          top.serverSideFrame = mode == ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE;
          // The compositor may take its decorations away later (a window rule): ours instead.
          const int titleBar = top.serverSideFrame ? 0 : kTitleBarHeight;
          if (!top.layer.box.empty() && titleBar != top.window->titleBar)
            LayOutDialog(top, titleBar);  // shown by the configure that follows
        },
};

// A toplevel of the window; full screen on `output` when that is given.
Toplevel& AddToplevel(Window& window, Output* output) {
  WaylandState& s = S();
  auto top = std::make_unique<Toplevel>();
  top->window = &window;
  top->surface = wl_compositor_create_surface(s.compositor);
  wl_surface_set_user_data(top->surface, top.get());
  top->xdgSurface = xdg_wm_base_get_xdg_surface(s.wmBase, top->surface);
  xdg_surface_add_listener(top->xdgSurface, &kXdgSurfaceListener, top.get());
  top->toplevel = xdg_surface_get_toplevel(top->xdgSurface);
  xdg_toplevel_add_listener(top->toplevel, &kToplevelListener, top.get());
  xdg_toplevel_set_app_id(top->toplevel, "quietglass");
  xdg_toplevel_set_title(top->toplevel, window.settings.caption.c_str());
  top->layer.surface = top->surface;
  if (output != nullptr) {
    top->outputName = output->name;
    xdg_toplevel_set_fullscreen(top->toplevel, output->output);
    if (s.viewporter != nullptr)
      top->viewport = wp_viewporter_get_viewport(s.viewporter, top->surface);
    // The presented pixels lie in a subsurface that takes no input: the pointer stays ours.
    top->layer.surface = wl_compositor_create_surface(s.compositor);
    top->subsurface =
        wl_subcompositor_get_subsurface(s.subcompositor, top->layer.surface, top->surface);
    wl_region* none = wl_compositor_create_region(s.compositor);
    wl_surface_set_input_region(top->layer.surface, none);
    wl_region_destroy(none);
    wl_surface_commit(top->layer.surface);
  } else {
    const int width = std::max(1, window.settings.client.width);
    const int height = std::max(1, window.settings.client.height);
    xdg_toplevel_set_min_size(top->toplevel, width, height + window.titleBar);
    xdg_toplevel_set_max_size(top->toplevel, width, height + window.titleBar);
    if (s.decorations != nullptr) {
      top->decoration =
          zxdg_decoration_manager_v1_get_toplevel_decoration(s.decorations, top->toplevel);
      zxdg_toplevel_decoration_v1_add_listener(top->decoration, &kDecorationListener, top.get());
      zxdg_toplevel_decoration_v1_set_mode(top->decoration,
                                           ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
    }
  }
  wl_surface_commit(top->surface);  // no buffer yet: asks for the first configure
  window.toplevels.push_back(std::move(top));
  return *window.toplevels.back();
}

void RemoveToplevel(Window& window, Toplevel* top) {
  WaylandState& s = S();
  if (s.pointerFocus == top) s.pointerFocus = nullptr;
  for (auto& buffer : top->layer.buffers) DropBuffer(buffer);
  if (top->subsurface != nullptr) {
    wl_subsurface_destroy(top->subsurface);
    wl_surface_destroy(top->layer.surface);
  }
  if (top->viewport != nullptr) wp_viewport_destroy(top->viewport);
  if (top->decoration != nullptr) zxdg_toplevel_decoration_v1_destroy(top->decoration);
  xdg_toplevel_destroy(top->toplevel);
  xdg_surface_destroy(top->xdgSurface);
  wl_surface_destroy(top->surface);
  DropBuffer(top->band);
  std::erase_if(window.toplevels, [&](const auto& t) { return t.get() == top; });
}

// After outputs came, went or changed: every output gets its toplevel, none is left on an output
// that is gone, and the runtime hears of it and paints everything again.
void SyncFullScreenWindows() {
  bool any = false;
  for (const auto& window : S().windows) {
    if (!FullScreen(*window)) continue;
    any = true;
    std::vector<Toplevel*> gone;
    for (const auto& top : window->toplevels)
      if (OutputRect(top->outputName).empty()) gone.push_back(top.get());
    for (Toplevel* top : gone) RemoveToplevel(*window, top);
    for (Output* output : ReadyOutputs()) {
      const bool covered =
          std::any_of(window->toplevels.begin(), window->toplevels.end(),
                      [&](const auto& t) { return t->outputName == output->name; });
      if (!covered) AddToplevel(*window, output);
    }
    for (const auto& top : window->toplevels) ClearLayer(*top);
  }
  if (any) PostScreenChanged();
}

// ---- Input -----------------------------------------------------------------------------------

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
        [](void*, wl_keyboard*, std::uint32_t, wl_surface* surface, wl_array*) {
          // A surface we destroyed meanwhile arrives as null.
          auto* top = surface ? static_cast<Toplevel*>(wl_surface_get_user_data(surface)) : nullptr;
          S().keyboardFocus = top != nullptr ? top->window : nullptr;
        },
    .leave = [](void*, wl_keyboard*, std::uint32_t, wl_surface*) { S().keyboardFocus = nullptr; },
    .key =
        [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
           std::uint32_t state) {
          // Only presses: the compositor repeats nothing for us, and we repeat nothing either.
          if (state == WL_KEYBOARD_KEY_STATE_PRESSED && S().keyboardFocus != nullptr)
            KeyPressed(key);
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
            wl_keyboard_add_listener(s.keyboard, &kKeyboardListener, nullptr);
          } else if (!keyboard && s.keyboard != nullptr) {
            wl_keyboard_destroy(s.keyboard);
            s.keyboard = nullptr;
            s.keyboardFocus = nullptr;
          }
        },
    .name = nullptr,  // newer than the version we bind
};

// ---- Globals ---------------------------------------------------------------------------------

const wl_output_listener kOutputListener = {
    .geometry = [](void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   std::int32_t, const char*, const char*,
                   std::int32_t transform) { static_cast<Output*>(data)->transform = transform; },
    .mode =
        [](void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
           std::int32_t) {
          if ((flags & WL_OUTPUT_MODE_CURRENT) == 0) return;
          static_cast<Output*>(data)->modeWidth = width;
          static_cast<Output*>(data)->modeHeight = height;
        },
    .done =
        [](void* data, wl_output*) {
          // Desktop pixels are the compositor's logical ones: it scales our buffers up itself.
          auto& output = *static_cast<Output*>(data);
          const bool turned = output.transform % 2 == 1;  // 90 or 270 degrees, maybe flipped
          const int scale = std::max(1, output.scale);
          const int width = (turned ? output.modeHeight : output.modeWidth) / scale;
          const int height = (turned ? output.modeWidth : output.modeHeight) / scale;
          if (width == output.width && height == output.height) return;
          output.width = width;
          output.height = height;
          SyncFullScreenWindows();
        },
    .scale = [](void* data, wl_output*,
                std::int32_t factor) { static_cast<Output*>(data)->scale = factor; },
    .name = nullptr,  // newer than the version we bind
    .description = nullptr,
};

const xdg_wm_base_listener kWmBaseListener = {
    .ping = [](void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); },
};

template <typename T>
T* Bind(wl_registry* registry, std::uint32_t name, const wl_interface* interface,
        std::uint32_t offered, std::uint32_t wanted) {
  return static_cast<T*>(wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

const wl_registry_listener kRegistryListener = {
    .global =
        [](void*, wl_registry* registry, std::uint32_t name, const char* interface,
           std::uint32_t version) {
          WaylandState& s = S();
          const std::string_view kind = interface;
          if (kind == wl_compositor_interface.name) {
            s.compositor =
                Bind<wl_compositor>(registry, name, &wl_compositor_interface, version, 1);
          } else if (kind == wl_subcompositor_interface.name) {
            s.subcompositor =
                Bind<wl_subcompositor>(registry, name, &wl_subcompositor_interface, version, 1);
          } else if (kind == wl_shm_interface.name) {
            s.shm = Bind<wl_shm>(registry, name, &wl_shm_interface, version, 1);
          } else if (kind == xdg_wm_base_interface.name) {
            s.wmBase = Bind<xdg_wm_base>(registry, name, &xdg_wm_base_interface, version, 1);
            xdg_wm_base_add_listener(s.wmBase, &kWmBaseListener, nullptr);
          } else if (kind == wp_viewporter_interface.name) {
            s.viewporter =
                Bind<wp_viewporter>(registry, name, &wp_viewporter_interface, version, 1);
          } else if (kind == zxdg_decoration_manager_v1_interface.name) {
            s.decorations = Bind<zxdg_decoration_manager_v1>(
                registry, name, &zxdg_decoration_manager_v1_interface, version, 1);
          } else if (kind == wl_seat_interface.name && s.seat == nullptr) {
            s.seat = Bind<wl_seat>(registry, name, &wl_seat_interface, version, 1);
            wl_seat_add_listener(s.seat, &kSeatListener, nullptr);
          } else if (kind == wl_output_interface.name) {
            auto output = std::make_unique<Output>();
            output->name = name;
            output->output = Bind<wl_output>(registry, name, &wl_output_interface, version, 2);
            wl_output_add_listener(output->output, &kOutputListener, output.get());
            s.outputs.push_back(std::move(output));  // joins the desktop once it is done
          }
        },
    .global_remove =
        [](void*, wl_registry*, std::uint32_t name) {
          auto& outputs = S().outputs;
          const auto gone = std::find_if(outputs.begin(), outputs.end(),
                                         [&](const auto& output) { return output->name == name; });
          if (gone == outputs.end()) return;
          wl_output_destroy((*gone)->output);
          outputs.erase(gone);
          SyncFullScreenWindows();
        },
};

// Where the compositor's socket is: WAYLAND_DISPLAY relative to XDG_RUNTIME_DIR, or absolute.
std::string SocketPath() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  const std::string display = name != nullptr && *name != '\0' ? name : "wayland-0";
  if (display.front() == '/') return display;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr ? std::string(runtime) + "/" + display : std::string();
}

// One copy per user and compositor: an abstract socket's name is free again when its process
// ends. The name holds the compositor socket's device and inode, so that every way of naming the
// same compositor gives the same name.
InstanceAnswer BindInstanceSocket() {
  WaylandState& s = S();
  std::string compositor = SocketPath();
  struct stat info {};
  if (stat(compositor.c_str(), &info) == 0)
    compositor = std::to_string(info.st_dev) + "-" + std::to_string(info.st_ino);
  const std::string name = "quietglass-wayland-" + std::to_string(getuid()) + "-" + compositor;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);  // leading 0: the abstract namespace
  s.instanceSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s.instanceSocket < 0) return InstanceAnswer::CannotTell;
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (bind(s.instanceSocket, reinterpret_cast<const sockaddr*>(&address), size) == 0)
    return InstanceAnswer::Mine;
  return errno == EADDRINUSE ? InstanceAnswer::Taken : InstanceAnswer::CannotTell;
}

// Sends what waits for the compositor, waiting for room in the socket if need be.
void FlushConnection() {
  WaylandState& s = S();
  while (wl_display_flush(s.display) < 0) {
    if (errno != EAGAIN) ConnectionLost();
    posix::PollFor(wl_display_get_fd(s.display), POLLOUT, -1);
  }
}

// Reads and handles the compositor's events until one of them is posted to the runtime (or, with
// `anyEvent`, until any arrives) or `timeoutSeconds` pass (negative: for ever; 0: only looks).
void ReadEvents(double timeoutSeconds, bool anyEvent = false) {
  WaylandState& s = S();
  const double deadline = posix::MonotonicSeconds() + std::max(0.0, timeoutSeconds);
  const unsigned long posted = s.posted;
  for (;;) {
    // Events libwayland has read already come first; the socket is read only when poll says so.
    while (wl_display_prepare_read(s.display) != 0)
      if (wl_display_dispatch_pending(s.display) < 0) ConnectionLost();
    if (s.posted != posted) {
      wl_display_cancel_read(s.display);
      return;
    }
    FlushConnection();
    const double left =
        timeoutSeconds < 0 ? -1 : std::max(0.0, deadline - posix::MonotonicSeconds());
    const bool readable = posix::PollFor(wl_display_get_fd(s.display), POLLIN, left) != 0;
    if (readable) {
      if (wl_display_read_events(s.display) < 0) ConnectionLost();
    } else {
      wl_display_cancel_read(s.display);
    }
    if (wl_display_dispatch_pending(s.display) < 0) ConnectionLost();
    if (s.posted != posted || (anyEvent && readable) ||
        (timeoutSeconds >= 0 && posix::MonotonicSeconds() >= deadline))
      return;
  }
}

// ---- The host's entry points -----------------------------------------------------------------

StartResult Start(int argc, char** argv, std::string& error) {
  WaylandState& s = S();
  posix::OpenStandardDescriptors();
  s.commandLine = posix::JoinArguments(argc, argv);
  // xscreensaver's display modes draw into an X window it names: that is the X11 host's work.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--root" || arg == "-root" || arg == "--window-id" || arg == "-window-id") {
      error = "an X11 display mode (" + std::string(arg) + ") is not drawn on Wayland";
      s = WaylandState{};
      return StartResult::NotThisKind;
    }
  }
  const char* named = std::getenv("WAYLAND_DISPLAY");
  const bool socketGiven = std::getenv("WAYLAND_SOCKET") != nullptr;
  if ((named == nullptr || *named == '\0') && !socketGiven &&
      access(SocketPath().c_str(), F_OK) != 0) {
    error = "no Wayland compositor (WAYLAND_DISPLAY is not set)";
    return StartResult::NotThisKind;
  }
  const std::string shown = "the Wayland compositor '" +
                            std::string(named != nullptr && *named != '\0' ? named : "wayland-0") +
                            "'";
  s.display = wl_display_connect(nullptr);
  if (s.display == nullptr) {
    error = "cannot connect to " + shown + ": " + std::strerror(errno);
    return StartResult::Failed;
  }
  s.registry = wl_display_get_registry(s.display);
  wl_registry_add_listener(s.registry, &kRegistryListener, nullptr);
  // The globals, then what the outputs and the seat say about themselves.
  const bool answered =
      wl_display_roundtrip(s.display) >= 0 && wl_display_roundtrip(s.display) >= 0;
  const char* missing = !answered                    ? nullptr
                        : s.compositor == nullptr    ? "wl_compositor"
                        : s.subcompositor == nullptr ? "wl_subcompositor"
                        : s.shm == nullptr           ? "wl_shm"
                        : s.wmBase == nullptr        ? "xdg_wm_base"
                        : ReadyOutputs().empty()     ? "output"
                                                     : nullptr;
  if (answered && missing == nullptr) return StartResult::Started;
  error = answered ? shown + " has no " + missing : shown + " closed the connection";
  wl_display_disconnect(s.display);
  s = WaylandState{};
  return StartResult::Failed;
}

std::string CommandLineText() {
  return S().commandLine;
}

InstanceAnswer ClaimInstance() {
  return BindInstanceSocket();
}

void EndProcess(int status) {
  if (S().display != nullptr) wl_display_flush(S().display);
  _exit(status);  // the compositor drops our surfaces with the connection
}

std::vector<rt::PixelRect> Monitors() {
  WaylandState& s = S();
  std::vector<rt::PixelRect> monitors;
  for (const Output* output : ReadyOutputs()) monitors.push_back(OutputRect(output->name));
  // With every output gone for a moment (a lid closed), the last desktop stays the desktop.
  if (!monitors.empty()) s.lastMonitors = monitors;
  return s.lastMonitors;
}

double MonotonicSeconds() {
  return posix::MonotonicSeconds();
}

double ClockSeconds() {
  return posix::LocalSecondsSinceMidnight();
}

void MoveCursor(int, int) {
  // A Wayland client cannot move the pointer; over the saver it is hidden instead.
}

FrameExtents FrameFor(const WindowSettings& settings) {
  // The compositor's own decorations are out of our hands and never part of the client area.
  if (settings.kind == WindowKind::FullScreen || S().decorations != nullptr) return {};
  return {0, kTitleBarHeight, 0, 0};
}

NativeWindow CreateWindow(const WindowSettings& settings) {
  WaylandState& s = S();
  auto owned = std::make_unique<Window>();
  Window& window = *owned;
  window.settings = settings;
  s.windows.push_back(std::move(owned));
  const NativeWindow handle = s.windows.size();
  if (FullScreen(window)) {
    for (Output* output : ReadyOutputs()) AddToplevel(window, output);
  } else {
    window.titleBar = FrameFor(settings).top;
    AddToplevel(window, nullptr);
  }
  // The first configure comes in answer to the first commit; buffers may be attached after it.
  const double deadline = posix::MonotonicSeconds() + 5;
  const auto configured = [&] {
    return std::all_of(window.toplevels.begin(), window.toplevels.end(),
                       [](const auto& top) { return top->configured; });
  };
  if (wl_display_roundtrip(s.display) < 0) ConnectionLost();
  while (!configured() && posix::MonotonicSeconds() < deadline)
    ReadEvents(deadline - posix::MonotonicSeconds(), true);
  if (!FullScreen(window)) {
    // Our own title bar also where the compositor refused to draw one after all. Shown with the
    // first Flush, once the runtime has painted the client area.
    Toplevel& top = *window.toplevels.front();
    LayOutDialog(top, top.decoration != nullptr && top.serverSideFrame ? 0 : kTitleBarHeight);
  }
  FlushConnection();
  return handle;
}

void Present(NativeWindow handle, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  if (Window* window = FindWindow(handle); window != nullptr)
    Draw(*window, area, pixels, stride, 0);
}

void Fill(NativeWindow handle, const rt::PixelRect& area, rt::Pixel colour) {
  if (Window* window = FindWindow(handle); window != nullptr)
    Draw(*window, area, nullptr, 0, colour);
}

void Flush() {
  for (const auto& window : S().windows)
    for (const auto& top : window->toplevels) CommitLayer(*top);
  FlushConnection();
}

void Wait(double timeoutSeconds) {
  ReadEvents(timeoutSeconds);
}

}  // namespace
}  // namespace host

const host::Host host::kWaylandHost = {
    .name = "wayland",
    .Start = Start,
    .CommandLineText = CommandLineText,
    .ClaimInstance = ClaimInstance,
    .EndProcess = EndProcess,
    .Monitors = Monitors,
    .MonotonicSeconds = MonotonicSeconds,
    .ClockSeconds = ClockSeconds,
    .MoveCursor = MoveCursor,
    .FrameFor = FrameFor,
    .CreateWindow = CreateWindow,
    .Present = Present,
    .Fill = Fill,
    .Flush = Flush,
    .Wait = Wait,
};
