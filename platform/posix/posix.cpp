// The Linux hosts' shared pieces: arguments, clocks, waiting and standard descriptors.
#include "platform/posix/posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
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

std::string WaylandSocketPath() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  const std::string display = name != nullptr && *name != '\0' ? name : "wayland-0";
  if (display.front() == '/') return display;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr ? std::string(runtime) + "/" + display : std::string();
}

std::string WaylandCompositorId() {
  const std::string path = WaylandSocketPath();
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return path;
  return std::to_string(info.st_dev) + "-" + std::to_string(info.st_ino);
}

NameClaim ClaimAbstractName(const std::string& name) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, name.data(), length);  // leading 0: the abstract namespace
  // Never closed: the name is held until the process ends.
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return NameClaim::CannotTell;
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) return NameClaim::Mine;
  const int error = errno;
  close(fd);
  return error == EADDRINUSE ? NameClaim::Taken : NameClaim::CannotTell;
}

}  // namespace posix
