#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "cli/terminal.h"

namespace {

volatile sig_atomic_t stop_requested = 0;
volatile sig_atomic_t stop_requests = 0;

void OnStopSignal(int) {
  stop_requested = 1;
  stop_requests = stop_requests + 1;
}

}  // namespace

bool InputIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

std::optional<std::string> ReadInputLine(bool echo) {
  termios saved{};
  const bool hide = !echo && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (hide) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  bool ended = false;
  for (;;) {
    char c = 0;
    // A stop signal interrupts the read (the handler is installed without SA_RESTART).
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR && !stop_requested)
      continue;
    if (n <= 0 || stop_requested) {
      ended = line.empty() || stop_requested;
      break;
    }
    if (c == '\n')
      break;
    if (c != '\r')
      line += c;
  }
  if (hide)
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  if (ended)
    return std::nullopt;
  return line;
}

void CatchStopRequests() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

bool StopRequested() {
  return stop_requested != 0;
}

int StopRequests() {
  return stop_requests;
}
