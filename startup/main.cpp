// The quietglass executable: connect to the window system, then run the program.
#include <cstdio>
#include <string>

#include "platform/runtime.h"
#include "startup/module1.h"

int main(int argc, char** argv) {
  std::string error;
  if (!rt::StartHost(argc, argv, error)) {
    std::fprintf(stderr, "quietglass: %s\n", error.c_str());
    return 1;
  }
  RunProgram();
  return 0;
}
