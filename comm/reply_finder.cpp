#include "comm/reply_finder.h"

#include "comm/checksum.h"
#include "comm/exchange_steps.h"

#include <algorithm>

namespace {

// Past this much ruled-out input the front is dropped; a reply is at most 260 bytes.
constexpr size_t kKeptInput = 4096;

}  // namespace

ReplyFinder::ReplyFinder(const uint8_t* sent, size_t sent_size, EchoMode echo, FrameRule rule)
    : sent_(sent, sent + sent_size), echo_(echo), rule_(std::move(rule)) {
  echo_open_ = echo_ != EchoMode::kOff && !sent_.empty();
}

void ReplyFinder::Add(uint8_t byte) {
  if (found_)
    return;
  input_.push_back(byte);
  ++received_;
  if (echo_open_) {
    const size_t n = input_.size() + dropped_;
    const bool matches = echo_ == EchoMode::kAlways || (n <= sent_.size() && byte == sent_[n - 1]);
    if (!matches) {
      echo_open_ = false;  // not the echo: every byte is the reply's to claim
    } else if (n == sent_.size()) {
      echo_open_ = false;
      base_ = input_.size();
      from_ = std::max(from_, base_);
      in_frame_ = false;
      checksum_failed_ = false;
    }
    if (echo_ == EchoMode::kAlways && echo_open_)
      return;  // nothing of the reply before the whole echo has passed
  }
  Search();
  Trim();
}

void ReplyFinder::Search() {
  in_frame_ = false;
  oversize_pending_ = false;
  for (size_t pos = from_; pos < input_.size(); ++pos) {
    const FrameView view = rule_(input_.data() + pos, input_.size() - pos);
    if (view.kind == FrameView::Kind::kNoStart) {
      if (pos == from_)
        ++from_;
      continue;
    }
    if (view.kind == FrameView::Kind::kMore || pos + view.length > input_.size()) {
      in_frame_ = in_frame_ || view.started;
      oversize_pending_ = oversize_pending_ || view.oversize;
      continue;  // a later start may still complete first
    }
    if (view.oversize ||
        FrameChecksum(input_.data() + pos, static_cast<uint32_t>(view.length)) == 0) {
      found_ = true;
      frame_begin_ = pos;
      frame_length_ = view.length;
      frame_oversize_ = view.oversize;
      return;
    }
    checksum_failed_ = true;
    if (pos == from_)
      ++from_;
  }
  if (in_frame_)
    checksum_failed_ = false;  // a candidate in progress may yet be whole
}

void ReplyFinder::Trim() {
  if (found_ || echo_open_ || from_ < kKeptInput)
    return;
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(from_));
  dropped_ += from_;
  base_ = base_ > from_ ? base_ - from_ : 0;
  from_ = 0;
}

size_t DrainLateInput(SerialLine& line, Clock& clock, uint64_t quiet_ticks, uint64_t limit_ticks) {
  const uint64_t frequency = clock.Frequency();
  const uint64_t start = clock.Counter();
  uint64_t last = start;
  size_t dropped = 0;
  for (;;) {
    uint8_t byte = 0;
    const uint64_t now = clock.Counter();
    if (ReadReplyByte(line, byte)) {
      ++dropped;
      last = now;
    } else {
      const uint64_t quiet_end = last + quiet_ticks;
      const uint64_t end = std::min(quiet_end, start + limit_ticks);
      if (now >= end)
        return dropped;
      line.WaitForInput(std::max(TicksToWait(end - now, frequency), std::chrono::microseconds(1)));
    }
    if (clock.Counter() >= start + limit_ticks)
      return dropped;
  }
}

void DrainIfPending(bool& pending, SerialLine& line, Clock& clock, int32_t next_byte_timeout_ms,
                    int32_t first_byte_timeout_ms) {
  if (!pending)
    return;
  const uint64_t frequency = clock.Frequency();
  DrainLateInput(line, clock, MsToTicks(std::max<int32_t>(1, next_byte_timeout_ms), frequency),
                 MsToTicks(std::max<int32_t>(1, first_byte_timeout_ms), frequency));
  pending = false;
}
