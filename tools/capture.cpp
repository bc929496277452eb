// quietglass-capture: runs the program on the headless host for a number of animation ticks and
// writes the screen as it then stands to a PNG.
//   quietglass-capture --screen 1024x768 --ticks 17 --out frame.png [-- ARGS...]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/headless.h"
#include "saver/frm_screen_saver.h"
#include "startup/module1.h"
#include "tools/png_writer.h"

namespace {

constexpr int kMaxSide = 16384;
constexpr long kMaxTicks = 1000000;

int Fail(const std::string& message) {
  std::fprintf(stderr, "quietglass-capture: %s\n", message.c_str());
  return 2;
}

bool ParseNumber(std::string_view text, long max, long& out) {
  if (text.empty() || text.size() > 9) return false;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > max) return false;
  out = value;
  return true;
}

bool ParseScreen(std::string_view text, rt::PixelSize& out) {
  const auto x = text.find('x');
  long w = 0, h = 0;
  if (x == std::string_view::npos || !ParseNumber(text.substr(0, x), kMaxSide, w) ||
      !ParseNumber(text.substr(x + 1), kMaxSide, h) || w < 1 || h < 1)
    return false;
  out = {static_cast<int>(w), static_cast<int>(h)};
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  headless::Config config;
  long ticks = 0;
  std::string out;
  bool haveArgs = false;
  std::string args;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") {
      haveArgs = true;
      for (int j = i + 1; j < argc; ++j) args += (j > i + 1 ? " " : "") + std::string(argv[j]);
      break;
    }
    if (i + 1 >= argc) return Fail("option " + std::string(arg) + " needs a value");
    const std::string_view value = argv[++i];
    if (arg == "--screen") {
      if (!ParseScreen(value, config.screen))
        return Fail("--screen takes WIDTHxHEIGHT, each 1 to 16384 pixels, not '" +
                    std::string(value) + "'");
    } else if (arg == "--ticks") {
      if (!ParseNumber(value, kMaxTicks, ticks))
        return Fail("--ticks takes a whole number from 0 to 1000000, not '" + std::string(value) +
                    "'");
    } else if (arg == "--out") {
      out = value;
    } else {
      return Fail("unknown option " + std::string(arg));
    }
  }
  if (out.empty()) return Fail("--out FILE.png is required");
  config.commandLine = haveArgs ? args : "/S";
  config.runSeconds = static_cast<double>(ticks) * kTickMilliseconds / 1000.0;

  headless::Run(config, {}, RunProgram);
  std::string error;
  if (!tools::WritePng(out, headless::Capture(), error)) return Fail(error);
  return 0;
}
