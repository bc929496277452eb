// The contract between the idle watcher's common part (watch.cpp) and a desktop's idle source:
// each source fills one `idle::Source` table.
#pragma once

#include <string>

namespace idle {

enum class OpenResult { Opened, NotThisKind, Failed };
enum class Claim { Mine, Taken };

// What a wait is for: the user away for the given time, the user back after the spell that the
// last Idle wait saw or after the moment of the call, or only the wake descriptor (the events
// that arrive are still read).
enum class Goal { Idle, Return, ReturnFromNow, Nothing };
enum class Wake { Reached, Woken, TimedOut };

struct Source {
  const char* name;
  // Connects; on NotThisKind and Failed, `error` says why on one line.
  OpenResult (*Open)(std::string& error);
  // One watcher per user and session: the claim lasts as long as the connection.
  Claim (*ClaimWatcher)();
  // Sleeps until `goal` is reached (Idle: away for `idleSeconds`), `wakeFd` is readable, or
  // `maxSeconds` pass (negative: no limit). A lost connection ends the watcher (ConnectionLost).
  Wake (*Wait)(Goal goal, double idleSeconds, double maxSeconds, int wakeFd);
  // Whether applications hold the screen on; false where the source's idle time honours them.
  bool (*Inhibited)();
};

extern const Source kGnomeSource, kWaylandSource, kX11Source;

// Takes the abstract socket `name` for as long as the watcher runs (posix::ClaimAbstractName).
// Taken also when nothing can be told: two watchers would start two savers.
Claim ClaimName(const std::string& name);

// Ends the saver and the watcher, with one line on stderr: the session's connection is gone.
[[noreturn]] void ConnectionLost(const std::string& what);

}  // namespace idle
