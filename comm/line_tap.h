#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comm/clock.h"
#include "comm/serial_line.h"

// What went over the line, for whoever wants to look: every block written and every byte read
// with its time, grouped by the transactions the exchange objects mark, and the link's counts.
// One thread: the exchange records, a viewer reads between its steps. Recording never waits
// and never grows beyond its ring, so an exchange cannot be held up by a slow viewer.

// The reference instrument's ASCII queries travel on a port of their own but are counted here
// too, so the monitor shows all the program's traffic in one place.
enum class TapProtocol : uint8_t { kCorrector = 0, kModbus = 1, kReference = 2 };
inline constexpr size_t kTapProtocols = 3;

enum class TapDirection : uint8_t {
  kSent,      // a block written, preambles included
  kReceived,  // the bytes read during one transaction
  kOutcome,   // the end of a transaction
};

enum class TapOutcome : uint8_t {
  kPending,    // the transaction has not ended yet
  kAnswered,   // a valid reply
  kTimeout,    // no reply, or it stopped coming
  kChecksum,   // a reply with a bad checksum
  kException,  // the device answered with a refusal
  kAborted,    // stopped by the operator
  kLinkLost,   // the port went away
  kOther,      // any other failure (write failed, a reply that does not fit the request)
};

struct TapFrame {
  uint64_t seq = 0;          // numbers every frame ever recorded, from 0
  uint64_t transaction = 0;  // from 1; 0 for bytes outside any transaction
  int64_t time_us = 0;       // since the tap was made; a received frame: its first byte
  TapDirection direction = TapDirection::kSent;
  TapProtocol protocol = TapProtocol::kCorrector;
  TapOutcome outcome = TapOutcome::kPending;  // the transaction's, once it has ended
  bool retry = false;                         // the transaction repeats a failed one
  uint16_t lead = 0;                          // preamble bytes ahead of a sent frame
  // What the transaction asked: the function, and for Modbus the first register and count.
  uint8_t function = 0;
  uint16_t first = 0;
  uint16_t count = 0;
  std::vector<uint8_t> bytes;     // secret bytes are stored as 0
  std::vector<uint32_t> byte_us;  // a received frame: each byte's time after time_us
  uint16_t mask_from = 0;         // [mask_from, mask_to) of `bytes` are secret
  uint16_t mask_to = 0;
  // Outcome rows.
  int32_t error_code = 0;
  std::string error_text;
  // From the write of the request to the last reply byte read. Timed from the write, not from
  // the end of the RTS hold: the hold is a busy wait, which a loaded machine stretches.
  uint32_t round_trip_us = 0;

  bool Masked(size_t i) const { return i >= mask_from && i < mask_to; }
};

// Counts of one protocol since the tap was made or last cleared.
struct LinkStats {
  static constexpr size_t kRoundTripSamples = 1024;  // the p95 is over the latest ones

  uint64_t requests = 0;
  uint64_t answered = 0;  // with a valid reply or the device's refusal
  uint64_t timeouts = 0;
  uint64_t checksum_errors = 0;
  uint64_t exceptions = 0;
  uint64_t other_errors = 0;  // aborted, link lost, write failures, mismatches
  uint64_t retries = 0;
  uint32_t round_trip_min_us = 0;
  uint32_t round_trip_max_us = 0;
  uint64_t round_trip_sum_us = 0;
  uint64_t round_trips = 0;
  std::vector<uint32_t> recent_round_trips;  // a ring of the latest samples
  std::string last_error;

  double MeanMs() const;
  double P95Ms() const;
  uint64_t Failures() const { return timeouts + checksum_errors + exceptions + other_errors; }
};

class LineTap {
 public:
  static constexpr size_t kDefaultCapacity = 20000;

  explicit LineTap(Clock& clock, size_t capacity = kDefaultCapacity);

  // Marks from the exchange objects. `lead` preamble bytes come ahead of the frame in the block
  // the transaction writes; the frame's bytes [mask_from, mask_to) carry secrets.
  void BeginTransaction(TapProtocol protocol, uint8_t function, uint16_t first, uint16_t count,
                        size_t lead, size_t mask_from, size_t mask_to, bool retry);
  void EndTransaction(TapOutcome outcome, int32_t error_code, const std::string& error_text);

  // From the line.
  void RecordWrite(const uint8_t* data, size_t size);
  void RecordRead(uint8_t byte);

  // Frames whose transaction has ended (or that belong to none and are followed by another)
  // with seq >= `from` that the ring still holds, oldest first.
  template <typename Visit>
  void ForEachSettled(uint64_t from, Visit visit) const {
    const uint64_t oldest = next_seq_ > ring_.size() ? next_seq_ - ring_.size() : 0;
    for (uint64_t s = from > oldest ? from : oldest; s < settled_; ++s)
      visit(ring_[static_cast<size_t>(s % capacity_)]);
  }
  uint64_t settled_seq() const { return settled_; }
  uint64_t next_seq() const { return next_seq_; }
  size_t capacity() const { return capacity_; }

  const LinkStats& stats(TapProtocol protocol) const {
    return stats_[static_cast<size_t>(protocol)];
  }
  void ClearStats();

  // Microseconds since the tap was made, on its clock.
  int64_t NowUs();

 private:
  TapFrame& NewFrame(TapDirection direction);

  Clock& clock_;
  uint64_t origin_;
  size_t capacity_;
  std::vector<TapFrame> ring_;
  uint64_t next_seq_ = 0;
  uint64_t settled_ = 0;
  std::array<LinkStats, kTapProtocols> stats_;

  // The running transaction.
  bool open_ = false;
  uint64_t transaction_ = 0;
  uint64_t transaction_first_seq_ = 0;
  TapProtocol protocol_ = TapProtocol::kCorrector;
  uint8_t function_ = 0;
  uint16_t first_ = 0;
  uint16_t count_ = 0;
  bool retry_ = false;
  size_t lead_ = 0;
  size_t mask_from_ = 0;
  size_t mask_to_ = 0;
  int64_t sent_us_ = -1;
  int64_t last_read_us_ = -1;
  bool reading_ = false;  // the newest frame is this transaction's received frame
};

// A SerialLine that hands everything written and read to a tap on its way. It owns the line it
// wraps; the tap is the caller's.
class TappedLine final : public SerialLine {
 public:
  TappedLine(std::unique_ptr<SerialLine> inner, LineTap& tap)
      : inner_(std::move(inner)), tap_(tap) {}

  bool Purge() override { return inner_->Purge(); }
  bool SetRts(bool on) override { return inner_->SetRts(on); }
  bool Write(const uint8_t* data, size_t size) override;
  ReadResult ReadByte(uint8_t& byte) override;
  bool ClearErrors() override { return inner_->ClearErrors(); }
  void WaitForInput(std::chrono::microseconds limit) override { inner_->WaitForInput(limit); }
  bool Gone() override { return inner_->Gone(); }
  int32_t IdleWaitMs() const override { return inner_->IdleWaitMs(); }

  SerialLine& inner() { return *inner_; }

 private:
  std::unique_ptr<SerialLine> inner_;
  LineTap& tap_;
};
