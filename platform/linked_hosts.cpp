// Which hosts an executable carries, in the order the runtime tries them: the build compiles this
// file once per host set (QG_HOSTS_HEADLESS, QG_HOSTS_WIN32, or the Linux desktop's).
#include "platform/host.h"

#if defined(QG_HOSTS_HEADLESS)
const host::Host* const host::kLinkedHosts[] = {&kHeadlessHost, nullptr};
#elif defined(QG_HOSTS_WIN32)
const host::Host* const host::kLinkedHosts[] = {&kWin32Host, nullptr};
#elif defined(QG_WITH_WAYLAND)
// A Wayland session's compositor first: under it an X11 window is only a guest of XWayland.
const host::Host* const host::kLinkedHosts[] = {&kWaylandHost, &kX11Host, nullptr};
#else
const host::Host* const host::kLinkedHosts[] = {&kX11Host, nullptr};
#endif
