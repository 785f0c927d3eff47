#include "sim/sim_corrector.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kStartAA = 0xAA;
constexpr uint8_t kStartBB = 0xBB;
constexpr uint8_t kReplyAA = 0x55;
constexpr uint8_t kReplyBB = 0x66;
constexpr uint8_t kSearchAddress = 255;
constexpr uint8_t kRefusal = 0xFF;

constexpr uint8_t kFnIdentification = 1;
constexpr uint8_t kFn5 = 5;
constexpr uint8_t kFnImitation = 8;
constexpr uint8_t kFnEnterService = 16;
constexpr uint8_t kFnLeaveService = 17;

// Reply lengths, checksum included.
constexpr size_t kIdentificationLength = 165;
constexpr size_t kFn5Length = 19;
constexpr size_t kImitationLength = 26;
constexpr size_t kModeChangeLength = 6;

// Identification reply bytes the master reads.
constexpr size_t kIdSwVersion = 63;
constexpr size_t kIdPlate = 69;
constexpr size_t kIdFlags = 162;         // bit 7: constants password demanded
constexpr uint8_t kIdFlagsOther = 0x01;  // a bit the master has no business looking at

// 0xBB request layouts: where the codes sit, and the whole lengths.
constexpr size_t kShortRequestLength = 23;      // functions 8 and 17
constexpr size_t kEnterRequestLength = 29;      // function 16 without the constants password
constexpr size_t kEnterRequestLongLength = 46;  // function 16 with it
constexpr size_t kShortPassword = 5, kShortUserCode = 17;
constexpr size_t kEnterChannel = 5, kEnterPassword = 6, kEnterUserCode = 18, kEnterConst = 22;

template <size_t N>
bool CodeMatches(const std::optional<std::array<uint8_t, N>>& expected,
                 const std::vector<uint8_t>& request, size_t at) {
  return !expected || std::memcmp(expected->data(), request.data() + at, N) == 0;
}

// Each line's sensors are separate instruments: their noise must not repeat line by line.
SensorConfig ForLine(SensorConfig config, int index) {
  config.seed += static_cast<uint64_t>(index) * 0x1000u;
  return config;
}

}  // namespace

SimCorrector::SimCorrector(const CorrectorConfig& config, const LineTiming& timing,
                           const FaultConfig& faults)
    : config_(config),
      sensors_{
          {{SimSensor(ForLine(config.pressure, 0)), SimSensor(ForLine(config.temperature, 0))},
           {SimSensor(ForLine(config.pressure, 1)), SimSensor(ForLine(config.temperature, 1))},
           {SimSensor(ForLine(config.pressure, 2)), SimSensor(ForLine(config.temperature, 2))}}},
      framer_(true, timing),
      shaper_(timing, faults) {}

void SimCorrector::Settle(uint64_t now_us) {
  for (Line& line : lines_) {
    if (now_us < line.change_at_us)
      continue;
    if (line.mode == Mode::kEntering)
      line.mode = Mode::kInService;
    if (line.mode == Mode::kLeaving)
      line.mode = Mode::kNormal;
  }
}

SimCorrector::Mode SimCorrector::mode(int line, uint64_t now_us) {
  Settle(now_us);
  return lines_[line - 1].mode;
}

uint8_t SimCorrector::ReportedState(int line, uint64_t now_us) {
  uint8_t state = 0;
  switch (mode(line, now_us)) {
    case Mode::kNormal:
      state = 0;
      break;
    case Mode::kEntering:
      state = config_.entering_state;
      break;
    case Mode::kInService:
      state = 3;
      break;
    case Mode::kLeaving:
      state = config_.leaving_state;
      break;
  }
  return static_cast<uint8_t>(state | config_.state_extra_bits);
}

std::vector<uint8_t>& SimCorrector::Seal(std::vector<uint8_t>& frame) {
  AppendChecksum(frame);
  return frame;
}

std::vector<uint8_t> SimCorrector::Reply(uint8_t start, uint8_t function, size_t length) {
  std::vector<uint8_t> frame(length - 2, 0);
  frame[0] = start;
  frame[1] = config_.address;
  frame[2] = static_cast<uint8_t>(length);
  frame[3] = function;
  return frame;
}

std::vector<uint8_t> SimCorrector::Error(uint8_t function, uint8_t code, uint8_t pipeline,
                                         uint8_t detail) {
  std::vector<uint8_t> frame = Reply(kReplyBB, function, 9);
  frame[4] = code;
  frame[5] = pipeline;
  frame[6] = detail;
  return Seal(frame);
}

std::vector<TimedByte> SimCorrector::Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) {
  std::vector<TimedByte> out;
  for (LineRequest& request : framer_.Feed(bytes, now_us)) {
    std::vector<uint8_t> reply;
    if (request.kind == FrameKind::kCorrector) {
      const std::vector<uint8_t>& frame = request.bytes;
      if (frame[1] != config_.address && frame[1] != kSearchAddress)
        continue;
      reply = frame[0] == kStartAA ? AnswerAA(frame) : AnswerBB(frame, now_us);
    } else {
      reply = Relay(request.bytes, now_us);
    }
    if (reply.empty())
      continue;
    std::vector<TimedByte> timed = shaper_.Send(std::move(reply), request.kind, now_us);
    out.insert(out.end(), timed.begin(), timed.end());
  }
  return out;
}

