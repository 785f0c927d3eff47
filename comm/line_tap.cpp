#include "comm/line_tap.h"

#include <algorithm>

namespace {

bool Answered(TapOutcome outcome) {
  return outcome == TapOutcome::kAnswered || outcome == TapOutcome::kException;
}

}  // namespace

double LinkStats::MeanMs() const {
  return round_trips == 0
             ? 0.0
             : static_cast<double>(round_trip_sum_us) / static_cast<double>(round_trips) / 1000.0;
}

double LinkStats::P95Ms() const {
  if (recent_round_trips.empty())
    return 0.0;
  std::vector<uint32_t> sorted = recent_round_trips;
  // The nearest rank: the smallest sample at or above 95 % of them.
  const size_t rank = (sorted.size() * 95 + 99) / 100;
  const size_t index = std::max<size_t>(rank, 1) - 1;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(index),
                   sorted.end());
  return static_cast<double>(sorted[index]) / 1000.0;
}

LineTap::LineTap(Clock& clock, size_t capacity)
    : clock_(clock), origin_(clock.Counter()), capacity_(std::max<size_t>(capacity, 1)) {}

int64_t LineTap::NowUs() {
  const uint64_t ticks = clock_.Counter() - origin_;
  const uint64_t f = clock_.Frequency();
  if (f == 0)
    return 0;
  // Split so that a long run at a fine counter does not overflow the product.
  return static_cast<int64_t>(ticks / f * 1'000'000u + ticks % f * 1'000'000u / f);
}

TapFrame& LineTap::NewFrame(TapDirection direction) {
  const uint64_t seq = next_seq_++;
  if (ring_.size() < capacity_)
    ring_.emplace_back();
  TapFrame& frame = ring_[static_cast<size_t>(seq % capacity_)];
  // Assigned field by field, so the byte buffers of a reused slot keep their storage.
  frame.seq = seq;
  frame.transaction = open_ ? transaction_ : 0;
  frame.time_us = NowUs();
  frame.direction = direction;
  frame.protocol = protocol_;
  frame.outcome = TapOutcome::kPending;
  frame.retry = retry_;
  frame.lead = 0;
  frame.function = function_;
  frame.first = first_;
  frame.count = count_;
  frame.bytes.clear();
  frame.byte_us.clear();
  frame.mask_from = 0;
  frame.mask_to = 0;
  frame.error_code = 0;
  frame.error_text.clear();
  frame.round_trip_us = 0;
  if (!open_)
    settled_ = seq;  // what came before belongs to nothing that is still running
  return frame;
}

void LineTap::BeginTransaction(TapProtocol protocol, uint8_t function, uint16_t first,
                               uint16_t count, size_t lead, size_t mask_from, size_t mask_to,
                               bool retry) {
  if (open_)
    EndTransaction(TapOutcome::kOther, 0, {});
  settled_ = next_seq_;
  open_ = true;
  ++transaction_;
  transaction_first_seq_ = next_seq_;
  protocol_ = protocol;
  function_ = function;
  first_ = first;
  count_ = count;
  retry_ = retry;
  lead_ = lead;
  mask_from_ = mask_from;
  mask_to_ = mask_to;
  sent_us_ = -1;
  last_read_us_ = -1;
  reading_ = false;

  LinkStats& s = stats_[static_cast<size_t>(protocol)];
  ++s.requests;
  if (retry)
    ++s.retries;
}

void LineTap::RecordWrite(const uint8_t* data, size_t size) {
  reading_ = false;
  TapFrame& frame = NewFrame(TapDirection::kSent);
  frame.bytes.assign(data, data + size);
  if (open_) {
    frame.lead = static_cast<uint16_t>(std::min(lead_, size));
    // The secret bytes never reach the ring: nothing that reads it can show them.
    const size_t from = std::min(lead_ + mask_from_, size);
    const size_t to = std::min(lead_ + mask_to_, size);
    std::fill(frame.bytes.begin() + static_cast<std::ptrdiff_t>(from),
              frame.bytes.begin() + static_cast<std::ptrdiff_t>(to), uint8_t{0});
    frame.mask_from = static_cast<uint16_t>(from);
    frame.mask_to = static_cast<uint16_t>(to);
    sent_us_ = frame.time_us;
  }
}

void LineTap::RecordRead(uint8_t byte) {
  const int64_t now = NowUs();
  TapFrame* frame = nullptr;
  if (reading_ && next_seq_ > 0) {
    frame = &ring_[static_cast<size_t>((next_seq_ - 1) % capacity_)];
  } else {
    frame = &NewFrame(TapDirection::kReceived);
    frame->time_us = now;
    reading_ = open_;
  }
  frame->bytes.push_back(byte);
  frame->byte_us.push_back(static_cast<uint32_t>(now - frame->time_us));
  last_read_us_ = now;
}

void LineTap::EndTransaction(TapOutcome outcome, int32_t error_code,
                             const std::string& error_text) {
  if (!open_)
    return;
  TapFrame& end = NewFrame(TapDirection::kOutcome);
  end.outcome = outcome;
  end.error_code = error_code;
  end.error_text = error_text;
  const bool timed = Answered(outcome) && sent_us_ >= 0 && last_read_us_ >= sent_us_;
  if (timed)
    end.round_trip_us = static_cast<uint32_t>(last_read_us_ - sent_us_);

  // Every frame of the transaction that the ring still holds takes its outcome.
  const uint64_t oldest = next_seq_ > ring_.size() ? next_seq_ - ring_.size() : 0;
  for (uint64_t s = std::max(transaction_first_seq_, oldest); s < next_seq_; ++s)
    ring_[static_cast<size_t>(s % capacity_)].outcome = outcome;

  LinkStats& s = stats_[static_cast<size_t>(protocol_)];
  switch (outcome) {
    case TapOutcome::kAnswered:
      ++s.answered;
      break;
    case TapOutcome::kException:
      ++s.answered;
      ++s.exceptions;
      break;
    case TapOutcome::kTimeout:
      ++s.timeouts;
      break;
    case TapOutcome::kChecksum:
      ++s.checksum_errors;
      break;
    default:
      ++s.other_errors;
      break;
  }
  if (outcome != TapOutcome::kAnswered)
    s.last_error = error_text;
  if (timed) {
    const uint32_t rtt = end.round_trip_us;
    s.round_trip_min_us = s.round_trips == 0 ? rtt : std::min(s.round_trip_min_us, rtt);
    s.round_trip_max_us = std::max(s.round_trip_max_us, rtt);
    s.round_trip_sum_us += rtt;
    if (s.recent_round_trips.size() < LinkStats::kRoundTripSamples)
      s.recent_round_trips.push_back(rtt);
    else
      s.recent_round_trips[s.round_trips % LinkStats::kRoundTripSamples] = rtt;
    ++s.round_trips;
  }

  open_ = false;
  reading_ = false;
  retry_ = false;
  settled_ = next_seq_;
}

void LineTap::ClearStats() {
  for (LinkStats& s : stats_)
    s = LinkStats{};
}

bool TappedLine::Write(const uint8_t* data, size_t size) {
  tap_.RecordWrite(data, size);
  return inner_->Write(data, size);
}

SerialLine::ReadResult TappedLine::ReadByte(uint8_t& byte) {
  const ReadResult result = inner_->ReadByte(byte);
  if (result == ReadResult::kByte)
    tap_.RecordRead(byte);
  return result;
}
