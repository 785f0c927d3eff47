#include "comm/win32_api.h"
// win32_api.h first: it sets up <windows.h> for the rest.
#include <io.h>
#include <atomic>
#include <csignal>
#include <cstdio>

#include "cli/terminal.h"

namespace {

std::atomic<bool> stop_requested{false};
std::atomic<int> stop_requests{0};

BOOL WINAPI OnConsoleEvent(DWORD) {
  stop_requested = true;
  ++stop_requests;
  return TRUE;  // handled: the program ends on its own once the line is out of service
}

void OnStopSignal(int) {
  stop_requested = true;
  ++stop_requests;
}

}  // namespace

bool InputIsTerminal() {
  return _isatty(_fileno(stdin)) != 0;
}

std::optional<std::string> ReadInputLine(bool echo) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  const bool hide = !echo && GetConsoleMode(input, &saved) != 0;
  if (hide)
    SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  std::string line;
  bool ended = false;
  for (;;) {
    const int c = std::fgetc(stdin);
    if (c == EOF || stop_requested) {
      ended = line.empty() || stop_requested;
      break;
    }
    if (c == '\n')
      break;
    if (c != '\r')
      line += static_cast<char>(c);
  }
  if (hide) {
    SetConsoleMode(input, saved);
    std::fputc('\n', stderr);
  }
  if (ended)
    return std::nullopt;
  return line;
}

void CatchStopRequests() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested() {
  return stop_requested;
}

int StopRequests() {
  return stop_requests;
}