std::vector<uint8_t> SimCorrector::Relay(const std::vector<uint8_t>& frame, uint64_t now_us) {
  Settle(now_us);
  for (int i = 0; i < kCorrectorLines; ++i) {
    if (lines_[i].mode != Mode::kInService)
      continue;
    if (!config_.wired[i] || shaper_.faults().line_disconnected)
      return {};
    return sensors_[i][lines_[i].channel].Answer(frame, now_us);
  }
  return {};
}

std::vector<uint8_t> SimCorrector::AnswerAA(const std::vector<uint8_t>& request) {
  const uint8_t function = request[3];
  std::vector<uint8_t> reply;
  if (config_.refuse) {
    reply = Reply(kReplyAA, kRefusal, 6);
  } else if (function == kFnIdentification && request.size() == 6) {
    reply = Reply(kReplyAA, function, kIdentificationLength);
    // A serial number in front; the rest of what a real corrector reports here is not used.
    const char serial[] = "SIM00001";
    std::copy(serial, serial + 8, reply.begin() + 4);
    reply[kIdSwVersion] = config_.sw_version;
    reply[kIdPlate] = config_.plate;
    reply[kIdFlags] = static_cast<uint8_t>((config_.password_demand ? 0x80 : 0x00) | kIdFlagsOther);
  } else if (function == kFn5 && request.size() == 7) {
    reply = Reply(kReplyAA, function, kFn5Length);
    reply[4] = request[4];
  } else {
    reply = Reply(kReplyAA, kRefusal, 6);
  }
  return Seal(reply);
}

std::vector<uint8_t> SimCorrector::AnswerBB(const std::vector<uint8_t>& request, uint64_t now_us) {
  using namespace corrector_error;
  const uint8_t function = request[3];
  size_t expected = 0;
  switch (function) {
    case kFnImitation:
    case kFnLeaveService:
      expected = kShortRequestLength;
      break;
    case kFnEnterService:
      expected = config_.password_demand ? kEnterRequestLongLength : kEnterRequestLength;
      break;
    default:
      return Error(function, kUnknownFunction, 0);
  }
  if (request.size() != expected)
    return Error(function, kBadLength, 0);

  const int line = request[4];
  const uint8_t pipeline = line >= 1 ? static_cast<uint8_t>(line - 1) : 0;
  const bool enter = function == kFnEnterService;
  if (!CodeMatches(config_.write_password, request, enter ? kEnterPassword : kShortPassword)) {
    return Error(function, kBadPassword, pipeline, 0);
  }
  if (!CodeMatches(config_.user_code, request, enter ? kEnterUserCode : kShortUserCode)) {
    return Error(function, kBadUserCode, pipeline);
  }
  if (line < 1 || line > kCorrectorLines)
    return Error(function, kBadLine, pipeline);

  if (function == kFnImitation) {
    std::vector<uint8_t> reply = Reply(kReplyBB, function | 0x80, kImitationLength);
    reply[4] = static_cast<uint8_t>(line);
    reply[5] = ReportedState(line, now_us);
    reply[6] = static_cast<uint8_t>(lines_[line - 1].channel);
    return Seal(reply);
  }
  if (enter)
    return EnterService(request, line, now_us);
  return LeaveService(line, function, now_us);
}

std::vector<uint8_t> SimCorrector::EnterService(const std::vector<uint8_t>& request, int line,
                                                uint64_t now_us) {
  using namespace corrector_error;
  const uint8_t pipeline = static_cast<uint8_t>(line - 1);
  if (config_.password_demand && !CodeMatches(config_.const_password, request, kEnterConst)) {
    return Error(kFnEnterService, kBadPassword, pipeline, 1);
  }
  const uint8_t channel = request[kEnterChannel];
  if (channel > 1)
    return Error(kFnEnterService, kNotInService, pipeline, channel);

  Settle(now_us);
  for (const Line& other : lines_) {
    if (other.mode == Mode::kEntering)
      return Error(kFnEnterService, kEntering, pipeline);
    if (other.mode == Mode::kLeaving)
      return Error(kFnEnterService, kLeaving, pipeline);
  }
  if (lines_[line - 1].mode == Mode::kInService) {
    return Error(kFnEnterService, kLineInService, pipeline);
  }
  if (std::any_of(lines_.begin(), lines_.end(),
                  [](const Line& l) { return l.mode == Mode::kInService; })) {
    return Error(kFnEnterService, kOtherInService, pipeline);
  }
  Line& target = lines_[line - 1];
  target.mode = Mode::kEntering;
  target.channel = channel;
  target.change_at_us = now_us + static_cast<uint64_t>(config_.service_delay_ms) * 1000u;
  Settle(now_us);  // a delay of 0 takes effect at once
  std::vector<uint8_t> reply = Reply(kReplyBB, kFnEnterService | 0x80, kModeChangeLength);
  return Seal(reply);
}

std::vector<uint8_t> SimCorrector::LeaveService(int line, uint8_t function, uint64_t now_us) {
  using namespace corrector_error;
  const uint8_t pipeline = static_cast<uint8_t>(line - 1);
  Line& target = lines_[line - 1];
  Settle(now_us);
  switch (target.mode) {
    case Mode::kEntering:
      return Error(function, kEntering, pipeline);
    case Mode::kLeaving:
      return Error(function, kLeaving, pipeline);
    case Mode::kNormal:
      return Error(function, kNotInService, pipeline);
    case Mode::kInService:
      break;
  }
  target.mode = Mode::kLeaving;
  target.change_at_us = now_us + static_cast<uint64_t>(config_.service_delay_ms) * 1000u;
  Settle(now_us);
  std::vector<uint8_t> reply = Reply(kReplyBB, kFnLeaveService | 0x80, kModeChangeLength);
  return Seal(reply);
}
