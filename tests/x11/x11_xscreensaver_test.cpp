// Quietglass as a display mode of Debian's xscreensaver daemon, on an Xvfb with two RandR
// monitors side by side: one copy per monitor, each monitor showing the saver's picture, no
// restart, and every copy gone when xscreensaver deactivates.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// Last: it brings Xlib.
#include "tests/x11/x11_hack_support.h"

namespace x11_e2e {
namespace {

namespace fs = std::filesystem;

constexpr int kMonitorWidth = 1920, kMonitorHeight = 1080;

// The parent of a process, or 0 when it is gone.
pid_t ParentOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line) || line.rfind(')') == std::string::npos) return 0;
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  char state;
  pid_t parent = 0;
  fields >> state >> parent;
  return parent;
}

// Gone, or ended and waiting to be reaped.
bool Ended(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  return !std::getline(in, line) || line.substr(line.rfind(')') + 2, 1) == "Z";
}

std::vector<pid_t> Descendants(pid_t root) {
  std::vector<pid_t> found{root};
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      const pid_t pid = std::stoi(name);
      if (std::find(found.begin(), found.end(), pid) != found.end()) continue;
      if (std::find(found.begin(), found.end(), ParentOf(pid)) == found.end()) continue;
      found.push_back(pid);
      grew = true;
    }
  }
  found.erase(found.begin());
  return found;
}

class Xscreensaver : public X11EndToEnd {
 protected:
  fs::path home;
  Child daemon;

  void TearDown() override {
    if (daemon.pid > 0 && daemon.Running()) {
      // Its helpers and display modes are ended too, by their ids.
      const std::vector<pid_t> helpers = Descendants(daemon.pid);
      kill(daemon.pid, SIGTERM);
      daemon.WaitExit(10);
      for (const pid_t pid : helpers)
        if (!Ended(pid)) kill(pid, SIGTERM);
    }
    if (!home.empty()) fs::remove_all(home);
  }

  // Runs `argv` as nobody with the daemon's HOME and DISPLAY.
  void AsNobody(Child& child, std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    Spawn(child, argv, {"HOME=" + home.string(), "DISPLAY=" + server.name},
          {"XSCREENSAVER_WINDOW", "XAUTHORITY"}, true);
  }

  // Runs xscreensaver-command with `args`; true when it says it was done.
  bool Command(const std::vector<std::string>& args) {
    Child run;
    std::vector<std::string> argv = {"xscreensaver-command"};
    argv.insert(argv.end(), args.begin(), args.end());
    AsNobody(run, argv);
    return run.WaitExit(10) && WIFEXITED(*run.status) && WEXITSTATUS(*run.status) == 0;
  }

  // The display modes xscreensaver has started so far, by pid, with their windows; `print`
  // shows the log's lines.
  std::map<pid_t, std::string> Started(bool print = false) {
    std::ifstream in(home / "log");
    std::map<pid_t, std::string> started;
    const std::string ours = "forked \"" + (home / "quietglass").string() + " --root\" in pid ";
    for (std::string line; std::getline(in, line);) {
      const auto at = line.find(ours);
      if (at == std::string::npos) continue;
      const std::string rest = line.substr(at + ours.size());
      const auto window = rest.find("on window ");
      started[std::stoi(rest)] = window == std::string::npos ? "" : rest.substr(window + 10);
      if (print) std::printf("[ log ] %s\n", line.c_str());
    }
    return started;
  }

  // A HOME for nobody with the program in it (the build tree may be out of nobody's reach) and
  // settings that make xscreensaver quiet and run only Quietglass.
  void MakeHome() {
    char directory[] = "/tmp/quietglass-xscreensaver-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    home = directory;
    fs::copy_file(QG_PROGRAM, home / "quietglass");
    std::ofstream(home / ".xscreensaver")
        << "mode: one\nselected: 0\ntimeout: 1:00:00\ncycle: 0\nlock: False\nsplash: False\n"
           "fade: False\nunfade: False\ndpmsEnabled: False\ngrabDesktopImages: False\n"
           "programs: "
        << (home / "quietglass").string() << " --root \\n\n";
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    for (const fs::path& path : {home, home / "quietglass", home / ".xscreensaver"})
      ASSERT_EQ(chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0) << path;
    ASSERT_EQ(chmod(home.c_str(), 0755), 0);
    ASSERT_EQ(chmod((home / "quietglass").c_str(), 0755), 0);
  }
};

