// Shared helpers for tests that run the program on the headless host.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/headless.h"
#include "saver/frm_screen_saver.h"
#include "startup/module1.h"

namespace testing_support {

// Runs the whole program (Main, then the event loop) with `args` as its command line.
inline headless::RunResult RunQuietglass(headless::Config config,
                                         std::vector<headless::Input> script = {}) {
  return headless::Run(config, std::move(script), RunProgram);
}

inline headless::Config Screen(int width, int height, std::string args = "/S",
                               double seconds = 10) {
  headless::Config config;
  config.screen = {width, height};
  config.commandLine = std::move(args);
  config.runSeconds = seconds;
  return config;
}

inline frmScreenSaver& Saver() {
  frmScreenSaver* saver = rt::FindForm<frmScreenSaver>();
  if (saver == nullptr) throw std::logic_error("no saver window");
  return *saver;
}

}  // namespace testing_support
