// The Wayland host's outputs: the desktop is the outputs side by side, in the order the compositor
// announced them, and the saver keeps one full-screen toplevel on each.
#include <algorithm>

#include "platform/wayland/wayland.h"

namespace host::wayland_detail {
namespace {

void PostScreenChanged() {
  Event event;
  event.type = EventType::ScreenChanged;
  Post(event);
}

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

}  // namespace

std::vector<Output*> ReadyOutputs() {
  std::vector<Output*> ready;
  for (const auto& output : S().outputs)
    if (output->width > 0 && output->height > 0) ready.push_back(output.get());
  return ready;
}

rt::PixelRect OutputRect(std::uint32_t name) {
  int x = 0;
  for (const Output* output : ReadyOutputs()) {
    if (output->name == name) return {x, 0, output->width, output->height};
    x += output->width;
  }
  return {};
}

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

void AddOutput(wl_registry* registry, std::uint32_t name, std::uint32_t version) {
  auto output = std::make_unique<Output>();
  output->name = name;
  output->output = static_cast<wl_output*>(
      wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 2u)));
  wl_output_add_listener(output->output, &kOutputListener, output.get());
  S().outputs.push_back(std::move(output));  // joins the desktop once it is done
}

void RemoveOutput(std::uint32_t name) {
  auto& outputs = S().outputs;
  const auto gone = std::find_if(outputs.begin(), outputs.end(),
                                 [&](const auto& output) { return output->name == name; });
  if (gone == outputs.end()) return;
  wl_output_destroy((*gone)->output);
  outputs.erase(gone);
  SyncFullScreenWindows();
}

std::vector<rt::PixelRect> Monitors() {
  WaylandState& s = S();
  std::vector<rt::PixelRect> monitors;
  for (const Output* output : ReadyOutputs()) monitors.push_back(OutputRect(output->name));
  // With every output gone for a moment (a lid closed), the last desktop stays the desktop.
  if (!monitors.empty()) s.lastMonitors = monitors;
  return s.lastMonitors;
}

}  // namespace host::wayland_detail
