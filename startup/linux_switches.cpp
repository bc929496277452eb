// The Linux program's own switches: --idle TIME, --help (-h) and --version.
#include "startup/linux_switches.h"

#include <cstdio>
#include <string>

#include "startup/idle_watcher.h"

namespace {

constexpr char kUsage[] =
    "Usage: quietglass [/s | /c]\n"
    "       quietglass --idle TIME\n"
    "       quietglass --root [--window-id ID]\n"
    "\n"
    "A full-screen screen saver: a dark purple start-up screen and a disk sliding into a drive.\n"
    "\n"
    "  /s              run the saver now; a key press or the mouse ends it\n"
    "  /c, or nothing  show the about dialog\n"
    "  --idle TIME     stay in the session and run the saver whenever there has been no input\n"
    "                  for TIME: seconds, or a number with s, m or h (300, 90s, 4m, 1h)\n"
    "  --root          draw as one of xscreensaver's display modes\n"
    "  --window-id ID  with --root: draw into the X window ID\n"
    "  -h, --help      print this and end\n"
    "  --version       print the version and end\n"
    "\n"
    "Any other switch ends it at once. More in quietglass(6).\n";

}  // namespace

std::optional<int> RunLinuxSwitch(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  const std::string first = argv[1];
  if (first == "--idle") {
    std::string time;  // one argument; anything more makes it a bad time
    for (int i = 2; i < argc; ++i) time += (i > 2 ? " " : "") + std::string(argv[i]);
    return RunIdleWatcher(time);
  }
  if (argc != 2) return std::nullopt;
  if (first == "--help" || first == "-h") {
    std::fputs(kUsage, stdout);
  } else if (first == "--version") {
    std::fputs("quietglass " QG_VERSION "\n", stdout);
  } else {
    return std::nullopt;
  }
  // A full disk or a closed pipe is worth a status: the text did not arrive.
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
