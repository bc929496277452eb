// The X11 host's monitors (RandR 1.5, else Xinerama, else the screen) and the screen changes
// that the full-screen windows follow.
#ifdef QG_WITH_XRANDR
#include <X11/extensions/Xrandr.h>
#endif
#ifdef QG_WITH_XINERAMA
#include <X11/extensions/Xinerama.h>
#endif

#include <algorithm>

#include "platform/x11/x11_internal.h"

namespace host::x11_detail {

// The monitors, primary first: RandR 1.5's list where the server has it, Xinerama's screens
// otherwise, and the whole screen when neither says more.
std::vector<rt::PixelRect> QueryMonitors() {
  X11State& s = S();
  std::vector<rt::PixelRect> monitors;
#ifdef QG_WITH_XRANDR
  int eventBase, errorBase;
  if (XRRQueryExtension(s.display, &eventBase, &errorBase)) {
    // A server older than RandR 1.5 answers with an error instead of the list: no version
    // query first, which would cost every start a round trip.
    int count = 0;
    BeginTrap();
    XRRMonitorInfo* info = XRRGetMonitors(s.display, s.root, True, &count);
    if (!EndTrapAfterReply() || info == nullptr) count = 0;
    s.randrMonitors = info != nullptr && count > 0;
    for (int i = 0; i < count; ++i) {
      const rt::PixelRect monitor{info[i].x, info[i].y, info[i].width, info[i].height};
      if (monitor.empty()) continue;
      if (info[i].primary)
        monitors.insert(monitors.begin(), monitor);
      else
        monitors.push_back(monitor);
    }
    if (info != nullptr) XRRFreeMonitors(info);
  }
#endif
#ifdef QG_WITH_XINERAMA
  if (monitors.empty() && XineramaIsActive(s.display)) {
    int count = 0;
    XineramaScreenInfo* info = XineramaQueryScreens(s.display, &count);
    for (int i = 0; i < count; ++i)
      monitors.push_back({info[i].x_org, info[i].y_org, info[i].width, info[i].height});
    if (info != nullptr) XFree(info);
  }
#endif
  // A monitor keeps its size when the screen shrinks under it (xrandr --fb): only what lies on
  // the screen counts, or the pointer would be parked where the server cannot put it.
  const rt::PixelRect screen{0, 0, DisplayWidth(s.display, s.screen),
                             DisplayHeight(s.display, s.screen)};
  for (rt::PixelRect& monitor : monitors) monitor = rt::Intersect(monitor, screen);
  std::erase_if(monitors, [](const rt::PixelRect& monitor) { return monitor.empty(); });
  if (monitors.empty()) monitors.push_back(screen);
  return monitors;
}

// The bounding box of the monitors: where the full-screen windows lie, in root coordinates.
rt::PixelRect DesktopBounds() {
  rt::PixelRect bounds;
  for (const rt::PixelRect& monitor : S().monitors) bounds = rt::Union(bounds, monitor);
  return bounds;
}

// The desktop changed: a RandR change of the screen, its outputs or its CRTCs, or the root
// window resized. Xlib's idea of the screen's size follows it.
bool IsScreenChange(XEvent& xevent) {
  X11State& s = S();
#ifdef QG_WITH_XRANDR
  if (s.randrEventBase >= 0 && (xevent.type == s.randrEventBase + RRScreenChangeNotify ||
                                xevent.type == s.randrEventBase + RRNotify)) {
    XRRUpdateConfiguration(&xevent);
    return true;
  }
#endif
  if (xevent.type != ConfigureNotify) return false;
  for (int i = 0; i < ScreenCount(s.display); ++i) {
    if (xevent.xconfigure.window != RootWindow(s.display, i)) continue;
#ifdef QG_WITH_XRANDR
    XRRUpdateConfiguration(&xevent);
#else
    ScreenOfDisplay(s.display, i)->width = xevent.xconfigure.width;
    ScreenOfDisplay(s.display, i)->height = xevent.xconfigure.height;
#endif
    return true;
  }
  return false;
}

// Asks for the monitors again; when they changed, the full-screen windows cover the new desktop
// before the runtime hears of it. One change brings several events, so most change nothing.
bool FollowScreenChange() {
  X11State& s = S();
  for (const auto& [screen, band] : s.bands)
    XResizeWindow(s.display, band, static_cast<unsigned>(DisplayWidth(s.display, screen)),
                  static_cast<unsigned>(DisplayHeight(s.display, screen)));
  std::vector<rt::PixelRect> monitors = QueryMonitors();
  if (monitors == s.monitors) return false;
  s.monitors = std::move(monitors);
  const rt::PixelRect bounds = DesktopBounds();
  for (const Window window : s.fullScreens)
    XMoveResizeWindow(s.display, window, bounds.x, bounds.y,
                      static_cast<unsigned>(std::max(1, bounds.width)),
                      static_cast<unsigned>(std::max(1, bounds.height)));
  Event out;
  out.type = EventType::ScreenChanged;
  rt::PostEvent(out);
  return true;
}

}  // namespace host::x11_detail
