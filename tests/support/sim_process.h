#pragma once

// vorlix-sim as a separate program beside the one under test: started with its arguments,
// trusted once it has printed its READY line, stopped with SIGTERM so that it removes its port
// link. Whatever is still running when the object goes is killed. On Linux the simulator is
// also told to end when the process that started it dies, so a crashed test leaves none behind.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#ifdef __linux__
#include <sys/prctl.h>
#endif

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0)
      close(out_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Runs `exe` with `args` and waits up to `limit` for its "READY <link>" line. False when it
  // could not be started, ended first or stayed silent; output() then says what it printed.
  bool Start(const std::string& exe, const std::vector<std::string>& args,
             std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::vector<std::string> all{exe};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
      argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0)
      return false;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
      close(pipe_fds[0]);
      close(pipe_fds[1]);
      return false;
    }
    if (pid == 0) {
      // Only async-signal-safe calls between fork and exec.
#ifdef __linux__
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent)
        _exit(127);
#else
      (void)parent;
#endif
      dup2(pipe_fds[1], STDOUT_FILENO);
      dup2(pipe_fds[1], STDERR_FILENO);
      const int null_in = open("/dev/null", O_RDONLY);
      if (null_in >= 0)
        dup2(null_in, STDIN_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
    pid_ = pid;
    close(pipe_fds[1]);
    out_ = pipe_fds[0];
    return WaitForReady(limit);
  }

  // SIGTERM, then waits up to `limit` for the end; kills it past that. The exit status (128 +
  // the signal when a signal ended it), or -1 when it had to be killed or was not running.
  int Stop(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    if (pid_ <= 0)
      return -1;
    kill(pid_, SIGTERM);
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() >= end)
        break;
      usleep(5000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return -1;
  }

  bool running() const {
    return pid_ > 0;
  }
  // The path of the port link from the READY line.
  const std::string& link() const {
    return link_;
  }
  // What the simulator printed up to its READY line (standard output and error together).
  const std::string& output() const {
    return text_;
  }

 private:
  bool WaitForReady(std::chrono::milliseconds limit) {
    static const std::string kReady = "READY ";
    const auto end = std::chrono::steady_clock::now() + limit;
    size_t scanned = 0;
    for (;;) {
      for (size_t eol; (eol = text_.find('\n', scanned)) != std::string::npos; scanned = eol + 1) {
        const std::string line = text_.substr(scanned, eol - scanned);
        if (line.rfind(kReady, 0) == 0) {
          link_ = line.substr(kReady.size());
          return true;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0)
        return false;
      pollfd fd{out_, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left.count())) <= 0)
        continue;
      char buffer[512];
      const ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0)
        return false;  // it ended before it was ready
      text_.append(buffer, static_cast<size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string text_;
  std::string link_;
};
