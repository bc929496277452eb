// The quietglass executable: connect to the window system, then run the program. On Linux
// `--idle TIME` runs the idle watcher instead, without a window of its own.
#include <cstdio>
#include <string>

#include "platform/runtime.h"
#include "startup/module1.h"
#ifdef QG_WITH_IDLE_WATCHER
#include "startup/idle_watcher.h"
#endif

int main(int argc, char** argv) {
#ifdef QG_WITH_IDLE_WATCHER
  if (argc >= 2 && std::string(argv[1]) == "--idle") {
    std::string time;  // one argument; anything more makes it a bad time
    for (int i = 2; i < argc; ++i) time += (i > 2 ? " " : "") + std::string(argv[i]);
    return RunIdleWatcher(time);
  }
#endif
  std::string error;
  if (!rt::StartHost(argc, argv, error)) {
    std::fprintf(stderr, "quietglass: %s\n", error.c_str());
    return 1;
  }
  RunProgram();
  return 0;
}
