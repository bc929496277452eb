// The services of the idle watcher: what the desktop says of the user's presence, one watcher
// per session, and the saver run as a child process. Linux only; program code calls these.
#pragma once

#include <string>

namespace rt {

// Connects to the desktop's idle source (GNOME's idle monitor, a Wayland compositor's idle
// notifications, or the X server's idle time). False, with the reason on one line, where the
// desktop gives no way to know how long the user has been away.
bool OpenIdleWatch(std::string& error);
// True when this is the one watcher of its session; false when another one already watches.
bool ClaimIdleWatch();
// Sleeps until the user has been away for `seconds`.
void WaitUntilIdle(double seconds);
// Sleeps until the user is back, or until `maxSeconds` pass (negative: no limit); true when the
// user came back. Back means input since the idle spell WaitUntilIdle saw (which may have come
// already) or, `sinceNow`, input from now on.
bool WaitForReturn(bool sinceNow, double maxSeconds = -1);
// True while the user's applications ask the desktop to keep the screen on (a playing video).
bool IdleInhibited();
// Runs this program's saver (the same executable with /s) and waits for it to end; its exit
// status (128 + the signal when a signal ended it).
int RunSaver();

}  // namespace rt
