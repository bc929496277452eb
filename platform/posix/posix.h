// What the Linux hosts share below their window systems: the program's arguments, the clocks,
// waiting on a descriptor with a deadline, standard descriptors, the Wayland compositor's socket,
// names only one process holds, and key symbols' virtual keys.
#pragma once

#include <cstdint>
#include <string>

namespace posix {

// The arguments after the program's path, joined by single blanks.
std::string JoinArguments(int argc, char** argv);
// Seconds on the monotonic clock.
double MonotonicSeconds();
// Local time in seconds since midnight, with a fraction.
double LocalSecondsSinceMidnight();

// Waits until `fd` has one of `events` (POLLIN, POLLOUT) or `seconds` pass (negative: for ever;
// 0: only looks); a signal does not cut the wait short. The events that came; 0 when none did.
short PollFor(int fd, short events, double seconds);

// A program started with descriptor 0, 1 or 2 closed would find its sockets there, and a line
// meant for stderr would land on them: /dev/null fills the gaps. Call before opening anything.
void OpenStandardDescriptors();

// Where a Wayland compositor's socket is: WAYLAND_DISPLAY (wayland-0 when unset) in
// XDG_RUNTIME_DIR, or WAYLAND_DISPLAY itself when it is absolute; empty without XDG_RUNTIME_DIR.
std::string WaylandSocketPath();
// The compositor's socket as its device and inode, the same however WAYLAND_DISPLAY names it;
// the path itself when it cannot be looked at.
std::string WaylandCompositorId();

// Takes the abstract socket `name` until the process ends, however it ends (the kernel frees the
// name then): a name that one process at a time can hold. CannotTell: no socket to be had.
enum class NameClaim { Mine, Taken, CannotTell };
NameClaim ClaimAbstractName(const std::string& name);

// The virtual-key code (platform/keys.h) of an X11 or xkb key symbol; 0 for keys without one.
int VirtualKeyOfKeysym(std::uint32_t keysym);

}  // namespace posix
