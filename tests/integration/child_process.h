#pragma once

// A program started by a test: its standard input held open (so a well-behaved child can end
// when the test process goes away), its standard output read line by line, its standard error
// kept for the failure message. The destructor kills what is still running.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace integration {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_}) {
      if (fd >= 0)
        close(fd);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Start(const std::vector<std::string>& args) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
      return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    return pid_ > 0;
  }

  // The next line of standard output that starts with `prefix` (earlier lines are dropped),
  // or nothing when the output ends or `limit` passes first.
  std::optional<std::string> WaitForLine(const std::string& prefix,
                                         std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      for (size_t eol; (eol = out_text_.find('\n')) != std::string::npos;) {
        std::string line = out_text_.substr(0, eol);
        out_text_.erase(0, eol + 1);
        if (line.rfind(prefix, 0) == 0)
          return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || out_ < 0)
        return std::nullopt;
      Pump(static_cast<int>(left.count()));
    }
  }

  // Waits up to `limit` for the child to end by itself; its exit status (128 + signal number
  // when a signal ended it), or nothing while it still runs.
  std::optional<int> WaitExit(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (std::chrono::steady_clock::now() >= end)
        return std::nullopt;
      Pump(10);
    }
    return exit_status_;
  }

  // Sends `signal` and waits for the end; kills it when it does not end within 5 s.
  std::optional<int> Stop(int signal) {
    if (pid_ > 0)
      kill(pid_, signal);
    std::optional<int> status = WaitExit(std::chrono::seconds(5));
    if (!status && pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    return status;
  }

  // What the child has written to its standard error so far.
  const std::string& error_text() {
    Pump(0);
    return err_text_;
  }

 private:
  // Reads what is ready on standard output and standard error, waiting up to `ms` for some.
  void Pump(int ms) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (poll(fds, 2, ms) <= 0)
      return;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0)
        continue;
      char buffer[1024];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      int& fd = i == 0 ? out_ : err_;
      if (n <= 0) {
        close(fd);
        fd = -1;
        continue;
      }
      (i == 0 ? out_text_ : err_text_).append(buffer, static_cast<size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_text_;
  std::string err_text_;
  std::optional<int> exit_status_;
};

}  // namespace integration
