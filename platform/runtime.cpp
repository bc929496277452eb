// The runtime's process and environment services, the choice of host, the desktop's monitors,
// and the built-in pictures.
#include "platform/runtime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/runtime_internal.h"

namespace rt {

RuntimeState& State() {
  static RuntimeState state;
  return state;
}

const host::Host& Host() {
  RuntimeState& state = State();
  // Tests and tools that run without StartHost use the first host they were linked with.
  if (state.host == nullptr) state.host = host::kLinkedHosts[0];
  return *state.host;
}

void Fail(const std::string& why) {
  std::fprintf(stderr, "quietglass: %s\n", why.c_str());
  Host().EndProcess(1);
  std::_Exit(1);  // a host's end never returns; this only tells the compiler so
}

std::int64_t NowMicros() {
  return std::llround(Host().MonotonicSeconds() * 1e6);
}

Desktop CurrentDesktop() {
  const std::vector<PixelRect> monitors = Host().Monitors();
  Desktop desktop;
  if (monitors.empty()) return desktop;
  desktop.primary = monitors.front();
  for (const PixelRect& monitor : monitors) desktop.bounds = Union(desktop.bounds, monitor);
  return desktop;
}

OpenWindow* WindowOf(const Form& form) {
  for (OpenWindow& window : State().windows)
    if (window.form == &form) return &window;
  return nullptr;
}

OpenWindow* WindowOf(host::NativeWindow native) {
  if (native == 0) return nullptr;
  for (OpenWindow& window : State().windows)
    if (window.native == native) return &window;
  return nullptr;
}

// ---- Process and environment -------------------------------------------------------------

std::string CommandLineText() {
  return Host().CommandLineText();
}
bool AnotherInstanceRunning() {
  // Asked once: the host's claim holds until the process ends.
  RuntimeState& state = State();
  if (!state.instance) state.instance = Host().ClaimInstance();
  return *state.instance != host::InstanceAnswer::Mine;
}
void EndProgram() {
  Host().EndProcess(0);
  std::_Exit(0);
}
float ScreenWidthTwips() {
  return PixelsToTwips(CurrentDesktop().primary.width);
}
float ScreenHeightTwips() {
  return PixelsToTwips(CurrentDesktop().primary.height);
}
float ClockSeconds() {
  return static_cast<float>(Host().ClockSeconds());
}

PixelPoint PlaceCursor(int x, int y) {
  const PixelRect primary = CurrentDesktop().primary;
  if (primary.empty()) return {x, y};
  // Like the window system the program was written for: the cursor stays on the screen.
  const PixelPoint onPrimary{std::clamp(x, 0, primary.width - 1),
                             std::clamp(y, 0, primary.height - 1)};
  Host().MoveCursor(primary.x + onPrimary.x, primary.y + onPrimary.y);
  return onPrimary;
}

void SetCursorPos(std::int32_t x, std::int32_t y) {
  State().cursorSentTo = PixelPoint{x, y};
  PlaceCursor(x, y);
}

bool StartHost(int argc, char** argv, std::string& error) {
  // QUIETGLASS_HOST picks one of the linked hosts by name; otherwise the first whose kind of
  // start this is. A host that is of the kind but fails ends the search: its reason is the one.
  const char* wanted = std::getenv("QUIETGLASS_HOST");
  if (wanted != nullptr && *wanted == '\0') wanted = nullptr;
  bool named = false;
  for (const host::Host* const* candidate = host::kLinkedHosts; *candidate != nullptr;
       ++candidate) {
    if (wanted != nullptr && std::strcmp(wanted, (*candidate)->name) != 0) continue;
    named = true;
    switch ((*candidate)->Start(argc, argv, error)) {
      case host::StartResult::Started:
        State().host = *candidate;
        return true;
      case host::StartResult::Failed:
        return false;
      case host::StartResult::NotThisKind:
        break;  // the last such reason stands if no host starts
    }
  }
  if (wanted != nullptr && !named)
    error = std::string("no host named '") + wanted + "' in this program";
  return false;
}

// ---- Built-in pictures -----------------------------------------------------------------------

Picture LoadBuiltInPicture(std::span<const std::uint8_t> bmp) {
  Picture picture;
  std::string error;
  // Built in: the bytes live as long as the program, so the picture is read in place.
  if (!ViewBmp(bmp, picture, error)) Fail("built-in picture is damaged: " + error);
  return picture;
}

Picture LoadBuiltInIcon(std::span<const std::uint8_t> ico, int bitsPerPixel) {
  Picture picture;
  std::string error;
  if (!DecodeIco(ico, bitsPerPixel, picture, error)) Fail("built-in icon is damaged: " + error);
  return picture;
}

}  // namespace rt
