#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "comm/clock.h"
#include "comm/serial_line.h"
#include "sim/line_device.h"

// A serial line to a simulated device inside the process, timed by a VirtualClock: waiting
// for input moves the clock to the next byte's arrival or to the end of the wait.
class VirtualLine final : public SerialLine {
 public:
  struct RtsChange {
    uint64_t at;
    bool on;
  };

  explicit VirtualLine(VirtualClock& clock, LineDevice* device = nullptr)
      : clock_(clock), device_(device) {}

  void Attach(LineDevice* device) { device_ = device; }

  bool Purge() override;
  bool SetRts(bool on) override;
  bool Write(const uint8_t* data, size_t size) override;
  ReadResult ReadByte(uint8_t& byte) override;
  bool ClearErrors() override;
  void WaitForInput(std::chrono::microseconds limit) override;
  bool Gone() override { return clock_.Counter() >= gone_at_; }

  // Puts bytes on the line towards the master without a request (noise, late bytes).
  void Inject(const std::vector<TimedByte>& bytes);

  // Everything the master has written, in order, and when each write happened.
  const std::vector<uint8_t>& written() const { return written_; }
  const std::vector<uint64_t>& write_times() const { return write_times_; }
  const std::vector<RtsChange>& rts_changes() const { return rts_changes_; }
  size_t purges() const { return purges_; }
  // Makes the next writes fail, as a port whose adapter was pulled out.
  void set_fail_writes(bool fail) { fail_writes_ = fail; }
  // Makes reads fail, as a line in an error state.
  void set_fail_reads(bool fail) { fail_reads_ = fail; }
  // From `at_us` on the port is gone: reads and writes fail, as when an adapter is pulled out.
  void set_gone_at(uint64_t at_us) { gone_at_ = at_us; }
  void ClearLog();

 private:
  void Enqueue(const std::vector<TimedByte>& bytes);

  VirtualClock& clock_;
  LineDevice* device_;
  std::deque<TimedByte> pending_;
  std::vector<uint8_t> written_;
  std::vector<uint64_t> write_times_;
  std::vector<RtsChange> rts_changes_;
  size_t purges_ = 0;
  bool fail_writes_ = false;
  bool fail_reads_ = false;
  uint64_t gone_at_ = UINT64_MAX;
};
