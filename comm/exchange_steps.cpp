#include "comm/exchange_steps.h"

bool OperatorStopped(ExchangeHost& host, bool& abort_requested, int32_t& error_code,
                     int32_t stopped_code) {
  host.ProcessMessages();
  if (!abort_requested)
    return false;
  abort_requested = false;
  error_code = stopped_code;
  return true;
}

float BitTime(int32_t baud_rate) {
  return 1.0f / static_cast<float>(baud_rate);
}

void HoldUntilPast(Clock& clock, uint64_t end, ExchangeHost* host) {
  constexpr int32_t kSliceMs = 10;
  constexpr int32_t kMarginMs = 5;
  if (host != nullptr) {
    const uint64_t frequency = clock.Frequency();
    const uint64_t slice = MsToTicks(kSliceMs, frequency);
    const uint64_t margin = MsToTicks(kMarginMs, frequency);
    for (uint64_t now = clock.Counter(); now < end && end - now > slice + margin;
         now = clock.Counter()) {
      clock.SleepUntil(now + slice);
      host->ProcessMessages();
    }
  }
  clock.SleepUntil(end);
  clock.SpinUntilPast(end);
}

bool SendRequest(SerialLine& port, Clock& clock, bool rts_switching, uint64_t rts_hold,
                 const uint8_t* block, size_t size, ExchangeHost* host) {
  port.Purge();
  uint64_t raised = 0;
  if (rts_switching) {
    port.SetRts(true);
    raised = clock.Counter();
  }
  if (!port.Write(block, size)) {
    port.ClearErrors();
    return false;
  }
  if (rts_switching) {
    HoldUntilPast(clock, raised + rts_hold, host);
    port.SetRts(false);
  }
  return true;
}

void WaitForReplyByte(SerialLine& line, uint64_t now, uint64_t limit, uint64_t frequency) {
  const uint64_t idle_bound = std::max<uint64_t>(1, MsToTicks(line.IdleWaitMs(), frequency));
  line.WaitForInput(std::max(TicksToWait(std::min(limit - now, idle_bound), frequency),
                             std::chrono::microseconds(1)));
}

ReplyByte ReadReplyByteOrGone(SerialLine& port, uint8_t& byte) {
  const SerialLine::ReadResult read = port.ReadByte(byte);
  if (read == SerialLine::ReadResult::kByte)
    return ReplyByte::kByte;
  if (read == SerialLine::ReadResult::kFailed) {
    port.ClearErrors();
    if (port.Gone())
      return ReplyByte::kLineGone;
  }
  return ReplyByte::kNothing;
}

bool ReadReplyByte(SerialLine& port, uint8_t& byte) {
  const SerialLine::ReadResult read = port.ReadByte(byte);
  if (read == SerialLine::ReadResult::kFailed)
    port.ClearErrors();
  return read == SerialLine::ReadResult::kByte;
}
