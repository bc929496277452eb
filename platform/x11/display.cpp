// The display opened within a deadline with Xlib's words kept to one line, and the selection
// that one process per server holds: shared by the X11 hosts and the idle watcher.
#include "platform/x11/display.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace x11 {
namespace {

// The line is made before the alarm is set: the handler may only write and end.
char unansweredLine[256];
std::size_t unansweredLength = 0;
int unansweredFd = STDERR_FILENO;  // stderr may be caught in a pipe while connecting
void DisplayDoesNotAnswer(int) {
  signal(SIGPIPE, SIG_IGN);  // a reader of stderr that has gone costs the line, not the status
  [[maybe_unused]] const ssize_t written = write(unansweredFd, unansweredLine, unansweredLength);
  _exit(1);
}

}  // namespace

Display* OpenDisplay(const std::string& name, unsigned seconds, std::string& error) {
  // Xlib prints a server's refusal on stderr itself; catch it so the reason stays on one line.
  // The catching takes three descriptors; it is given up unless two are left beside them, for
  // the connection and the authority file that Xlib opens while connecting.
  int pipeFds[2];
  bool catching = pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) == 0;
  const int savedStderr = catching ? fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0) : -1;
  const int spare[2] = {catching ? fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0) : -1,
                        catching ? fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0) : -1};
  for (const int fd : spare)
    if (fd >= 0) close(fd);
  if (catching && (savedStderr < 0 || spare[1] < 0)) {  // Xlib's words go where they would
    close(pipeFds[0]);
    close(pipeFds[1]);
    if (savedStderr >= 0) close(savedStderr);
    catching = false;
  }
  if (catching) dup2(pipeFds[1], STDERR_FILENO);
  std::snprintf(unansweredLine, sizeof unansweredLine,
                "quietglass: display '%s' does not answer within %u seconds\n", name.c_str(),
                seconds);
  unansweredLength = std::strlen(unansweredLine);
  unansweredFd = catching ? savedStderr : STDERR_FILENO;
  struct sigaction onAlarm {
  }, previousAlarm{};
  onAlarm.sa_handler = DisplayDoesNotAnswer;
  sigaction(SIGALRM, &onAlarm, &previousAlarm);
  // The signal mask is inherited: a parent that blocked SIGALRM would leave no deadline. It is
  // let through for the wait, and one left pending from before is dropped first.
  sigset_t alarmOnly, previousMask;
  sigemptyset(&alarmOnly);
  sigaddset(&alarmOnly, SIGALRM);
  const timespec noWait{};
  while (sigtimedwait(&alarmOnly, nullptr, &noWait) == SIGALRM) {
  }
  sigprocmask(SIG_UNBLOCK, &alarmOnly, &previousMask);
  alarm(seconds);
  Display* display = XOpenDisplay(name.c_str());
  alarm(0);
  sigprocmask(SIG_SETMASK, &previousMask, nullptr);
  sigaction(SIGALRM, &previousAlarm, nullptr);
  std::string told;
  if (catching) {
    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    close(pipeFds[1]);
    char text[512];
    const ssize_t length = read(pipeFds[0], text, sizeof text);
    close(pipeFds[0]);
    for (ssize_t i = 0; i < length; ++i) told += text[i] == '\n' || text[i] == '\r' ? ' ' : text[i];
    while (!told.empty() && told.back() == ' ') told.pop_back();
  }
  if (display == nullptr)
    error = "cannot open display '" + name + "'" + (told.empty() ? "" : ": " + told);
  return display;
}

SelectionClaim ClaimSelection(Display* display, Window owner, const std::string& name) {
  const Atom selection = XInternAtom(display, name.c_str(), False);
  if (selection == None) return SelectionClaim::CannotTell;
  // The server is held from the look to the taking, so two copies starting at once cannot both
  // find the selection free; nothing else can take it in between.
  XGrabServer(display);
  const bool another = XGetSelectionOwner(display, selection) != None;
  if (!another) XSetSelectionOwner(display, selection, owner, CurrentTime);
  XUngrabServer(display);
  XFlush(display);
  return another ? SelectionClaim::Taken : SelectionClaim::Mine;
}

}  // namespace x11
