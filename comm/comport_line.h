#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "comm/comportfunctions.h"
#include "comm/serial_line.h"

// A SerialLine over an open port. The handle stays the owner's: this never closes it.
//
// ReadByte never waits. It takes everything that has arrived in one read of the port and hands
// it out a byte at a time, so a reply costs a read per burst rather than per byte; Purge drops
// what it holds along with the port's buffers.
//
// ReadByte It reports kFailed both for a failed read and for a port that has gone
// away (an unplugged adapter, a pseudo-terminal whose other end closed), so an exchange never
// mistakes a dead line for a quiet one. WaitForInput on such a port sleeps out its limit. On
// Windows WaitForInput's blocking read takes what arrives into the same buffer.
class ComPortLine final : public SerialLine {
 public:
  explicit ComPortLine(ComHandle handle) : handle_(handle) {}

  bool Purge() override;
  bool SetRts(bool on) override;
  bool Write(const uint8_t* data, size_t size) override;
  ReadResult ReadByte(uint8_t& byte) override;
  bool ClearErrors() override;
  void WaitForInput(std::chrono::microseconds limit) override;
  bool Gone() override;
  int32_t IdleWaitMs() const override { return ComIdleWaitMs(); }

  ComHandle handle() const { return handle_; }

 private:
  ComHandle handle_;
  std::array<uint8_t, 512> received_{};
  size_t next_ = 0;  // the next byte of received_ to hand out
  size_t end_ = 0;   // one past the last byte held
};
