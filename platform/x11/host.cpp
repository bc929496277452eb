// The X11 host's table: windows of its own on the display in DISPLAY. The work is in the other
// files of this folder (x11_internal.h).
#include <unistd.h>

#include "platform/posix/posix.h"
#include "platform/x11/x11_internal.h"

namespace host {
namespace {

using namespace x11_detail;

StartResult Start(int argc, char** argv, std::string& error) {
  if (!Connect(argc, argv, error))
    return S().noDisplay ? StartResult::NotThisKind : StartResult::Failed;
  return StartResult::Started;
}

std::string CommandLineText() {
  return S().commandLine;
}

InstanceAnswer ClaimInstance() {
  return ClaimSelection("_QUIETGLASS_" + std::to_string(getuid()));
}

std::vector<rt::PixelRect> Monitors() {
  return S().monitors;
}

void MoveCursor(int x, int y) {
  XWarpPointer(S().display, None, S().root, 0, 0, 0, 0, x, y);
  XFlush(S().display);
}

void Present(NativeWindow window, const rt::PixelRect& area, const rt::Pixel* pixels, int stride) {
  PutPixels(window, area, pixels, stride);
}

void Fill(NativeWindow window, const rt::PixelRect& area, rt::Pixel colour) {
  FillArea(window, area, colour);
}

void Wait(double timeoutSeconds) {
  WaitForEvents(timeoutSeconds, Translate);
}

}  // namespace
}  // namespace host

const host::Host host::kX11Host = {
    .name = "x11",
    .Start = Start,
    .CommandLineText = CommandLineText,
    .ClaimInstance = ClaimInstance,
    .EndProcess = host::x11_detail::EndProcess,
    .Monitors = Monitors,
    .MonotonicSeconds = posix::MonotonicSeconds,
    .ClockSeconds = posix::LocalSecondsSinceMidnight,
    .MoveCursor = MoveCursor,
    .FrameFor = host::x11_detail::DialogFrame,
    .CreateWindow = host::x11_detail::CreateX11Window,
    .Present = Present,
    .Fill = Fill,
    .Flush = host::x11_detail::FlushRequests,
    .Wait = Wait,
};
