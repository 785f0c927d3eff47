#include "sim/virtual_line.h"

#include <algorithm>

bool VirtualLine::Purge() {
  ++purges_;
  // Bytes already received are dropped; bytes still on their way arrive later as on a wire.
  const uint64_t now = clock_.Counter();
  while (!pending_.empty() && pending_.front().at_us <= now)
    pending_.pop_front();
  return true;
}

bool VirtualLine::SetRts(bool on) {
  rts_changes_.push_back({clock_.Counter(), on});
  return true;
}

bool VirtualLine::Write(const uint8_t* data, size_t size) {
  if (fail_writes_ || Gone())
    return false;
  std::vector<uint8_t> block(data, data + size);
  written_.insert(written_.end(), block.begin(), block.end());
  write_times_.push_back(clock_.Counter());
  if (device_ != nullptr)
    Enqueue(device_->Receive(block, clock_.Counter()));
  return true;
}

SerialLine::ReadResult VirtualLine::ReadByte(uint8_t& byte) {
  if (fail_reads_ || Gone())
    return ReadResult::kFailed;
  if (pending_.empty() || pending_.front().at_us > clock_.Counter())
    return ReadResult::kNothing;
  byte = pending_.front().value;
  pending_.pop_front();
  return ReadResult::kByte;
}

bool VirtualLine::ClearErrors() {
  return true;
}

void VirtualLine::WaitForInput(std::chrono::microseconds limit) {
  const uint64_t until =
      clock_.Counter() + static_cast<uint64_t>(std::max<int64_t>(0, limit.count()));
  if (!fail_reads_ && !pending_.empty() && pending_.front().at_us < until) {
    clock_.AdvanceTo(pending_.front().at_us);
  } else {
    clock_.AdvanceTo(until);
  }
}

void VirtualLine::Inject(const std::vector<TimedByte>& bytes) {
  Enqueue(bytes);
}

void VirtualLine::Enqueue(const std::vector<TimedByte>& bytes) {
  for (const TimedByte& b : bytes) {
    // Keep arrival order: a byte cannot overtake the one sent before it.
    const uint64_t at = pending_.empty() ? b.at_us : std::max(b.at_us, pending_.back().at_us);
    pending_.push_back({at, b.value});
  }
}

void VirtualLine::ClearLog() {
  written_.clear();
  write_times_.clear();
  rts_changes_.clear();
  purges_ = 0;
}
