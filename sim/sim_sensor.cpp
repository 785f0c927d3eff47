#include "sim/sim_sensor.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace {

uint16_t WordAt(const std::vector<uint8_t>& frame, size_t pos) {
  return static_cast<uint16_t>((frame[pos] << 8) | frame[pos + 1]);
}

void PutWord(std::vector<uint8_t>& frame, uint16_t value) {
  frame.push_back(static_cast<uint8_t>(value >> 8));
  frame.push_back(static_cast<uint8_t>(value & 0xFFu));
}

bool Mapped(uint16_t reg) {
  return reg == kRegUnit || reg == kRegValue || reg == kRegValue + 1 ||
         (reg >= kRegOffset && reg <= kRegSlope + 1);
}

}  // namespace

void FloatToWords(float value, uint16_t& low, uint16_t& high) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  low = static_cast<uint16_t>(bits & 0xFFFFu);
  high = static_cast<uint16_t>(bits >> 16);
}

float WordsToFloat(uint16_t low, uint16_t high) {
  return std::bit_cast<float>(static_cast<uint32_t>(high) << 16 | low);
}

double SimSensor::ModelError(double value, bool falling) const {
  double error = falling ? config_.hysteresis / 2 : -config_.hysteresis / 2;
  const double span = config_.range_high - config_.range_low;
  if (span > 0.0) {
    const double share = (value - config_.range_low) / span;
    error += config_.nonlinearity / 100.0 * span * 4.0 * share * (1.0 - share);
  }
  return error;
}

void SimSensor::Apply(double value) {
  if (value < config_.value)
    falling_ = true;
  else if (value > config_.value)
    falling_ = false;
  config_.value = value;
}

double SimSensor::RawAt(uint64_t now_us) const {
  const double value =
      config_.input ? config_.input->At(now_us)
                    : config_.value + config_.drift_per_s * (static_cast<double>(now_us) / 1e6);
  if (config_.nonlinearity == 0.0 && config_.hysteresis == 0.0)
    return value;
  return value + ModelError(value, falling());
}

float SimSensor::Reading(uint64_t now_us) {
  double raw = RawAt(now_us);
  if (config_.noise != 0.0)
    raw += config_.noise * random_.Symmetric();
  return static_cast<float>(raw) * config_.slope + config_.offset;
}

std::vector<uint8_t> SimSensor::Exception(uint8_t address, uint8_t function, uint8_t code) {
  std::vector<uint8_t> reply = {address, static_cast<uint8_t>(function | 0x80u), code};
  AppendChecksum(reply);
  return reply;
}

std::vector<uint8_t> SimSensor::Answer(const std::vector<uint8_t>& frame, uint64_t now_us) {
  if (frame.size() < 4)
    return {};
  const uint8_t address = frame[0];
  if (address != config_.address && address != 0)
    return {};
  const uint8_t function = frame[1];
  if (function == 3 && frame.size() == 8) {
    return Read(address, WordAt(frame, 2), WordAt(frame, 4), now_us);
  }
  if (function == 16 && frame.size() >= 9)
    return Write(frame);
  return Exception(address, function, kExIllegalFunction);
}

std::vector<uint8_t> SimSensor::Read(uint8_t address, uint16_t first, uint16_t count,
                                     uint64_t now_us) {
  if (count == 0 || count > kMaxReadCount)
    return Exception(address, 3, kExIllegalValue);
  for (uint32_t reg = first; reg < static_cast<uint32_t>(first) + count; ++reg) {
    if (reg > 0xFFFF || !Mapped(static_cast<uint16_t>(reg))) {
      return Exception(address, 3, kExIllegalAddress);
    }
  }
  uint16_t value_low = 0, value_high = 0;
  if (first <= kRegValue + 1 && first + count > kRegValue) {
    FloatToWords(Reading(now_us), value_low, value_high);
  }
  uint16_t offset_low, offset_high, slope_low, slope_high;
  FloatToWords(config_.offset, offset_low, offset_high);
  FloatToWords(config_.slope, slope_low, slope_high);

  std::vector<uint8_t> reply = {address, 3, static_cast<uint8_t>(2 * count)};
  for (uint16_t reg = first; reg < first + count; ++reg) {
    uint16_t word = 0;
    switch (reg) {
      case kRegUnit:
        word = config_.unit_code;
        break;
      case kRegValue:
        word = value_low;
        break;
      case kRegValue + 1:
        word = value_high;
        break;
      case kRegOffset:
        word = offset_low;
        break;
      case kRegOffset + 1:
        word = offset_high;
        break;
      case kRegSlope:
        word = slope_low;
        break;
      case kRegSlope + 1:
        word = slope_high;
        break;
      default:
        break;
    }
    PutWord(reply, word);
  }
  AppendChecksum(reply);
  return reply;
}

std::vector<uint8_t> SimSensor::Write(const std::vector<uint8_t>& frame) {
  const uint8_t address = frame[0];
  const uint16_t first = WordAt(frame, 2);
  const uint16_t count = WordAt(frame, 4);
  const uint8_t byte_count = frame[6];
  if (count == 0 || count > kMaxWriteCount || byte_count != 2 * count ||
      frame.size() != 9u + byte_count) {
    return Exception(address, 16, kExIllegalValue);
  }
  const uint32_t last = static_cast<uint32_t>(first) + count - 1;
  if (first < kRegOffset || last > kRegSlope + 1)
    return Exception(address, 16, kExIllegalAddress);
  if ((first - kRegOffset) % 2 != 0 || count % 2 != 0) {
    return Exception(address, 16, kExIllegalValue);
  }
  float offset = config_.offset;
  float slope = config_.slope;
  for (uint16_t i = 0; i < count; i += 2) {
    const float value = WordsToFloat(WordAt(frame, 7 + 2u * i), WordAt(frame, 9 + 2u * i));
    (first + i == kRegOffset ? offset : slope) = value;
  }
  if (!std::isfinite(offset) || !std::isfinite(slope) || slope == 0.0f) {
    return Exception(address, 16, kExIllegalValue);
  }
  if (config_.write_protect)
    return Exception(address, 16, kExWriteProtected);
  if (config_.write_fault == SensorConfig::WriteFault::kAlter) {
    uint32_t bits;
    std::memcpy(&bits, &slope, sizeof bits);
    bits ^= 1u;
    std::memcpy(&slope, &bits, sizeof slope);
  }
  if (config_.write_fault != SensorConfig::WriteFault::kIgnore) {
    config_.offset = offset;
    config_.slope = slope;
  }

  std::vector<uint8_t> reply(frame.begin(), frame.begin() + 6);
  AppendChecksum(reply);
  return reply;
}

std::vector<TimedByte> SimDirectSensor::Receive(const std::vector<uint8_t>& bytes,
                                                uint64_t now_us) {
  std::vector<TimedByte> out;
  for (LineRequest& request : framer_.Feed(bytes, now_us)) {
    if (request.kind != FrameKind::kModbus || shaper_.faults().line_disconnected)
      continue;
    std::vector<uint8_t> reply = sensor_.Answer(request.bytes, now_us);
    if (reply.empty())
      continue;
    std::vector<TimedByte> timed = shaper_.Send(std::move(reply), FrameKind::kModbus, now_us);
    out.insert(out.end(), timed.begin(), timed.end());
  }
  return out;
}
