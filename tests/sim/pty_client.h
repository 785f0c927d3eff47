#pragma once

// The program side of a pseudo-terminal in tests: open the slave like a serial port, write a
// request, collect what comes back within a generous limit.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

inline int OpenPort(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return -1;
  termios tio{};
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

struct Arrival {
  std::vector<uint8_t> bytes;
  std::vector<double> ms;  // for each byte, when its read returned, from the write
};

// Writes `request`, then reads until `expected` bytes have come or `limit_ms` has passed.
inline Arrival Exchange(int fd, const std::vector<uint8_t>& request, size_t expected,
                        int limit_ms = 5000) {
  using Clock = std::chrono::steady_clock;
  Arrival got;
  if (!request.empty() && write(fd, request.data(), request.size()) != ssize_t(request.size())) {
    return got;
  }
  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + std::chrono::milliseconds(limit_ms);
  while (got.bytes.size() < expected) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0)
      break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
      continue;
    uint8_t buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    const double at = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    for (ssize_t i = 0; i < n; ++i) {
      got.bytes.push_back(buffer[i]);
      got.ms.push_back(at);
    }
  }
  return got;
}

}  // namespace simtest
