// The Wayland host's pixels: wl_shm buffers, taken in turns so that one the compositor may still
// read is never written, and the commits that show them.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/wayland/wayland.h"

namespace host::wayland_detail {
namespace {

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

// The view of one of the layer's buffers.
Pixels View(const Layer& layer, const ShmBuffer& buffer) {
  return {buffer.pixels, buffer.width, layer.box, layer.scale};
}

// Makes the layer's box `box`, keeping what it holds; the rest is `colour` until written. The
// runtime paints a frame in strips from the top, so a box not yet shown grows downwards in place;
// `bottom` is as far as it could go.
void Grow(Layer& layer, const rt::PixelRect& box, int bottom, rt::Pixel colour) {
  const int scale = layer.scale;
  ShmBuffer* only = layer.buffers[1] ? nullptr : layer.buffers[0].get();
  if (layer.front < 0 && only != nullptr && box.x == layer.box.x && box.y == layer.box.y &&
      box.width == layer.box.width && box.height * scale <= only->capacityRows) {
    SetHeight(*only, box.height * scale, colour);
    layer.box = box;
    layer.damage.assign(1, box);
    return;
  }
  auto fresh = NewBuffer(box.width * scale, box.height * scale, (bottom - box.y) * scale, colour);
  if (const int latest = layer.back >= 0 ? layer.back : layer.front; latest >= 0)
    CopyPixels(View(layer, *layer.buffers[latest]), {fresh->pixels, fresh->width, box, scale},
               layer.box);
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
    layer.buffers[1] =
        NewBuffer(layer.box.width * layer.scale, layer.box.height * layer.scale, 0, 0);
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
      CopyPixels(View(layer, *layer.buffers[layer.front]), View(layer, buffer), rect);
  buffer.stale.clear();
  layer.back = chosen;
  return buffer;
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
    if (pixels == nullptr)
      FillPixels(View(layer, buffer), part, colour);
    else  // only read
      CopyPixels({const_cast<rt::Pixel*>(pixels), stride, area, 1}, View(layer, buffer), part);
    rt::AddToBoundedList(layer.damage, part);
  }
}

}  // namespace

void CopyPixels(const Pixels& from, const Pixels& to, const rt::PixelRect& rect) {
  const auto at = [](const Pixels& view, int x, int y) {
    return view.pixels + static_cast<std::ptrdiff_t>((y - view.box.y) * view.scale) * view.stride +
           (x - view.box.x) * view.scale;
  };
  for (int y = rect.y; y < rect.bottom(); ++y) {
    rt::Pixel* row = at(to, rect.x, y);
    if (from.scale == to.scale) {
      for (int r = 0; r < to.scale; ++r)
        std::copy_n(at(from, rect.x, y) + static_cast<std::ptrdiff_t>(r) * from.stride,
                    rect.width * to.scale, row + static_cast<std::ptrdiff_t>(r) * to.stride);
      continue;
    }
    // Each client pixel is a square of one colour at either scale: one sample of it suffices.
    const rt::Pixel* source = at(from, rect.x, y);
    for (int x = 0; x < rect.width; ++x)
      std::fill_n(row + static_cast<std::ptrdiff_t>(x) * to.scale, to.scale,
                  source[static_cast<std::ptrdiff_t>(x) * from.scale]);
    for (int r = 1; r < to.scale; ++r)
      std::copy_n(row, rect.width * to.scale, row + static_cast<std::ptrdiff_t>(r) * to.stride);
  }
}

void FillPixels(const Pixels& to, const rt::PixelRect& rect, rt::Pixel colour) {
  for (int y = (rect.y - to.box.y) * to.scale; y < (rect.bottom() - to.box.y) * to.scale; ++y)
    std::fill_n(
        to.pixels + static_cast<std::ptrdiff_t>(y) * to.stride + (rect.x - to.box.x) * to.scale,
        rect.width * to.scale, colour);
}

void SetLayerScale(Layer& layer, int scale) {
  if (scale == layer.scale) return;
  const int latest = layer.back >= 0 ? layer.back : layer.front;
  if (latest < 0) {  // nothing to keep
    for (auto& buffer : layer.buffers) DropBuffer(buffer);
    layer.front = layer.back = -1;
    layer.scale = scale;
    return;
  }
  const rt::PixelRect box = layer.box;
  auto fresh = NewBuffer(box.width * scale, box.height * scale, 0, 0);
  CopyPixels(View(layer, *layer.buffers[latest]), {fresh->pixels, fresh->width, box, scale}, box);
  layer.scale = scale;
  Replace(layer, std::move(fresh), box);
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

void Replace(Layer& layer, std::unique_ptr<ShmBuffer> fresh, const rt::PixelRect& box) {
  for (auto& buffer : layer.buffers) DropBuffer(buffer);
  layer.buffers[0] = std::move(fresh);
  layer.front = -1;
  layer.back = 0;
  layer.box = box;
  layer.damage.assign(1, box);
}

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
  if (layer.surfaceScale != layer.scale) {
    wl_surface_set_buffer_scale(layer.surface, layer.scale);
    layer.surfaceScale = layer.scale;
  }
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

}  // namespace host::wayland_detail
