// What every X11 client of the program shares, the hosts and the idle watcher alike: the display
// opened within a deadline, and a selection that one process per server holds.
#pragma once

#include <X11/Xlib.h>

#include <string>

namespace x11 {

// Opens the display `name` (DISPLAY's, not empty). A server that takes the connection and never
// answers ends the process after `seconds`, with one line and status 1. Null, with the reason
// on one line (Xlib's own words caught), when it cannot be opened.
Display* OpenDisplay(const std::string& name, unsigned seconds, std::string& error);

// Takes the selection `name` for `owner` unless another client holds it. The server lets go of
// it when its owner's connection closes, after a crash too.
enum class SelectionClaim { Mine, Taken, CannotTell };
SelectionClaim ClaimSelection(Display* display, Window owner, const std::string& name);

}  // namespace x11
