// The switches only the Linux program has, looked at before Main: the idle watcher, the usage and
// the version. Every other command line (and the Windows program's) keeps its meaning.
#pragma once

#include <optional>

// Runs the switch the command line names when it is one of these; the process's exit status.
// Nothing, and nothing done, for any other command line.
std::optional<int> RunLinuxSwitch(int argc, char** argv);
