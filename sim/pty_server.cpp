#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

namespace {

std::string Failed(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

timespec FromMicroseconds(uint64_t us) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(us / 1'000'000u);
  ts.tv_nsec = static_cast<long>((us % 1'000'000u) * 1000u);
  return ts;
}

}  // namespace

PtyServer::PtyServer(LineDevice& device, uint32_t rate, Clock clock)
    : device_(device), rate_(rate), clock_(std::move(clock)) {
  if (!clock_) {
    const auto epoch = std::chrono::steady_clock::now();
    clock_ = [epoch] {
      return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                       std::chrono::steady_clock::now() - epoch)
                                       .count());
    };
  }
}

PtyServer::~PtyServer() {
  Stop();
}

void PtyServer::CloseAll() {
  for (int* fd : {&master_, &slave_, &wake_read_, &wake_write_}) {
    if (*fd >= 0)
      close(*fd);
    *fd = -1;
  }
}

bool PtyServer::Start(std::string& error) {
  if (thread_.joinable()) {
    error = "already serving";
    return false;
  }
  failure_.clear();
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    error = Failed("posix_openpt");
    return false;
  }
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    error = Failed("grantpt/unlockpt");
    CloseAll();
    return false;
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    error = Failed("ptsname");
    CloseAll();
    return false;
  }
  slave_path_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_ < 0) {
    error = Failed(("open " + slave_path_).c_str());
    CloseAll();
    return false;
  }
  termios tio{};
  if (tcgetattr(slave_, &tio) != 0) {
    error = Failed("tcgetattr");
    CloseAll();
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(slave_, TCSANOW, &tio) != 0) {
    error = Failed("tcsetattr");
    CloseAll();
    return false;
  }
  const int flags = fcntl(master_, F_GETFL);
  int wake[2];
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0 ||
      pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = Failed("fcntl/pipe");
    CloseAll();
    return false;
  }
  wake_read_ = wake[0];
  wake_write_ = wake[1];
  thread_ = std::thread([this] {
    Run();
    if (!failure_.empty() && on_failure_)
      on_failure_();
  });
  return true;
}

void PtyServer::Stop() {
  if (!thread_.joinable())
    return;
  const char bye = 1;
  while (write(wake_write_, &bye, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  CloseAll();
}

void PtyServer::Run() {
  const auto now_us = [this] { return clock_(); };
  // 10 bit times per byte, rounded as a whole like the device's own pacing.
  const auto on_wire = [&](uint64_t bytes) {
    return rate_ == 0 ? 0 : (bytes * 10'000'000u + rate_ / 2) / rate_;
  };

  std::deque<TimedByte> out;
  uint64_t input_free_us = 0;  // when the last byte the master wrote has fully arrived
  bool write_blocked = false;
  std::vector<uint8_t> buffer(4096);

  for (;;) {
    uint64_t now = now_us();

    // Bytes whose time has come go out together.
    if (!out.empty() && out.front().at_us <= now && !write_blocked) {
      std::vector<uint8_t> due;
      for (const TimedByte& b : out) {
        if (b.at_us > now)
          break;
        due.push_back(b.value);
      }
      const ssize_t n = write(master_, due.data(), due.size());
      if (n > 0) {
        out.erase(out.begin(), out.begin() + n);
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        write_blocked = true;  // the terminal's input queue is full: nobody reads it
      } else if (n < 0 && errno != EINTR) {
        failure_ = Failed("write to the terminal");
        return;
      }
    }

    pollfd fds[2] = {{wake_read_, POLLIN, 0}, {master_, POLLIN, 0}};
    if (write_blocked)
      fds[1].events |= POLLOUT;
    timespec timeout{};
    timespec* wait = nullptr;  // nothing to send: wait for input only
    if (!out.empty() && !write_blocked) {
      timeout = FromMicroseconds(out.front().at_us > now ? out.front().at_us - now : 0);
      wait = &timeout;
    }
    if (ppoll(fds, 2, wait, nullptr) < 0) {
      if (errno == EINTR)
        continue;
      failure_ = Failed("ppoll");
      return;
    }
    if (fds[0].revents & POLLIN)
      return;
    if (fds[1].revents & POLLOUT)
      write_blocked = false;
    if (fds[1].revents & POLLIN) {
      const ssize_t n = read(master_, buffer.data(), buffer.size());
      if (n > 0) {
        now = now_us();
        const uint64_t arrived = std::max(now, input_free_us) + on_wire(static_cast<uint64_t>(n));
        input_free_us = arrived;
        const std::vector<uint8_t> bytes(buffer.begin(), buffer.begin() + n);
        for (const TimedByte& b : device_.Receive(bytes, arrived)) {
          // A byte cannot overtake the one sent before it.
          out.push_back({out.empty() ? b.at_us : std::max(b.at_us, out.back().at_us), b.value});
        }
      } else if (n < 0 && errno == EIO) {
        // Hung up; cannot happen while the server holds the slave side. Never spin on it.
        timespec pause = FromMicroseconds(10'000);
        nanosleep(&pause, nullptr);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        failure_ = Failed("read from the terminal");
        return;
      }
    } else if (fds[1].revents & (POLLHUP | POLLERR)) {
      timespec pause = FromMicroseconds(10'000);
      nanosleep(&pause, nullptr);
    }
  }
}
