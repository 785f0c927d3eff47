#include "sim/reply_shaper.h"
#include "comm/checksum.h"

#include <algorithm>

void AppendChecksum(std::vector<uint8_t>& frame) {
  const uint16_t crc = FrameChecksum(frame.data(), static_cast<uint32_t>(frame.size()));
  frame.push_back(static_cast<uint8_t>(crc & 0xFFu));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
}

bool ReplyShaper::Spoils(FrameKind kind) const {
  if (!faults_.AnyReplyFault())
    return false;
  if (faults_.count != 0 && spoiled_ >= faults_.count)
    return false;
  switch (faults_.target) {
    case FaultTarget::kAll:
      return true;
    case FaultTarget::kCorrector:
      return kind == FrameKind::kCorrector;
    case FaultTarget::kSensor:
      return kind == FrameKind::kModbus;
  }
  return false;
}

void ReplyShaper::Lengthen(std::vector<uint8_t>& frame, FrameKind kind) const {
  if (frame.size() < 5)
    return;
  frame.resize(frame.size() - 2);  // the checksum is made again below
  if (kind == FrameKind::kCorrector) {
    frame[2] = static_cast<uint8_t>(frame[2] + 1);
    frame.push_back(0x00);
  } else if (frame[1] == 3) {
    frame[2] = static_cast<uint8_t>(frame[2] + 2);
    frame.push_back(0x00);
    frame.push_back(0x00);
  }
  AppendChecksum(frame);
}

std::vector<TimedByte> ReplyShaper::Send(std::vector<uint8_t> frame, FrameKind kind,
                                         uint64_t ready_us) {
  size_t slow_index = frame.size();  // none
  if (Spoils(kind)) {
    ++spoiled_;
    if (faults_.silence)
      return {};
    if (faults_.wrong_length)
      Lengthen(frame, kind);
    if (faults_.bad_checksum && !frame.empty())
      frame.back() = static_cast<uint8_t>(~frame.back());
    if (faults_.cut_after != 0 && faults_.cut_after < frame.size())
      frame.resize(faults_.cut_after);
    if (faults_.noise_bytes != 0) {
      // Garbage that never holds the frame's first two byte values, so a receiver that drops
      // what it cannot match still finds the frame behind it.
      std::vector<uint8_t> noise;
      while (noise.size() < faults_.noise_bytes) {
        const uint8_t b = random_.Byte();
        if ((!frame.empty() && b == frame[0]) || (frame.size() > 1 && b == frame[1]))
          continue;
        noise.push_back(b);
      }
      frame.insert(frame.begin(), noise.begin(), noise.end());
    }
    if (faults_.slow_byte_ms != 0 && frame.size() > 1) {
      slow_index =
          std::clamp<size_t>(faults_.noise_bytes + faults_.slow_byte_index, 1, frame.size() - 1);
    }
  }

  std::vector<TimedByte> out;
  out.reserve(frame.size());
  const uint64_t start = std::max(ready_us + timing_.turnaround_us, busy_until_);
  const uint64_t slow_us = static_cast<uint64_t>(faults_.slow_byte_ms) * 1000u;
  for (size_t i = 0; i < frame.size(); ++i) {
    const uint64_t at = start + timing_.BytesTime(i + 1) + (i >= slow_index ? slow_us : 0);
    out.push_back({at, frame[i]});
  }
  if (!out.empty())
    busy_until_ = out.back().at_us;
  return out;
}
