// The Linux hosts' shared pieces: arguments, clocks, waiting and standard descriptors.
#include "platform/posix/posix.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>

namespace posix {

std::string JoinArguments(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) text += (i > 1 ? " " : "") + std::string(argv[i]);
  return text;
}

double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double LocalSecondsSinceMidnight() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec +
         static_cast<double>(now.tv_nsec) / 1e9;
}

short PollFor(int fd, short events, double seconds) {
  const double deadline = MonotonicSeconds() + std::max(0.0, seconds);
  for (;;) {
    const double left = seconds < 0 ? -1 : std::max(0.0, deadline - MonotonicSeconds());
    // Rounded up: waking a little early would only spin until the deadline.
    const int ms = left < 0 ? -1 : static_cast<int>(std::ceil(left * 1000));
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, ms);
    if (ready > 0) return entry.revents;
    if (ready == 0 || errno != EINTR) return 0;
  }
}

void OpenStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", fd == 0 ? O_RDONLY : O_RDWR);
}

}  // namespace posix
