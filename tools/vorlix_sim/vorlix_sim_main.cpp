// vorlix-sim: the corrector and its sensors on a pseudo-terminal, linked in as a COM port.

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/settings_location.h"
#include "sim/bench_input.h"
#include "sim/port_link.h"
#include "sim/pty_server.h"
#include "sim/sim_options.h"
#include "sim/sim_reference.h"

namespace {

// Counts the requests the device answers, for the simulated unplugging.
class CountingDevice final : public LineDevice {
 public:
  CountingDevice(LineDevice& inner, uint32_t limit) : inner_(inner), limit_(limit) {}
  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override {
    std::vector<TimedByte> reply = inner_.Receive(bytes, now_us);
    if (!reply.empty() && limit_ != 0 && ++answered_ >= limit_)
      due_.store(true);
    return reply;
  }
  bool due() const { return due_.load(); }

 private:
  LineDevice& inner_;
  uint32_t limit_;
  uint32_t answered_ = 0;
  std::atomic<bool> due_{false};
};

// Waits for a stop signal at most `ms`; its number, or 0 when none came.
int WaitForSignal(const sigset_t& signals, long ms) {
  const timespec limit{ms / 1000, (ms % 1000) * 1'000'000L};
  const int got = sigtimedwait(&signals, nullptr, &limit);
  return got > 0 ? got : 0;
}

// The bench's lines on standard input, carried out as they come; nothing more once the input
// has ended.
class BenchInput {
 public:
  explicit BenchInput(BenchDevice& bench) : bench_(bench) {}
  void Poll() {
    // Run in the background of a shell, a read of the terminal would stop the simulator.
    if (ended_ || (isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) != getpgrp()))
      return;
    pollfd in{STDIN_FILENO, POLLIN, 0};
    while (poll(&in, 1, 0) > 0 && (in.revents & (POLLIN | POLLHUP)) != 0) {
      char chunk[256];
      const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
      if (n <= 0) {
        ended_ = true;
        return;
      }
      pending_.append(chunk, static_cast<size_t>(n));
      for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
          line.pop_back();
        if (!line.empty())
          std::cout << bench_.Command(line) << std::endl;
      }
    }
  }

 private:
  BenchDevice& bench_;
  std::string pending_;
  bool ended_ = false;
};

// A port served on a pseudo-terminal that is pulled out once its device has answered a number
// of requests, and plugged back in at the same link a while later (once).
struct Pluggable {
  PtyServer* server;
  CountingDevice* counted;
  int com;
  uint32_t unplugged_ms;
  std::string* link;
  const char* name;  // put before what is said of it
  bool out = false;
  bool done = false;
  std::chrono::steady_clock::time_point back_at{};
};

// Serves until a stop signal, looking at the bench's input and the ports due to be pulled out
// or back in meanwhile; the signal's number, or -1 when a port could not be plugged back in.
int ServeUntilSignal(const sigset_t& signals, BenchInput& bench, std::vector<Pluggable>& ports,
                     const std::string& ini_dir) {
  constexpr long kLookMs = 20;
  int got = 0;
  while ((got = WaitForSignal(signals, kLookMs)) == 0) {
    bench.Poll();
    const auto now = std::chrono::steady_clock::now();
    for (Pluggable& p : ports) {
      if (!p.out && !p.done && p.counted->due()) {
        p.server->Stop();
        RemovePortLink(*p.link, p.server->slave_path());
        std::cout << p.name << "unplugged for " << p.unplugged_ms << " ms" << std::endl;
        p.out = true;
        p.back_at = now + std::chrono::milliseconds(p.unplugged_ms);
      } else if (p.out && now >= p.back_at) {
        std::string error;
        if (!p.server->Start(error) ||
            !CreatePortLink(ini_dir, p.com, p.server->slave_path(), *p.link, error)) {
          std::cerr << "vorlix-sim: cannot plug " << p.name << "back in: " << error << '\n';
          return -1;
        }
        std::cout << p.name << "plugged back in on " << p.server->slave_path() << " as " << *p.link
                  << std::endl;
        p.out = false;
        p.done = true;
      }
    }
  }
  return got;
}

}  // namespace

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

  // Before the device is made: the sensor it holds must read the input the reference reads.
  const std::shared_ptr<SimInput> reference_input = AttachReferenceInput(options);
  const std::unique_ptr<LineDevice> simulated = MakeSimDevice(options);
  BenchDevice bench(*simulated, options.direct_channel);
  BenchInput bench_input(bench);
  CountingDevice device_counted(bench, options.unplug_after);
  LineDevice* device = &device_counted;
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

  // The reference instrument has a port of its own, as it would on the bench.
  std::unique_ptr<SimReference> reference;
  std::unique_ptr<CountingDevice> reference_counted;
  std::unique_ptr<PtyServer> reference_server;
  std::string reference_link;
  if (reference_input) {
    reference = std::make_unique<SimReference>(options.reference.device, reference_input);
    // Each command on a line of its own, so a bench (or a test) sees what it was told last.
    reference->set_on_command([](const std::string& command) {
      std::cout << ("reference received " + command + "\n") << std::flush;
    });
    reference_counted =
        std::make_unique<CountingDevice>(*reference, options.reference.unplug_after);
    reference_server =
        std::make_unique<PtyServer>(*reference_counted, options.reference.device.rate);
    reference_server->set_on_failure([] { kill(getpid(), SIGTERM); });
    if (!reference_server->Start(error) ||
        !CreatePortLink(options.ini_dir, options.reference.com, reference_server->slave_path(),
                        reference_link, error)) {
      reference_server->Stop();
      server.Stop();
      RemovePortLink(link, server.slave_path());
      std::cerr << "vorlix-sim: the reference: " << error << '\n';
      return 1;
    }
  }
  const auto stop_reference = [&] {
    if (reference_server) {
      reference_server->Stop();
      RemovePortLink(reference_link, reference_server->slave_path());
    }
  };

  std::cout << "serving on " << server.slave_path() << '\n'
            << "linked as COM" << options.com << ": " << link << '\n'
            << DescribeSimOptions(options);
  if (reference_server)
    std::cout << "REFERENCE " << reference_link << '\n';
  if (options.ready)
    std::cout << "READY " << link << '\n';
  std::cout.flush();

  std::vector<Pluggable> ports;
  ports.push_back({&server, &device_counted, options.com, options.unplugged_ms, &link, ""});
  if (reference_server)
    ports.push_back({reference_server.get(), reference_counted.get(), options.reference.com,
                     options.reference.unplugged_ms, &reference_link, "reference "});
  const int signal_number = ServeUntilSignal(stop_signals, bench_input, ports, options.ini_dir);
  server.Stop();
  RemovePortLink(link, server.slave_path());
  stop_reference();
  if (signal_number < 0)
    return 1;
  if (!server.failure().empty()) {
    std::cerr << "vorlix-sim: " << server.failure() << '\n';
    return 1;
  }
  return 0;
}
