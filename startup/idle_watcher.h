// The idle watcher (quietglass --idle TIME): stays in the session and runs the saver whenever the
// user has been away for TIME. It runs instead of Main, before any window exists.
#pragma once

#include <optional>
#include <string>

// TIME as seconds: a whole number of seconds, or one followed by s, m or h; 1 s to 24 h.
std::optional<double> ParseIdleTime(const std::string& text);
// Watches until the session ends; the process's exit status (2 for a bad TIME).
int RunIdleWatcher(const std::string& time);
