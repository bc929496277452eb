// What the Linux hosts share below their window systems: the program's arguments, the clocks,
// waiting on a descriptor with a deadline, standard descriptors, and key symbols' virtual keys.
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

// The virtual-key code (platform/keys.h) of an X11 or xkb key symbol; 0 for keys without one.
int VirtualKeyOfKeysym(std::uint32_t keysym);

}  // namespace posix
