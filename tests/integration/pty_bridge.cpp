#include "tests/integration/pty_bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

std::string Failed(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Writes all of `size` bytes to the non-blocking `fd`, waiting for room when the terminal's
// queue is full. False when the terminal has failed.
bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno != EAGAIN)
      return false;
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, 100);
  }
  return true;
}

}  // namespace

PtyBridge::~PtyBridge() {
  Stop();
}

bool PtyBridge::OpenEnd(End& end, std::string& error) {
  end.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (end.master < 0) {
    error = Failed("posix_openpt");
    return false;
  }
  char name[128];
  if (grantpt(end.master) != 0 || unlockpt(end.master) != 0 ||
      ptsname_r(end.master, name, sizeof name) != 0) {
    error = Failed("grantpt/unlockpt/ptsname");
    return false;
  }
  end.path = name;
  end.slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (end.slave < 0) {
    error = Failed("open " + end.path);
    return false;
  }
  // Raw before any program opens it: a fresh terminal echoes and translates line ends, which
  // would bounce the bridge's bytes back and bend 0x0D into 0x0A.
  termios tio{};
  if (tcgetattr(end.slave, &tio) != 0) {
    error = Failed("tcgetattr");
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(end.slave, TCSANOW, &tio) != 0) {
    error = Failed("tcsetattr");
    return false;
  }
  const int flags = fcntl(end.master, F_GETFL);
  if (flags < 0 || fcntl(end.master, F_SETFL, flags | O_NONBLOCK) != 0) {
    error = Failed("fcntl");
    return false;
  }
  return true;
}

bool PtyBridge::Start(std::string& error) {
  if (thread_.joinable()) {
    error = "already running";
    return false;
  }
  int wake[2];
  if (!OpenEnd(port_, error) || !OpenEnd(peer_, error)) {
    CloseAll();
    return false;
  }
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = Failed("pipe");
    CloseAll();
    return false;
  }
  wake_read_ = wake[0];
  wake_write_ = wake[1];
  thread_ = std::thread([this] { Run(); });
  return true;
}

void PtyBridge::Stop() {
  if (thread_.joinable()) {
    const char bye = 1;
    while (write(wake_write_, &bye, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  CloseAll();
}

void PtyBridge::CloseAll() {
  for (int* fd :
       {&port_.master, &port_.slave, &peer_.master, &peer_.slave, &wake_read_, &wake_write_}) {
    if (*fd >= 0)
      close(*fd);
    *fd = -1;
  }
}

std::vector<uint8_t> PtyBridge::TakeToPeer() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(to_peer_, {});
}

std::vector<uint8_t> PtyBridge::TakeFromPeer() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(from_peer_, {});
}

void PtyBridge::Run() {
  for (;;) {
    pollfd fds[3] = {{port_.master, POLLIN, 0}, {peer_.master, POLLIN, 0}, {wake_read_, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    if (fds[2].revents != 0)
      return;
    // Both slaves stay open here, so a master never hangs up; anything else is a broken bridge.
    if (((fds[0].revents | fds[1].revents) & (POLLERR | POLLNVAL)) != 0)
      return;
    for (int i = 0; i < 2; ++i) {
      if ((fds[i].revents & POLLIN) == 0)
        continue;
      uint8_t buffer[512];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0)
        continue;
      const bool from_port = i == 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<uint8_t>& log = from_port ? to_peer_ : from_peer_;
        log.insert(log.end(), buffer, buffer + n);
      }
      if (!WriteAll(from_port ? peer_.master : port_.master, buffer, static_cast<size_t>(n)))
        return;
    }
  }
}
