#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "sim/line_device.h"

// Serves a LineDevice on a pseudo-terminal, in a thread of its own. A program opens the slave
// side (`slave_path()`) as it would open a serial port.
//
// A pseudo-terminal has no baud rate: whatever one side writes is readable by the other at
// once. So the server paces both ways at `rate`: the master's bytes reach the device 10 bit
// times each after they were written (as the last bit of a byte sent on a wire arrives), and
// the device's reply bytes are written to the terminal at the times the device stamped them.
//
// The server keeps the slave side open itself, in raw mode: the terminal then never hangs up
// when a program closes its end, and keeps raw mode for the next program that opens it.
//
// The device is used on the server's thread only, from Start() to Stop(); look at it before
// Start() or after Stop().
//
// Its clock runs from construction, across Stop() and Start(): the device stamps its replies
// on it and keeps what it has stamped (its reply pacing never lets a reply start before the
// last one ended), so a clock started again at every Start() would leave a device brought back
// silent for as long as it had been served before.
class PtyServer {
 public:
  // Microseconds on a monotonic clock.
  using Clock = std::function<uint64_t()>;

  // `rate` 0 hands the master's bytes to the device the moment they are read. Without `clock`
  // the steady clock since construction.
  PtyServer(LineDevice& device, uint32_t rate, Clock clock = {});
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Creates the pseudo-terminal and starts serving it. On failure says why in `error`.
  bool Start(std::string& error);
  // Stops serving and closes the terminal. Does nothing when not started.
  void Stop();

  const std::string& slave_path() const { return slave_path_; }
  // Why the server thread ended on its own, if it did; empty otherwise. Valid after Stop().
  const std::string& failure() const { return failure_; }
  // Called on the server thread when it ends on its own (set before Start()).
  void set_on_failure(std::function<void()> hook) { on_failure_ = std::move(hook); }

 private:
  void Run();
  void CloseAll();

  LineDevice& device_;
  uint32_t rate_;
  Clock clock_;
  int master_ = -1;
  int slave_ = -1;
  int wake_read_ = -1;
  int wake_write_ = -1;
  std::string slave_path_;
  std::string failure_;
  std::function<void()> on_failure_;
  std::thread thread_;
};
