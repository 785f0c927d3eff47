#include "sim/request_framer.h"
#include "comm/checksum.h"

namespace {
// Longest frame either protocol can hold: a corrector frame's length is one byte; a function
// 16 request is 9 bytes plus a byte count of at most 255.
constexpr size_t kLongestFrame = 264;
// Bytes kept while looking for a frame; beyond that the oldest go.
constexpr size_t kMaxPending = 2 * kLongestFrame;
constexpr size_t kShortestModbusFrame = 4;  // address, function, checksum
constexpr size_t kShortestCorrectorFrame = 6;

// One byte more into a running checksum of the same kind as FrameChecksum (0xA001 reflected,
// start 0xFFFF): lets the search for where a frame of unknown layout ends run in one pass.
uint16_t ChecksumStep(uint16_t crc, uint8_t byte) {
  crc ^= byte;
  for (int bit = 0; bit < 8; ++bit) {
    crc =
        (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u) : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}
}  // namespace

bool RequestFramer::ChecksumOk(size_t pos, size_t length) const {
  return FrameChecksum(pending_.data() + pos, static_cast<uint32_t>(length)) == 0;
}

RequestFramer::Match RequestFramer::MatchCorrector(size_t pos, size_t& length) const {
  const size_t have = pending_.size() - pos;
  const uint8_t start = pending_[pos];
  if (!corrector_frames_ || (start != 0xAA && start != 0xBB))
    return Match::kNone;
  if (have < 3)
    return Match::kNeedMore;
  length = pending_[pos + 2];
  if (length < kShortestCorrectorFrame)
    return Match::kNone;
  if (have < length)
    return Match::kNeedMore;
  return ChecksumOk(pos, length) ? Match::kComplete : Match::kNone;
}

RequestFramer::Match RequestFramer::MatchModbus(size_t pos, size_t& length) const {
  const size_t have = pending_.size() - pos;
  if (pending_[pos] == 0xFF)
    return Match::kNone;  // preamble; 255 is no Modbus address
  if (have < 2)
    return Match::kNeedMore;
  const uint8_t function = pending_[pos + 1];
  if (function == 3 || function == 16) {
    if (function == 3) {
      length = 8;
    } else {
      if (have < 7)
        return Match::kNeedMore;
      length = 9 + static_cast<size_t>(pending_[pos + 6]);
    }
    if (have < length)
      return Match::kNeedMore;
    return ChecksumOk(pos, length) ? Match::kComplete : Match::kNone;
  }
  // A function of unknown layout ends where its checksum first checks.
  uint16_t crc = 0xFFFF;
  for (length = 1; length <= have && length <= kLongestFrame; ++length) {
    crc = ChecksumStep(crc, pending_[pos + length - 1]);
    if (crc == 0 && length >= kShortestModbusFrame)
      return Match::kComplete;
  }
  return have < kLongestFrame ? Match::kNeedMore : Match::kNone;
}

RequestFramer::Match RequestFramer::MatchAt(size_t pos, LineRequest& found) const {
  size_t length = 0;
  const Match corrector = MatchCorrector(pos, length);
  if (corrector == Match::kComplete) {
    found.kind = FrameKind::kCorrector;
    found.bytes.assign(pending_.begin() + static_cast<ptrdiff_t>(pos),
                       pending_.begin() + static_cast<ptrdiff_t>(pos + length));
    return Match::kComplete;
  }
  const Match modbus = MatchModbus(pos, length);
  if (modbus == Match::kComplete) {
    found.kind = FrameKind::kModbus;
    found.bytes.assign(pending_.begin() + static_cast<ptrdiff_t>(pos),
                       pending_.begin() + static_cast<ptrdiff_t>(pos + length));
    return Match::kComplete;
  }
  if (corrector == Match::kNeedMore || modbus == Match::kNeedMore)
    return Match::kNeedMore;
  return Match::kNone;
}

std::vector<LineRequest> RequestFramer::Feed(const std::vector<uint8_t>& bytes, uint64_t now_us) {
  std::vector<LineRequest> frames;
  if (bytes.empty())
    return frames;
  const uint64_t on_wire = timing_.BytesTime(bytes.size());
  const uint64_t first_start = now_us > on_wire ? now_us - on_wire : 0;
  const bool after_silence = !pending_.empty() && first_start > last_byte_us_ + timing_.FrameGap();
  last_byte_us_ = now_us;
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  if (after_silence) {
    // Silence ends an incomplete frame, unless the new bytes complete exactly that frame: on a
    // pseudo-terminal a scheduling delay of the serving thread looks like silence on the line.
    LineRequest joined;
    if (MatchAt(0, joined) != Match::kComplete) {
      pending_.erase(pending_.begin(), pending_.end() - static_cast<ptrdiff_t>(bytes.size()));
    }
  }
  if (pending_.size() > kMaxPending) {
    pending_.erase(pending_.begin(),
                   pending_.begin() + static_cast<ptrdiff_t>(pending_.size() - kMaxPending));
  }

  size_t pos = 0;
  while (pos < pending_.size()) {
    LineRequest found;
    const Match front = MatchAt(pos, found);
    if (front == Match::kNone) {
      ++pos;
      continue;
    }
    if (front == Match::kNeedMore) {
      // The front may be noise with a complete frame behind it.
      size_t later = pos + 1;
      for (; later < pending_.size(); ++later) {
        if (MatchAt(later, found) == Match::kComplete)
          break;
      }
      if (later == pending_.size())
        break;
      pos = later;
    }
    pos += found.bytes.size();
    frames.push_back(std::move(found));
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(pos));
  return frames;
}
