// The capture tool: its options, and that its PNG is the headless screen at that moment.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "assets/assets.h"
#include "platform/runtime.h"
#include "saver/frm_screen_saver.h"
#include "test_support.h"
#include "tools/png_writer.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status;
  std::string stderrText;
};

ToolRun RunTool(const std::string& args) {
  const fs::path err = fs::temp_directory_path() /
                       ("qg-capture-err-" +
                        std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".txt");
  const std::string command = std::string(QG_CAPTURE_TOOL) + " " + args + " 2> " + err.string();
  const int status = std::system(command.c_str());
  std::ifstream in(err);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(err);
  return {status, text};
}

TEST(CaptureTool, RejectsBadOptionsWithOneLine) {
  const fs::path out = fs::temp_directory_path() / "qg-never-written.png";
  const std::string o = " --out " + out.string();
  for (const std::string& args : std::vector<std::string>{
           "--screen 1024x768 --ticks 3", "--screen 0x768" + o, "--screen 1024" + o,
           "--screen 1024x768x2" + o, "--ticks -1" + o, "--ticks 1e3" + o, "--ticks",
           "--bogus 1" + o, "--screen 99999x1" + o, "--out /nonexistent-dir/x.png"}) {
    SCOPED_TRACE(args);
    const ToolRun run = RunTool(args);
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(std::count(run.stderrText.begin(), run.stderrText.end(), '\n'), 1);
    EXPECT_TRUE(run.stderrText.starts_with("quietglass-capture: "));
  }
  EXPECT_FALSE(fs::exists(out));
}

TEST(CaptureTool, WritesTheScreenAfterTheTicks) {
  struct Case {
    int width, height, ticks;
    std::string args;
  } cases[] = {{1024, 768, 17, ""}, {640, 480, 3, "-- /s"}, {300, 200, 0, "-- /p 1234"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const fs::path out = fs::temp_directory_path() / "qg-capture-test.png";
    const ToolRun run =
        RunTool("--screen " + std::to_string(c.width) + "x" + std::to_string(c.height) +
                " --ticks " + std::to_string(c.ticks) + " --out " + out.string() + " " + c.args);
    ASSERT_EQ(run.status, 0) << run.stderrText;
    std::ifstream in(out, std::ios::binary);
    const std::vector<std::uint8_t> written((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());
    fs::remove(out);

    auto config =
        testing_support::Screen(c.width, c.height, c.args.empty() ? "/S" : c.args.substr(3),
                                c.ticks * kTickMilliseconds / 1000.0);
    testing_support::RunQuietglass(config);
    EXPECT_EQ(written, tools::EncodePng(headless::Capture()));
  }
}

}  // namespace
