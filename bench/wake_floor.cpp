// quietglass_wake_floor: what this machine charges a process for waking alone. It does nothing
// but sleep 150 ms at a time (as the saver's animation timer does; or INTERVAL_MS) for the given
// seconds, then prints the CPU it was charged for that in milliseconds (schedstat; its own start
// left out).
//   quietglass_wake_floor [SECONDS [INTERVAL_MS]]
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

double ChargedMilliseconds() {
  std::ifstream schedstat("/proc/self/schedstat");
  double nanoseconds = 0;
  schedstat >> nanoseconds;
  return nanoseconds / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
  const int interval = argc > 2 ? std::atoi(argv[2]) : 150;
  const double before = ChargedMilliseconds();
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) poll(nullptr, 0, interval);
  std::printf("%.1f\n", ChargedMilliseconds() - before);
}
