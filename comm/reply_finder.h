#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "comm/clock.h"
#include "comm/serial_line.h"

// What an exchange does with the copy of its own request that some adapters (two-wire RS-485
// ones) hand back ahead of the reply: kDetect skips it where the input starts with it exactly,
// kOff takes the input as it comes, kAlways expects it and skips as many bytes as were sent.
enum class EchoMode : uint8_t { kDetect = 0, kOff = 1, kAlways = 2 };

// What a protocol says of the bytes at one position of the input: not the start of its reply;
// a start whose length is not known yet; or a frame of `length` bytes. `started` tells that
// enough of the frame has come (its first two bytes) for the byte gap to govern the wait, and
// `oversize` marks a frame announced longer than a reply may be, let pass without a checksum.
struct FrameView {
  enum class Kind { kNoStart, kMore, kFrame };
  Kind kind = Kind::kNoStart;
  size_t length = 0;
  bool started = false;
  bool oversize = false;
};
using FrameRule = std::function<FrameView(const uint8_t* at, size_t available)>;

// Finds a reply in the bytes of a transaction as they come, one at a time. A candidate that
// fails (its checksum or its structure) rules out only its first byte: the search goes on from
// the next one, so that a stray byte or a false start before an intact reply does not lose it.
// A frame is whole when the checksum over all of it, its own two bytes included, is zero.
class ReplyFinder {
 public:
  ReplyFinder(const uint8_t* sent, size_t sent_size, EchoMode echo, FrameRule rule);

  void Add(uint8_t byte);

  bool Found() const { return found_; }
  // The frame found (valid once Found()).
  const uint8_t* Frame() const { return input_.data() + frame_begin_; }
  size_t FrameLength() const { return frame_length_; }
  bool FrameOversize() const { return frame_oversize_; }
  // A candidate has begun and not been ruled out: the byte gap decides how long to wait.
  bool InFrame() const { return in_frame_; }
  // A whole candidate was refused for its checksum and nothing better has come since.
  bool ChecksumFailed() const { return checksum_failed_; }
  // A candidate in progress announced more than a reply may hold.
  bool OversizePending() const { return oversize_pending_; }
  // Bytes received so far, and how many of them were the request's echo.
  size_t Received() const { return received_; }
  size_t EchoSkipped() const { return base_ > 0 ? sent_.size() : 0; }

 private:
  void Search();
  void Trim();

  std::vector<uint8_t> sent_;
  EchoMode echo_;
  FrameRule rule_;
  std::vector<uint8_t> input_;
  size_t received_ = 0;
  size_t dropped_ = 0;  // bytes trimmed off the front of input_
  size_t base_ = 0;     // input position after a skipped echo
  size_t from_ = 0;     // first input position not ruled out
  bool echo_open_ = false;
  bool found_ = false;
  size_t frame_begin_ = 0;
  size_t frame_length_ = 0;
  bool frame_oversize_ = false;
  bool in_frame_ = false;
  bool checksum_failed_ = false;
  bool oversize_pending_ = false;
};

// Reads and drops what the line still brings from an earlier reply that came too late, until it
// has been quiet for `quiet_ticks` or `limit_ticks` have passed, so that it is not taken for
// the answer to the next request. Returns the bytes dropped.
size_t DrainLateInput(SerialLine& line, Clock& clock, uint64_t quiet_ticks, uint64_t limit_ticks);

// Before a request: when the last transaction ended in a time-out (`pending`), drains what is
// still on its way, quiet for the next-byte time-out, for at most the first-byte time-out (each
// at least 1 ms), and clears `pending`.
void DrainIfPending(bool& pending, SerialLine& line, Clock& clock, int32_t next_byte_timeout_ms,
                    int32_t first_byte_timeout_ms);
