#include "core/calibration.h"

#include <cmath>

const std::array<PressureUnit, 7> PressureUnits = {{
    {"кгс/cм^2", 0.01019716213},  // the "c" is Latin, as the unit has always been spelt here
    {"кПа", 1.0},
    {"МПа", 0.001},
    {"бар", 0.01},
    {"мбар", 10.0},
    {"мм рт.ст.", 7.50061438},
    {"кгс/м^2", 101.9716213},
}};

bool PressureFactor(int unit_index, double& factor) {
  if (unit_index < 0 || unit_index >= static_cast<int>(PressureUnits.size()))
    return false;
  factor = PressureUnits[static_cast<size_t>(unit_index)].factor;
  return true;
}

int ListedPressureUnit(int unit_index) {
  double factor = 0.0;
  return PressureFactor(unit_index, factor) ? unit_index : kKilopascalUnit;
}

std::string ChannelUnitName(int channel, int unit_index) {
  constexpr int kTemperatureChannel = 1;
  if (channel == kTemperatureChannel)
    return kTemperatureUnitName;
  return PressureUnits[static_cast<size_t>(ListedPressureUnit(unit_index))].name;
}

MonitorValues ConvertReading(float reading, float sensor_offset, float sensor_slope,
                             double factor) {
  // Reported = slope * raw + offset, so the raw (factory) reading is (reported - offset) / slope.
  float factory = static_cast<float>((static_cast<double>(reading) - sensor_offset) / sensor_slope);
  float value = reading;
  if (factor != 1.0) {
    value = ToDisplayUnit(reading, factor);
    factory = ToDisplayUnit(factory, factor);
  }
  return {value, factory};
}

float ToDisplayUnit(float sensor_value, double factor) {
  return static_cast<float>(static_cast<double>(sensor_value) * factor);
}

float ToSensorUnit(float display_value, double factor) {
  return static_cast<float>(static_cast<double>(display_value) / factor);
}

void StatisticsRing::Add(float reading, double time_ms) {
  ring_[pos_] = reading;
  times_[pos_] = time_ms;
  ++pos_;
  if (pos_ >= kSize) {
    pos_ = 0;
    filling_ = false;
  }
  if (filling_ && pos_ == 1) {
    average_ = ring_[0];
  } else {
    const int n = filling_ ? pos_ : kSize;
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
      sum += ring_[static_cast<size_t>(i)];
    average_ = static_cast<float>(sum / n);
  }
  has_average_ = true;
}

void StatisticsRing::Ordered(std::vector<double>& values, std::vector<double>& times_ms) const {
  values.clear();
  times_ms.clear();
  if (!has_average_)
    return;
  // Once full, the oldest reading sits where the next one goes.
  const int count = filling_ ? pos_ : kSize;
  const int first = filling_ ? 0 : pos_;
  for (int i = 0; i < count; ++i) {
    const auto slot = static_cast<size_t>((first + i) % kSize);
    values.push_back(ring_[slot]);
    times_ms.push_back(times_[slot]);
  }
}

NewCalibration ComputeNewCalibration(const CalibrationRecord& record, float current_slope,
                                     float current_offset) {
  const double a1 = record.applied[0];
  const double a2 = record.applied[1];
  const double r1 = record.received[0];
  const double r2 = record.received[1];
  const double s0 = current_slope;
  // Received values go back to raw values through the current calibration; the new slope and
  // offset map the raw values of both points onto the applied ones.
  const float slope = static_cast<float>(s0 * (a2 - a1) / (r2 - r1));
  const float offset = static_cast<float>(a1 - (static_cast<double>(slope) / s0) *
                                                   (r1 - record.factor * current_offset));
  return {slope, offset};
}

bool IsWritableCalibration(float offset, float slope) {
  return std::isfinite(offset) && std::isfinite(slope) && slope != 0.0f;
}
