// The idle watcher: waits for the user to be away, runs the saver, and starts over. What the
// desktop says of the user comes from the runtime's idle services (platform/idle.h).
#include "startup/idle_watcher.h"

#include <cstdio>

#include "platform/idle.h"

std::optional<double> ParseIdleTime(const std::string& text) {
  double seconds = 0;
  std::size_t at = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && seconds <= 86400; ++at)
    seconds = seconds * 10 + (text[at] - '0');
  if (at == 0) return std::nullopt;
  const std::string unit = text.substr(at);
  if (unit == "m")
    seconds *= 60;
  else if (unit == "h")
    seconds *= 3600;
  else if (!unit.empty() && unit != "s")
    return std::nullopt;
  if (seconds < 1 || seconds > 86400) return std::nullopt;
  return seconds;
}

int RunIdleWatcher(const std::string& time) {
  const std::optional<double> idleSeconds = ParseIdleTime(time);
  if (!idleSeconds) {
    std::fprintf(stderr,
                 "quietglass: --idle wants a time from 1s to 24h, such as 300, 90s, 4m or "
                 "1h, not '%s'\n",
                 time.c_str());
    return 2;
  }
  std::string error;
  if (!rt::OpenIdleWatch(error)) {
    std::fprintf(stderr, "quietglass: %s\n", error.c_str());
    return 1;
  }
  if (!rt::ClaimIdleWatch()) return 0;  // the session has its watcher already
  for (;;) {
    rt::WaitUntilIdle(*idleSeconds);
    // While a video plays the user may be watching: looked at again after each TIME of it.
    if (rt::IdleInhibited()) {
      rt::WaitForReturn(false, *idleSeconds);
      continue;
    }
    const int status = rt::RunSaver();
    // One saver per idle spell. A saver ends with status 0 when the user is back; one that could
    // not start (another saver or a lock screen covers the screen) or that something else ended
    // waits for input from now on, since what it did on its way (parking the pointer) looks
    // like input to some desktops.
    rt::WaitForReturn(status != 0);
  }
}