TEST_F(Xscreensaver, RunsOneCopyPerMonitorUntilItDeactivates) {
  if (getuid() != 0) GTEST_SKIP() << "xscreensaver refuses root; starting it as nobody needs root";
  ASSERT_EQ(std::system("command -v xscreensaver xscreensaver-command xrandr >/dev/null"), 0)
      << "xscreensaver or xrandr is missing (install the xscreensaver and x11-xserver-utils "
         "packages)";
  ASSERT_NO_FATAL_FAILURE(server.Start(2 * kMonitorWidth, kMonitorHeight, {"-ac"}));
  ASSERT_NO_FATAL_FAILURE(server.Connect());
  for (const std::vector<std::string>& monitor :
       {std::vector<std::string>{"*LEFT", "1920/508x1080/286+0+0", "screen"},
        std::vector<std::string>{"RIGHT", "1920/508x1080/286+1920+0", "none"}}) {
    Child xrandr;
    Spawn(xrandr, {"xrandr", "--setmonitor", monitor[0], monitor[1], monitor[2]},
          {"DISPLAY=" + server.name}, {}, true);
    ASSERT_TRUE(xrandr.WaitExit(10) && WIFEXITED(*xrandr.status) &&
                WEXITSTATUS(*xrandr.status) == 0)
        << monitor[0];
  }
  ASSERT_NO_FATAL_FAILURE(MakeHome());
  AsNobody(daemon, {"xscreensaver", "--no-splash", "--verbose", "--log", (home / "log").string()});

  // It takes commands once it is up; then it blanks with the first (only) program.
  ASSERT_TRUE(WaitFor([&] { return !daemon.Running() || Command({"-version"}); }, 20));
  ASSERT_TRUE(daemon.Running()) << "xscreensaver ended";
  ASSERT_TRUE(Command({"-select", "1"}));

  // Each monitor shows the saver of a 1920 x 1080 screen.
  const rt::Picture want = HeadlessSaver(kMonitorWidth, kMonitorHeight);
  long differences[2] = {-1, -1};
  std::string first[2];
  WaitFor(
      [&] {
        const rt::Picture shot = Screenshot();
        for (int m = 0; m < 2; ++m)
          differences[m] = DifferencesBesideTheDisk(shot, m * kMonitorWidth, 0, want, first[m]);
        return differences[0] == 0 && differences[1] == 0;
      },
      20);
  EXPECT_EQ(differences[0], 0) << "left monitor, first: " << first[0];
  EXPECT_EQ(differences[1], 0) << "right monitor, first: " << first[1];

  // One start per monitor, each on a window of its own, and none again: xscreensaver restarts
  // a display mode that ends.
  EXPECT_FALSE(WaitFor([&] { return Started().size() > 2; }, 3)) << "a display mode restarted";
  const std::map<pid_t, std::string> started = Started(/*print=*/true);
  ASSERT_EQ(started.size(), 2u);
  EXPECT_NE(started.begin()->second, std::next(started.begin())->second);
  for (const auto& [pid, window] : started) EXPECT_FALSE(Ended(pid)) << pid << " ended";

  // Deactivation sends SIGTERM, and a display mode that ignored it would be left running.
  const double deactivated = Now();
  ASSERT_TRUE(Command({"-deactivate"}));
  const bool allEnded = WaitFor(
      [&] {
        for (const auto& [pid, window] : started)
          if (!Ended(pid)) return false;
        return true;
      },
      10);
  EXPECT_TRUE(allEnded) << "a copy still runs after deactivation";
  std::printf("[ deactivation ] every copy ended within %.0f ms\n", (Now() - deactivated) * 1000);
  EXPECT_TRUE(daemon.Running());
}

}  // namespace
}  // namespace x11_e2e
