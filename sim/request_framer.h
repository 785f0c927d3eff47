#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/reply_shaper.h"

// One request found on the line, checksum verified.
struct LineRequest {
  FrameKind kind;
  std::vector<uint8_t> bytes;
};

// Finds request frames in the bytes a master sends, the way a device on the line must: there
// is no marker between frames, so a frame is recognised by its structure and its checksum.
//
// - 0xFF bytes between frames are preambles and are skipped.
// - A corrector frame starts with 0xAA or 0xBB, its byte 2 is the whole length (at least 6),
//   and it is complete when that many bytes have come and their checksum checks.
// - A Modbus frame is an address byte and a function code: function 3 requests are 8 bytes,
//   function 16 requests 9 bytes plus their byte count (byte 6); for any other function the
//   frame ends at the first length from 4 bytes on where the checksum checks.
// - A byte that starts no frame (bad checksum, impossible length) is dropped and the search
//   goes on from the next one. While the frame at the front is still incomplete, a complete
//   frame further on wins: the front was noise.
// - Silence longer than the frame gap ends an incomplete frame: it is dropped.
//
// 0xAA and 0xBB are also valid Modbus addresses; a frame that checks as either is taken, the
// corrector's reading first.
class RequestFramer {
 public:
  // `corrector_frames`: whether corrector frames are recognised at all (not by a lone sensor).
  RequestFramer(bool corrector_frames, const LineTiming& timing)
      : corrector_frames_(corrector_frames), timing_(timing) {}

  // `bytes` have all arrived by `now_us`. Returns the frames completed by them, in order.
  std::vector<LineRequest> Feed(const std::vector<uint8_t>& bytes, uint64_t now_us);

  void set_timing(const LineTiming& timing) { timing_ = timing; }
  size_t pending() const { return pending_.size(); }

 private:
  enum class Match { kNone, kNeedMore, kComplete };
  Match MatchAt(size_t pos, LineRequest& found) const;
  Match MatchCorrector(size_t pos, size_t& length) const;
  Match MatchModbus(size_t pos, size_t& length) const;
  bool ChecksumOk(size_t pos, size_t length) const;

  bool corrector_frames_;
  LineTiming timing_;
  std::vector<uint8_t> pending_;
  uint64_t last_byte_us_ = 0;
};
