#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "comm/clock.h"
#include "comm/exchange_host.h"
#include "comm/serial_line.h"

// The steps every transaction takes whatever its protocol: the operator's stop, the send of a
// request under RTS, the read of a reply byte, and the tries around a transaction. What differs
// between the protocols (codes, the length of the RTS hold) is the caller's to say.

// Lets the host handle what is pending, then takes a stop the operator has asked for meanwhile:
// the request is cleared, `error_code` becomes `stopped_code`, and the answer is true.
bool OperatorStopped(ExchangeHost& host, bool& abort_requested, int32_t& error_code,
                     int32_t stopped_code);

// One bit time at `baud_rate` (above 0) in seconds, in single precision: the RTS holds are
// reckoned from it.
float BitTime(int32_t baud_rate);

// Purges both buffers, so nothing of an earlier reply passes for this one's, and writes
// `block`. With `rts_switching`, RTS goes up before the write and drops once `rts_hold`
// counter ticks have passed since it went up. A failed write clears the line's errors and
// leaves RTS as it is; the answer is then false. A hold long enough to stall the window (slow
// rates) lets `host`, when given, handle its events between slices of it.
bool SendRequest(SerialLine& port, Clock& clock, bool rts_switching, uint64_t rts_hold,
                 const uint8_t* block, size_t size, ExchangeHost* host = nullptr);

// Waits until `clock` is past `end`: sleeps most of the way and spins only the last fraction
// of a millisecond, so the moment is met to the tick without burning a core for the whole
// wait. While more than a slice and a margin are left, `host` (when given) handles its events
// between slices; the margin keeps a slow repaint from making the end late.
void HoldUntilPast(Clock& clock, uint64_t end, ExchangeHost* host);

// Reads one reply byte without waiting; true when one has come. A failed read clears the
// line's errors and counts as no byte.
bool ReadReplyByte(SerialLine& port, uint8_t& byte);

// Waits on `line` for a reply byte until `limit` (a counter tick) at the latest, but no longer
// than the line's idle slice, so the loop hands its host the events in between. `now` is
// before `limit`.
void WaitForReplyByte(SerialLine& line, uint64_t now, uint64_t limit, uint64_t frequency);

// One reply byte without waiting, telling a port that has gone away from a quiet one.
enum class ReplyByte { kByte, kNothing, kLineGone };
ReplyByte ReadReplyByteOrGone(SerialLine& port, uint8_t& byte);

// Runs `transact` up to `tries` times, at least once (with none, a request never sent would
// pass for answered), until a transaction succeeds or `stopped()` tells that the operator ended
// it. True when one succeeded.
template <typename Transact, typename Stopped>
bool RunTries(uint8_t tries, Transact transact, Stopped stopped) {
  const int count = std::max(1, static_cast<int>(tries));
  for (int i = 0; i < count; ++i) {
    if (transact())
      return true;
    if (stopped())
      break;
  }
  return false;
}
