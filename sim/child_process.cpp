#include "sim/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#endif

extern char** environ;

namespace {

void CloseFd(int& fd) {
  if (fd >= 0)
    close(fd);
  fd = -1;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::string NameOf(const std::string& entry) {
  return entry.substr(0, entry.find('='));
}

}  // namespace

ChildProcess::~ChildProcess() {
  Kill();
  for (int* fd : {&in_, &out_, &err_})
    CloseFd(*fd);
}

bool ChildProcess::Start(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment) {
  if (args.empty())
    return false;
  // Everything the child needs is built before the fork: between fork and exec only
  // async-signal-safe calls are allowed.
  std::vector<std::string> argv_texts = args;
  std::vector<std::string> env_texts;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const std::string& own : environment)
      replaced = replaced || NameOf(own) == NameOf(text);
    if (!replaced)
      env_texts.push_back(text);
  }
  env_texts.insert(env_texts.end(), environment.begin(), environment.end());
  std::vector<char*> argv = Pointers(argv_texts);
  std::vector<char*> envp = Pointers(env_texts);
  return Launch([&argv, &envp](int report) {
    execve(argv[0], argv.data(), envp.data());
    const int error = errno;
    (void)!write(report, &error, sizeof error);
  });
}

bool ChildProcess::Fork(const std::function<int()>& body) {
  return Launch([&body](int report) {
    close(report);
    _exit(body());
  });
}

bool ChildProcess::Launch(const std::function<void(int report)>& in_child) {
  Kill();
  for (int* fd : {&in_, &out_, &err_})
    CloseFd(*fd);
  out_text_.clear();
  out_scanned_ = 0;
  err_text_.clear();
  exit_status_.reset();

  // Read end then write end of standard input, output, error, and of the report pipe, which
  // stays empty when the program was run: exec closes it.
  int fds[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  for (int i = 0; i < 8; i += 2) {
    if (pipe2(fds + i, O_CLOEXEC) != 0) {
      for (int& fd : fds)
        CloseFd(fd);
      return false;
    }
  }
  const int* in = fds;
  const int* out = fds + 2;
  const int* err = fds + 4;
  const int* report = fds + 6;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
      _exit(127);
#else
    (void)parent;
#endif
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    in_child(report[1]);
    _exit(127);
  }
  for (int fd : {in[0], out[1], err[1], report[1]})
    close(fd);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (pid < 0) {
    close(report[0]);
    return false;
  }
  pid_ = pid;
  int exec_error = 0;
  ssize_t n;
  do {
    n = read(report[0], &exec_error, sizeof exec_error);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n > 0) {
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return false;
  }
  return true;
}

std::optional<std::string> ChildProcess::WaitForLine(const std::string& prefix,
                                                     std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    for (size_t eol; (eol = out_text_.find('\n', out_scanned_)) != std::string::npos;) {
      std::string line = out_text_.substr(out_scanned_, eol - out_scanned_);
      out_scanned_ = eol + 1;
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

std::optional<int> ChildProcess::WaitExit(std::chrono::milliseconds limit) {
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

bool ChildProcess::WriteInput(const std::string& text) {
  size_t done = 0;
  while (in_ >= 0 && done < text.size()) {
    const ssize_t n = write(in_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return in_ >= 0;
}

void ChildProcess::CloseInput() {
  if (in_ >= 0) {
    close(in_);
    in_ = -1;
  }
}

bool ChildProcess::Signal(int signal) {
  return pid_ > 0 && kill(pid_, signal) == 0;
}

std::optional<int> ChildProcess::Stop(int signal, std::chrono::milliseconds limit) {
  Signal(signal);
  std::optional<int> status = WaitExit(limit);
  if (!status)
    Kill();
  return status;
}

const std::string& ChildProcess::output() {
  while (Pump(0)) {
  }
  return out_text_;
}

const std::string& ChildProcess::error_text() {
  while (Pump(0)) {
  }
  return err_text_;
}

void ChildProcess::Kill() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

bool ChildProcess::Pump(int ms) {
  pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
  if (poll(fds, 2, ms) <= 0)
    return false;
  for (int i = 0; i < 2; ++i) {
    if (fds[i].revents == 0)
      continue;
    char buffer[1024];
    const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    if (n <= 0) {
      CloseFd(i == 0 ? out_ : err_);
      continue;
    }
    (i == 0 ? out_text_ : err_text_).append(buffer, static_cast<size_t>(n));
  }
  return true;
}

std::optional<std::string> StartSimulator(ChildProcess& sim, const std::string& exe,
                                          std::vector<std::string> args,
                                          std::chrono::milliseconds limit) {
  static const std::string kReady = "READY ";
  args.insert(args.begin(), exe);
  args.push_back("--ready");
  if (!sim.Start(args))
    return std::nullopt;
  const std::optional<std::string> line = sim.WaitForLine(kReady, limit);
  if (!line)
    return std::nullopt;
  return line->substr(kReady.size());
}
