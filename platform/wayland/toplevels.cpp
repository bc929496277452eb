// The Wayland host's windows: xdg-shell toplevels, full screen on each output for the saver, and a
// dialog with the compositor's decorations or our own title bar.
#include <algorithm>

#include "platform/canvas.h"
#include "platform/font.h"
#include "platform/posix/posix.h"
#include "platform/wayland/wayland.h"

namespace host::wayland_detail {
namespace {

// Our own title bar, drawn on a dialog where the compositor offers no decorations.
constexpr int kTitleBarHeight = 22;
constexpr rt::Pixel kTitleBarColour = rt::Rgb(0, 0, 0x80),
                    kTitleTextColour = rt::Rgb(255, 255, 255);

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
        [](void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array* states) {
          auto& top = *static_cast<Toplevel*>(data);
          top.width = width;
          top.height = height;
          if (!FullScreen(*top.window)) return;
          bool fullScreen = false;
          for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i)
            fullScreen = fullScreen || static_cast<const std::uint32_t*>(states->data)[i] ==
                                           XDG_TOPLEVEL_STATE_FULLSCREEN;
          // Made a plain window (a key binding, a window rule): the screen is the user's again.
          if (top.shownFullScreen && !fullScreen) PostUserIsBack(*top.window);
          top.shownFullScreen = fullScreen;
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
  const int scale = layer.scale;
  auto fresh = NewBuffer(box.width * scale, box.height * scale, 0, window.settings.background);
  const Pixels to{fresh->pixels, fresh->width, box, scale};
  if (const int latest = layer.back >= 0 ? layer.back : layer.front; latest >= 0)
    CopyPixels({layer.buffers[latest]->pixels, layer.buffers[latest]->width, layer.box, scale}, to,
               {0, 0, width, height});
  if (titleBar > 0) {
    const rt::PixelRect bar{0, -titleBar, width, titleBar};
    std::vector<rt::Pixel> drawn(static_cast<std::size_t>(width) * titleBar);
    rt::Canvas canvas{drawn.data(), width, bar, bar};
    canvas.Fill(bar, kTitleBarColour);
    const rt::BitmapFont& font = rt::kDialogFont;
    rt::DrawText(canvas, 5, bar.y + (bar.height - font.lineHeight) / 2, font,
                 window.settings.caption, kTitleTextColour);
    CopyPixels({drawn.data(), width, bar, 1}, to, bar);
  }
  Replace(layer, std::move(fresh), box);
  window.titleBar = titleBar;
}

// A dialog on an output of another scale than its pixels' is shown again at that output's.
const wl_surface_listener kDialogSurfaceListener = {
    .enter =
        [](void* data, wl_surface*, wl_output* entered) {
          auto& top = *static_cast<Toplevel*>(data);
          for (const auto& output : S().outputs) {
            if (output->output != entered) continue;
            const int scale = BufferScale(output->name);
            if (scale == top.layer.scale) return;
            SetLayerScale(top.layer, scale);
            if (CommitLayer(top)) FlushConnection();
            return;
          }
        },
    .leave = [](void*, wl_surface*, wl_output*) {},
};

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

}  // namespace

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

rt::PixelRect ShownArea(const Toplevel& top) {
  const Window& window = *top.window;
  if (FullScreen(window)) return OutputRect(top.outputName);
  return {0, 0, window.settings.client.width, window.settings.client.height};
}

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
    top->layer.scale = BufferScale(output->name);
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
    InhibitShortcuts(*top);
  } else {
    // Until the dialog is on an output, at the finest scale it may meet.
    for (Output* ready : ReadyOutputs())
      top->layer.scale = std::max(top->layer.scale, BufferScale(ready->name));
    wl_surface_add_listener(top->surface, &kDialogSurfaceListener, top.get());
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
  ReleaseShortcuts(*top);
  xdg_toplevel_destroy(top->toplevel);
  xdg_surface_destroy(top->xdgSurface);
  wl_surface_destroy(top->surface);
  DropBuffer(top->band);
  std::erase_if(window.toplevels, [&](const auto& t) { return t.get() == top; });
}

// After outputs came, went or changed: every output gets its toplevel, none is left on an output

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

}  // namespace host::wayland_detail
