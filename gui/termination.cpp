#include "gui/termination.h"

#include <QObject>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <csignal>

namespace {

int signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  // Nothing else is safe here; the event loop does the rest.
  [[maybe_unused]] const ssize_t written = ::write(signal_pipe[1], &byte, 1);
}

}  // namespace

void OnTerminationRequest(QObject* context, std::function<void()> request) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_pipe) != 0)
    return;
  auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, context);
  QObject::connect(notifier, &QSocketNotifier::activated, context, [request = std::move(request)] {
    char byte = 0;
    [[maybe_unused]] const ssize_t got = ::read(signal_pipe[0], &byte, 1);
    request();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    sigaction(sig, &action, nullptr);
}

#else

void OnTerminationRequest(QObject*, std::function<void()>) {}

#endif
