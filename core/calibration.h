#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A pressure display unit: its name and the factor that turns kPa into it.
struct PressureUnit {
  const char* name;
  double factor;
};

// The display units in list order; the sensor itself reports kPa (index 1).
extern const std::array<PressureUnit, 7> PressureUnits;
inline constexpr int kKilopascalUnit = 1;
// Slopes and offsets are always shown with this many decimals.
inline constexpr int kCalibrationDecimals = 5;
// Temperature has no choice of unit.
inline constexpr const char* kTemperatureUnitName = "°С";

// The listed pressure unit a stored index stands for: the index itself, or kPa (the default
// setting and the sensor's own unit) for an index the table has not got.
int ListedPressureUnit(int unit_index);

// The name (UTF-8) of the unit a channel's values are shown in: the temperature unit on
// channel 1, the listed pressure unit of `unit_index` on channel 0.
std::string ChannelUnitName(int channel, int unit_index);

// Carries one two-point calibration through the calibration dialogs. Point values are in the
// display unit; offset and slope are the new calibration in the order they go to the sensor.
struct CalibrationRecord {
  double factor = 0.0;  // sensor unit -> display unit
  uint8_t digits = 0;   // decimals of point values
  uint8_t point = 0;    // 0 or 1: the point whose statistics are collected
  std::array<float, 2> applied{};
  std::array<float, 2> received{};
  // Of a received value from the statistics: how many readings its mean took and their
  // standard deviation (0 readings: the value was typed).
  std::array<int, 2> readings{};
  std::array<float, 2> deviation{};
  // Of an applied value read from the reference instrument: how many of its readings the mean
  // took and their standard deviation (0 readings: the value was typed).
  std::array<int, 2> applied_readings{};
  std::array<float, 2> applied_deviation{};
  float offset = 0.0f;
  float slope = 0.0f;
};

// Unit factor of a display unit index; indexes outside the table have none.
bool PressureFactor(int unit_index, double& factor);

// A reading as the monitor shows it: as reported, and recomputed for the factory calibration
// (slope 1, offset 0), both in the display unit. The offset is removed in the sensor's unit,
// before any conversion.
struct MonitorValues {
  float value;
  float factory_value;
};
MonitorValues ConvertReading(float reading, float sensor_offset, float sensor_slope, double factor);

// Sensor unit -> display unit and back, each rounded to a 32-bit float.
float ToDisplayUnit(float sensor_value, double factor);
float ToSensorUnit(float display_value, double factor);

// The running average of the last ten valid readings of the statistics collection.
class StatisticsRing {
 public:
  static constexpr int kSize = 10;

  // Takes one valid reading, already in the display unit, taken at `time_ms` (any origin).
  void Add(float reading, double time_ms = 0.0);
  // The readings the average is taken over and their times, oldest first.
  void Ordered(std::vector<double>& values, std::vector<double>& times_ms) const;

  bool has_average() const { return has_average_; }
  float average() const { return average_; }
  // Slot the next reading goes to: 1..9, then 0 after every tenth reading.
  uint8_t pos() const { return pos_; }
  bool filling() const { return filling_; }
  const std::array<float, kSize>& ring() const { return ring_; }

 private:
  std::array<float, kSize> ring_{};
  std::array<double, kSize> times_{};
  uint8_t pos_ = 0;
  bool filling_ = true;
  bool has_average_ = false;
  float average_ = 0.0f;
};

// The new calibration from the two points of `record` and the sensor's current slope and
// offset (offset in the sensor's unit). The offset comes out in the display unit.
struct NewCalibration {
  float slope;
  float offset;
};
NewCalibration ComputeNewCalibration(const CalibrationRecord& record, float current_slope,
                                     float current_offset);

// Whether a calibration may go to the sensor: both values finite and the slope not zero.
bool IsWritableCalibration(float offset, float slope);
