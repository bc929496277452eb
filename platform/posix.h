// What the Linux hosts share below their window systems: the program's arguments, the clocks,
// and descriptors that a start with some of them closed would otherwise lend to other files.
#pragma once

#include <string>

namespace posix {

// The arguments after the program's path, joined by single blanks.
std::string JoinArguments(int argc, char** argv);
// Seconds on the monotonic clock.
double MonotonicSeconds();
// Local time in seconds since midnight, with a fraction.
double LocalSecondsSinceMidnight();

}  // namespace posix
