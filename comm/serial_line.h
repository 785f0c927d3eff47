#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// The longest a reply loop sleeps on a quiet line before it lets the host handle its events
// again: short enough that the window never stalls noticeably and a stop is taken within 50 ms,
// long enough that a silent line costs next to no processor time.
inline constexpr int32_t kIdleWaitMs = 20;

// What the exchange objects need of a serial line. Production wraps an open port
// (ComPortLine); tests put the device simulator at the other end in-process.
class SerialLine {
 public:
  enum class ReadResult {
    kByte,     // one byte was stored
    kNothing,  // no byte has arrived yet
    kFailed,   // the read failed (the caller clears the errors and treats it as no byte)
  };

  virtual ~SerialLine() = default;

  // Drops whatever waits in the transmit and receive buffers.
  virtual bool Purge() = 0;
  // Raises or drops RTS. False when the line cannot do it; exchanges go on regardless.
  virtual bool SetRts(bool on) = 0;
  // Sends the whole block; false when it could not be sent.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Reads one byte without waiting.
  virtual ReadResult ReadByte(uint8_t& byte) = 0;
  // Clears the line's error state after a failed read or write.
  virtual bool ClearErrors() = 0;
  // Waits until a byte can be read or `limit` has passed, whichever comes first. Never returns
  // early for any other reason: a line that has gone away waits out the limit, so a reply loop
  // never spins on it.
  virtual void WaitForInput(std::chrono::microseconds limit) = 0;
  // True once the port has gone away for good (an adapter pulled out, the other end of a
  // pseudo-terminal closed): asked after a failed read or write, never on the quiet path.
  virtual bool Gone() { return false; }
  // The longest a reply loop waits here at a time (kIdleWaitMs, unless a wake costs this line
  // more).
  virtual int32_t IdleWaitMs() const { return kIdleWaitMs; }
};
