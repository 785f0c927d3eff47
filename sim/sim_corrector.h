#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/line_device.h"
#include "sim/reply_shaper.h"
#include "sim/request_framer.h"
#include "sim/sim_sensor.h"

constexpr int kCorrectorLines = 3;

// Error codes the corrector puts into byte 4 of an error reply.
namespace corrector_error {
constexpr uint8_t kUnknownFunction = 2;  // "Невiдомий код функцiї"
constexpr uint8_t kBadLength = 3;        // "Невiдповiдна довжина запиту"
constexpr uint8_t kBadPassword = 4;  // "Помилковий пароль"; detail 0 write, 1 constants
constexpr uint8_t kBadLine = 5;  // "Номер трубопроводу не вiдповiдає обмеженням"
constexpr uint8_t kNotInService = 52;    // line not in service, or channel out of range
constexpr uint8_t kEntering = 57;        // a line is being put into service
constexpr uint8_t kLeaving = 58;         // a line is being taken out of service
constexpr uint8_t kOtherInService = 59;  // another line is in service already
constexpr uint8_t kLineInService = 61;   // this line is in service already
constexpr uint8_t kBadUserCode = 177;  // "Користувач не зареєстрований або неправильний пароль"
}  // namespace corrector_error

struct CorrectorConfig {
  uint8_t address = 1;
  uint8_t plate = 26;
  uint8_t sw_version = 37;
  // The corrector demands the constants password: flagged in the identification reply, and
  // the enter-service request must then be the long one that carries it.
  bool password_demand = false;
  // Codes the corrector checks, as they travel (blank-padded); none: anything is accepted.
  std::optional<std::array<uint8_t, 12>> write_password;
  std::optional<std::array<uint8_t, 4>> user_code;
  std::optional<std::array<uint8_t, 16>> const_password;
  uint32_t service_delay_ms = 1000;  // until a mode change takes effect
  uint8_t entering_state = 1;        // reported while a line is being put into service
  uint8_t leaving_state = 2;         // reported while it is being taken out
  uint8_t state_extra_bits = 0;      // ORed into the reported state; the master must mask them
  bool refuse = false;               // answer every 0xAA request with the refusal (function 0xFF)
  std::array<bool, kCorrectorLines> wired = {true, true, true};  // lines with sensors behind
  // Each line gets its own pair of sensors made from these; once the corrector exists, change
  // a sensor through SimCorrector::sensor().
  SensorConfig pressure = SensorConfig::Pressure();
  SensorConfig temperature = SensorConfig::Temperature();
};

// The corrector with three measuring lines, each with a pressure and a temperature sensor.
//
// It answers its own address and the search address 255, always with its own address in the
// reply, so a master that searched learns the real one. Frames for other addresses are
// ignored. A frame with a bad checksum is never seen as one (the framer skips it).
//
// 0xBB requests carry the write password and the user code; every one is checked before the
// command (write password first, then the user code), when the corrector has them configured.
//
// Service mode: function 16 puts a line into service for a channel (0 pressure, 1
// temperature); function 17 takes it out. Each change takes `service_delay_ms` to take effect,
// measured from the end of the request; meanwhile the line reports the transitional state and
// further mode requests are refused (57 or 58). One line at a time can be in service. While a
// line is fully in service, every Modbus frame on the line is passed to that line's sensor of
// the chosen channel and its reply comes back; otherwise Modbus frames go unanswered.
class SimCorrector final : public LineDevice {
 public:
  enum class Mode { kNormal, kEntering, kInService, kLeaving };

  SimCorrector(const CorrectorConfig& config, const LineTiming& timing, const FaultConfig& faults);

  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override;

  // `line` 1 to 3; `channel` 0 pressure, 1 temperature.
  SimSensor& sensor(int line, int channel) { return sensors_[line - 1][channel]; }
  Mode mode(int line, uint64_t now_us);
  // The state byte the imitation reply carries for `line` at `now_us`.
  uint8_t ReportedState(int line, uint64_t now_us);
  int channel(int line) const { return lines_[line - 1].channel; }

  CorrectorConfig& config() { return config_; }
  FaultConfig& faults() { return shaper_.faults(); }
  ReplyShaper& shaper() { return shaper_; }

 private:
  struct Line {
    Mode mode = Mode::kNormal;
    int channel = 0;
    uint64_t change_at_us = 0;
  };

  void Settle(uint64_t now_us);
  std::vector<uint8_t> AnswerAA(const std::vector<uint8_t>& request);
  std::vector<uint8_t> AnswerBB(const std::vector<uint8_t>& request, uint64_t now_us);
  std::vector<uint8_t> EnterService(const std::vector<uint8_t>& request, int line, uint64_t now_us);
  std::vector<uint8_t> LeaveService(int line, uint8_t function, uint64_t now_us);
  std::vector<uint8_t> Relay(const std::vector<uint8_t>& frame, uint64_t now_us);
  std::vector<uint8_t> Reply(uint8_t start, uint8_t function, size_t length);
  std::vector<uint8_t> Error(uint8_t function, uint8_t code, uint8_t pipeline, uint8_t detail = 0);
  static std::vector<uint8_t>& Seal(std::vector<uint8_t>& frame);

  CorrectorConfig config_;
  std::array<Line, kCorrectorLines> lines_{};
  std::array<std::array<SimSensor, 2>, kCorrectorLines> sensors_;
  RequestFramer framer_;
  ReplyShaper shaper_;
};
