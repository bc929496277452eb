// A test tool for the Windows program's tests: sets the primary display's resolution, as a user
// does in the display settings, and says on stdout whether Windows took it.
//   change_resolution.exe WIDTH HEIGHT
#define WIN32_LEAN_AND_MEAN
#define UNICODE
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: change_resolution WIDTH HEIGHT\n");
    return 2;
  }
  DEVMODEW mode{};
  mode.dmSize = sizeof mode;
  mode.dmPelsWidth = static_cast<DWORD>(std::atoi(argv[1]));
  mode.dmPelsHeight = static_cast<DWORD>(std::atoi(argv[2]));
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
  const LONG result = ChangeDisplaySettingsW(&mode, 0);
  std::printf("ChangeDisplaySettings %sx%s: %ld\n", argv[1], argv[2], result);
  return result == DISP_CHANGE_SUCCESSFUL ? 0 : 1;
}
