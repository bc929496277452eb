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

// The mode as the desktop sees it: turned by 90 or 270 degrees (maybe flipped), it stands on end.
int UprightModeWidth(const Output& output) {
  return output.transform % 2 == 1 ? output.modeHeight : output.modeWidth;
}
int UprightModeHeight(const Output& output) {
  return output.transform % 2 == 1 ? output.modeWidth : output.modeHeight;
}

// The output's size on the desktop: its logical size where xdg-output tells it, else its mode over
// its integer scale (which a fractional scale gets wrong until the full-screen configure says
// better). Compositors describe an output again on any change of theirs, even of nothing: only a
// new description is news, so that a size the configure corrected stays.
void Describe(Output& output) {
  int width = output.logicalWidth, height = output.logicalHeight;
  if (width <= 0 || height <= 0) {
    const int scale = std::max(1, output.scale);
    width = UprightModeWidth(output) / scale;
    height = UprightModeHeight(output) / scale;
  }
  if (width == output.describedWidth && height == output.describedHeight) return;
  output.describedWidth = width;
  output.describedHeight = height;
  if (width == output.width && height == output.height) return;
  output.width = width;
  output.height = height;
  SyncFullScreenWindows();
}

const zxdg_output_v1_listener kXdgOutputListener = {
    .logical_position = [](void*, zxdg_output_v1*, std::int32_t, std::int32_t) {},
    .logical_size =
        [](void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
          static_cast<Output*>(data)->logicalWidth = width;
          static_cast<Output*>(data)->logicalHeight = height;
        },
    // Before version 3 its own done ends the description; from 3 on, wl_output's does.
    .done = [](void* data, zxdg_output_v1*) { Describe(*static_cast<Output*>(data)); },
    .name = [](void*, zxdg_output_v1*, const char*) {},
    .description = [](void*, zxdg_output_v1*, const char*) {},
};

void WatchLogicalSize(Output& output) {
  WaylandState& s = S();
  if (s.outputManager == nullptr || output.xdgOutput != nullptr) return;
  output.xdgOutput = zxdg_output_manager_v1_get_xdg_output(s.outputManager, output.output);
  zxdg_output_v1_add_listener(output.xdgOutput, &kXdgOutputListener, &output);
}

void Destroy(Output& output) {
  if (output.xdgOutput != nullptr) zxdg_output_v1_destroy(output.xdgOutput);
  wl_output_destroy(output.output);
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
    .done = [](void* data, wl_output*) { Describe(*static_cast<Output*>(data)); },
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
    for (const auto& top : window->toplevels) {
      top->layer.scale = BufferScale(top->outputName);
      ClearLayer(*top);
    }
  }
  if (any) PostScreenChanged();
}

void AddOutput(wl_registry* registry, std::uint32_t name, std::uint32_t version) {
  auto output = std::make_unique<Output>();
  output->name = name;
  output->output = static_cast<wl_output*>(
      wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 2u)));
  wl_output_add_listener(output->output, &kOutputListener, output.get());
  WatchLogicalSize(*output);
  S().outputs.push_back(std::move(output));  // joins the desktop once it is done
}

void AddOutputManager(wl_registry* registry, std::uint32_t name, std::uint32_t version) {
  WaylandState& s = S();
  if (s.outputManager != nullptr) return;
  s.outputManager = static_cast<zxdg_output_manager_v1*>(
      wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, std::min(version, 3u)));
  for (const auto& output : s.outputs) WatchLogicalSize(*output);
}

void DropOutputs() {
  WaylandState& s = S();
  for (const auto& output : s.outputs) Destroy(*output);
  s.outputs.clear();
  if (s.outputManager != nullptr) zxdg_output_manager_v1_destroy(s.outputManager);
  s.outputManager = nullptr;
}

void RemoveOutput(std::uint32_t name) {
  auto& outputs = S().outputs;
  const auto gone = std::find_if(outputs.begin(), outputs.end(),
                                 [&](const auto& output) { return output->name == name; });
  if (gone == outputs.end()) return;
  Destroy(**gone);
  outputs.erase(gone);
  SyncFullScreenWindows();
}

int BufferScale(std::uint32_t name) {
  if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(S().compositor)) <
      WL_SURFACE_SET_BUFFER_SCALE_SINCE_VERSION)
    return 1;
  for (const Output* output : ReadyOutputs()) {
    if (output->name != name) continue;
    const int scale = std::max(1, output->scale);
    const bool exact = UprightModeWidth(*output) == output->width * scale &&
                       UprightModeHeight(*output) == output->height * scale;
    return exact ? scale : 1;
  }
  return 1;
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
