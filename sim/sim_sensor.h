#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/line_device.h"
#include "sim/reply_shaper.h"
#include "sim/request_framer.h"
#include "sim/sim_input.h"
#include "sim/sim_random.h"

// Unit codes of register 59 (numbering of the HART unit table).
constexpr uint16_t kUnitKilopascal = 12;
constexpr uint16_t kUnitDegreeCelsius = 32;

// Holding registers of the sensor.
constexpr uint16_t kRegUnit = 59;
constexpr uint16_t kRegValue = 400;       // 400-401, float
constexpr uint16_t kRegOffset = 436;      // 436-437, float
constexpr uint16_t kRegSlope = 438;       // 438-439, float
constexpr uint16_t kMaxReadCount = 125;   // a function 3 reply carries at most 250 data bytes
constexpr uint16_t kMaxWriteCount = 123;  // a function 16 request carries at most 246

// Modbus exception codes the sensor answers with.
constexpr uint8_t kExIllegalFunction = 1;
constexpr uint8_t kExIllegalAddress = 2;
constexpr uint8_t kExIllegalValue = 3;
constexpr uint8_t kExWriteProtected = 7;

struct SensorConfig {
  uint8_t address = 101;
  uint16_t unit_code = kUnitKilopascal;
  double value = 101.325;  // raw reading at time 0, in the sensor's unit
  float offset = 0.0f;     // calibration: reported = raw * slope + offset
  float slope = 1.0f;
  double noise = 0.0;        // each reading deviates from the raw value by at most this much
  double drift_per_s = 0.0;  // the raw value moves by this much every second
  // A sensor worth verifying: a quadratic error over the range [range_low, range_high], zero
  // at its ends and `nonlinearity` per cent of the span at its middle; and a hysteresis,
  // readings approached from above standing `hysteresis` (sensor's unit) higher than those
  // approached from below, half of it each way. Added to the raw value before the calibration.
  double nonlinearity = 0.0;
  double hysteresis = 0.0;
  double range_low = 0.0;
  double range_high = 1000.0;
  uint64_t seed = 1;           // of the noise
  bool write_protect = false;  // calibration writes refused with exception 7
  // When set, the raw value is what this input holds (a reference controller may move it);
  // `value` and `drift_per_s` are then the input's.
  std::shared_ptr<SimInput> input;
  // A sensor that acknowledges a calibration write but keeps something else: the old values
  // (kIgnore), or the slope one bit off what was sent (kAlter), which only a bit-for-bit
  // read-back notices.
  enum class WriteFault { kNone, kIgnore, kAlter } write_fault = WriteFault::kNone;

  static SensorConfig Pressure() { return {}; }
  static SensorConfig Temperature() {
    SensorConfig c;
    c.address = 102;
    c.unit_code = kUnitDegreeCelsius;
    c.value = 20.0;
    c.range_low = -20.0;
    c.range_high = 60.0;
    return c;
  }
};

// A float in two registers: the lower register holds the low-order 16 bits, so 1.0
// (0x3F800000) is the words 0x0000, 0x3F80.
void FloatToWords(float value, uint16_t& low, uint16_t& high);
float WordsToFloat(uint16_t low, uint16_t high);

// The sensor's register map and its answers to Modbus requests. Knows nothing of the line:
// it is handed frames whose checksum has been verified and returns whole reply frames.
//
// Addressing: the sensor answers its own address and 0. On the service link there is only
// one sensor at a time, so 0 is taken as "whoever is there" and the reply carries 0 back,
// which is what a master that asks address 0 waits for.
//
// Reads (function 3) may take any run of registers the map holds (59, 400-401, 436-439);
// both halves of the value come from one reading. Writes (function 16) take whole floats
// within 436-439 only: 436 or 438 with 2 registers, or 436 with 4. Half a float, a value that
// is not finite or a slope of 0 is refused with exception 3, since the sensor would otherwise
// measure nonsense from then on.
class SimSensor {
 public:
  explicit SimSensor(const SensorConfig& config) : config_(config), random_(config.seed) {}

  // The reply to `frame`, or nothing when the frame is not for this sensor.
  std::vector<uint8_t> Answer(const std::vector<uint8_t>& frame, uint64_t now_us);

  // The raw reading at `now_us`, with drift, non-linearity and hysteresis, without noise.
  double RawAt(uint64_t now_us) const;
  // The error the sensor's own model adds at `value` approached from above (`falling`) or not.
  double ModelError(double value, bool falling) const;
  // A new value applied at the sensor's input; a lower one than before turns the hysteresis
  // to falling, a higher one to rising.
  void Apply(double value);
  // The direction the hysteresis takes: of the last Apply(), or of the input's last move when a
  // controller moves it.
  bool falling() const { return config_.input ? config_.input->falling() : falling_; }
  // One reading as the sensor reports it: raw with noise, times the slope, plus the offset.
  float Reading(uint64_t now_us);

  SensorConfig& config() { return config_; }
  const SensorConfig& config() const { return config_; }
  float offset() const { return config_.offset; }
  float slope() const { return config_.slope; }

 private:
  std::vector<uint8_t> Read(uint8_t address, uint16_t first, uint16_t count, uint64_t now_us);
  std::vector<uint8_t> Write(const std::vector<uint8_t>& frame);
  static std::vector<uint8_t> Exception(uint8_t address, uint8_t function, uint8_t code);

  SensorConfig config_;
  SimRandom random_;
  bool falling_ = false;
};

// A sensor wired straight to the line.
class SimDirectSensor final : public LineDevice {
 public:
  SimDirectSensor(const SensorConfig& sensor, const LineTiming& timing, const FaultConfig& faults)
      : sensor_(sensor), framer_(false, timing), shaper_(timing, faults) {}

  std::vector<TimedByte> Receive(const std::vector<uint8_t>& bytes, uint64_t now_us) override;

  SimSensor& sensor() { return sensor_; }
  FaultConfig& faults() { return shaper_.faults(); }
  ReplyShaper& shaper() { return shaper_; }

 private:
  SimSensor sensor_;
  RequestFramer framer_;
  ReplyShaper shaper_;
};
