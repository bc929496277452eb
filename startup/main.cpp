// The quietglass executable: connect to the window system, then run the program. On Linux a few
// switches of its own (the idle watcher, --help, --version) run instead, without a window.
#include <cstdio>
#include <string>

#include "platform/runtime.h"
#include "startup/module1.h"
#ifdef QG_WITH_LINUX_SWITCHES
#include "startup/linux_switches.h"
#endif

int main(int argc, char** argv) {
#ifdef QG_WITH_LINUX_SWITCHES
  if (const std::optional<int> status = RunLinuxSwitch(argc, argv)) return *status;
#endif
  std::string error;
  if (!rt::StartHost(argc, argv, error)) {
    std::fprintf(stderr, "quietglass: %s\n", error.c_str());
    return 1;
  }
  RunProgram();
  return 0;
}
