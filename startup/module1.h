// The start-up module: the entry routine, the cursor parking, the dispatching wait, and the
// state that the saver window's exit check shares with it.
#pragma once

#include <cstdint>

// Module-wide state; all zero when the process starts.
struct Module1State {
  float LastMouseX = 0;  // twips: the last pointer position the exit check accepted
  float LastMouseY = 0;
  bool IgnoreNextMove = false;  // absorb the next changed pointer position (grace period)
  bool InPause = false;         // a Pause is running; another one returns at once
};
extern Module1State Module1;

// Decides the mode from the command line and runs it (see module1.cpp).
void Main();
// Moves the cursor to the bottom-right corner and records where it was sent.
void ParkCursor();
// Waits at least `Seconds` seconds by the clock while dispatching events; returns at once for
// 0 or less, or when another Pause is already running.
void Pause(const std::int16_t& Seconds);

// What a fresh process starts with: the shared state zeroed. Main and then the event loop.
void RunProgram();
