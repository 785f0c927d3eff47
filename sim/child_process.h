#pragma once

// Programs started beside this one: the simulator for a benchmark or a test, a peer server, a
// check run under other privileges. POSIX only.

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// A child process with its standard input held open (so a well-behaved child can end when
// this process goes away), its standard output read line by line and its standard error kept.
// Whatever still runs when the object goes is killed. On Linux the child is also sent SIGTERM
// when the thread that started it dies, so a crashed test leaves none behind.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Runs the program at the path args[0] with `args`, in this process's environment with the
  // "NAME=value" entries of `environment` added or put in place of their namesakes. False
  // when it could not be run.
  bool Start(const std::vector<std::string>& args,
             const std::vector<std::string>& environment = {});
  // Runs `body` in a forked copy of this process instead of a program; what it returns is the
  // exit status.
  bool Fork(const std::function<int()>& body);

  // The next line of standard output that starts with `prefix` (the lines before it are passed
  // over), or nothing when the output ends or `limit` passes first.
  std::optional<std::string> WaitForLine(const std::string& prefix,
                                         std::chrono::milliseconds limit);
  // Waits up to `limit` for the child to end; its exit status (128 + the signal number when a
  // signal ended it), or nothing while it still runs or when none was started.
  std::optional<int> WaitExit(std::chrono::milliseconds limit);
  // False when no child runs.
  bool Signal(int signal);
  // Writes `text` to the child's standard input; false when it cannot take it.
  bool WriteInput(const std::string& text);
  // Closes the child's standard input: it reads the end of its input from then on.
  void CloseInput();
  // Sends `signal` and waits up to `limit` for the end, then kills it. The exit status, or
  // nothing when it had to be killed.
  std::optional<int> Stop(int signal = SIGTERM,
                          std::chrono::milliseconds limit = std::chrono::seconds(5));

  bool running() const { return pid_ > 0; }
  // All the child has written to its standard output, and to its standard error, so far (all
  // of it once the child has ended).
  const std::string& output();
  const std::string& error_text();

 private:
  // Forks; the child, its standard streams on the pipes, calls `in_child` with the write end
  // of a pipe where it reports a failed exec.
  bool Launch(const std::function<void(int report)>& in_child);
  void Kill();
  // Reads what is ready on standard output and standard error, waiting up to `ms` for some.
  // False when nothing came.
  bool Pump(int ms);

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_text_;
  size_t out_scanned_ = 0;  // where the next WaitForLine looks from
  std::string err_text_;
  std::optional<int> exit_status_;
};

// vorlix-sim at `exe` started in `sim` with `args` and --ready, and trusted once it has printed
// "READY <link>". The path of the port link, or nothing when it could not be started, ended
// first or stayed silent for `limit`; its error_text() then says why. Stopped with SIGTERM it
// removes the link.
std::optional<std::string> StartSimulator(
    ChildProcess& sim, const std::string& exe, std::vector<std::string> args,
    std::chrono::milliseconds limit = std::chrono::seconds(10));
