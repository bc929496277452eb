// The runtime services that program code calls: process and environment, the clock, the screen,
// the cursor and event dispatch. Windows and controls are in platform/forms.h.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/picture.h"

namespace rt {

// The command-line argument text: one string, without the program's path.
std::string CommandLineText();
// True when another copy of this program is already running.
bool AnotherInstanceRunning();
// Ends the process at once; no handler of the program runs afterwards.
[[noreturn]] void EndProgram();

// The primary monitor, in twips.
float ScreenWidthTwips();
float ScreenHeightTwips();

// Local time in seconds since midnight, with a fraction.
float ClockSeconds();

// Puts the mouse cursor at (x, y) pixels of the primary monitor, clamped to it.
void SetCursorPos(std::int32_t x, std::int32_t y);

// Runs the handlers of every pending window event and due timer, then repaints; returns without
// waiting. Handlers may call it again (nested dispatch).
void DoEvents();
// Dispatches events and timers, sleeping while nothing is due, until `done` holds (asked after
// every dispatch) or `maxSeconds` have passed (negative: no limit). The one loop of the program:
// the event loop, a modal window and a pause all run here, so nothing ever spins.
void RunUntil(const std::function<bool()>& done, double maxSeconds = -1);

// Decodes a picture built into the program. Our own files never fail to decode; should one be
// damaged, the program stops with a message rather than draw garbage.
Picture LoadBuiltInPicture(std::span<const std::uint8_t> bmp);
Picture LoadBuiltInIcon(std::span<const std::uint8_t> ico, int bitsPerPixel);

// For the program's entry point: connects to the window system (the first linked host that
// finds one, or the one QUIETGLASS_HOST names), and after `Main` has returned, runs the event
// loop for as long as a window is open.
bool StartHost(int argc, char** argv, std::string& error);
void RunEventLoop();

}  // namespace rt
