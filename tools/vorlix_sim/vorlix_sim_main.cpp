// vorlix-sim: the corrector and its sensors on a pseudo-terminal, linked in as a COM port.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "core/settings_location.h"
#include "sim/port_link.h"
#include "sim/pty_server.h"
#include "sim/sim_options.h"

int main(int argc, char** argv) {
  SimOptions options;
  std::string error;
  const std::vector<std::string> args(argv + 1, argv + argc);
  switch (ParseSimOptions(args, options, error)) {
    case ParseOutcome::kHelp:
      std::cout << SimUsage();
      return 0;
    case ParseOutcome::kBad:
      std::cerr << "vorlix-sim: " << error << "\nTry vorlix-sim --help.\n";
      return 2;
    case ParseOutcome::kRun:
      break;
  }
  if (options.ini_dir.empty()) {
    const std::string folder = ExecutableFolder();
    if (folder.empty()) {
      std::cerr << "vorlix-sim: cannot tell where this program lies; give --ini-dir\n";
      return 2;
    }
    // The same folder the application picks beside itself, with the same per-user fallback
    // for an installed program, so both meet without options.
    options.ini_dir = ChooseSettingsFolder(folder);
  }

  // The signals are taken by sigwait below; the server thread inherits the mask, so none of
  // them lands in the middle of its work.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  const std::unique_ptr<LineDevice> device = MakeSimDevice(options);
  PtyServer server(*device, options.timing.rate);
  server.set_on_failure([] { kill(getpid(), SIGTERM); });
  if (!server.Start(error)) {
    std::cerr << "vorlix-sim: cannot open a pseudo-terminal: " << error << '\n';
    return 1;
  }
  std::string link;
  if (!CreatePortLink(options.ini_dir, options.com, server.slave_path(), link, error)) {
    server.Stop();
    std::cerr << "vorlix-sim: " << error << '\n';
    return 1;
  }

  std::cout << "serving on " << server.slave_path() << '\n'
            << "linked as COM" << options.com << ": " << link << '\n'
            << DescribeSimOptions(options);
  if (options.ready)
    std::cout << "READY " << link << '\n';
  std::cout.flush();

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.Stop();
  RemovePortLink(link, server.slave_path());
  if (!server.failure().empty()) {
    std::cerr << "vorlix-sim: " << server.failure() << '\n';
    return 1;
  }
  return 0;
}
