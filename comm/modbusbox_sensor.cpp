#include "comm/modbusbox.h"
#include "comm/repeat_while_asked.h"

#include <array>
#include <cstring>
#include <string>

namespace {

// Sensor registers.
constexpr uint16_t kUnitRegister = 59;    // unit code in the low byte
constexpr uint16_t kValueRegister = 400;  // the measured value: one float (400-401)
constexpr uint16_t kValueCount = 2;
constexpr uint16_t kCalibrationRegister = 436;  // offset (436-437), then slope (438-439)
constexpr uint16_t kCalibrationCount = 4;

// Unit codes of the measured value, numbered as in the HART unit table.
constexpr int kUnitKilopascal = 12;
constexpr int kUnitDegreeCelsius = 32;
constexpr uint8_t kTemperatureChannel = 1;

}  // namespace

float RegistersToFloat(uint16_t low_word, uint16_t high_word) {
  // Built as a number, not by laying the words in memory, so the host's byte order plays no part.
  const uint32_t bits = (static_cast<uint32_t>(high_word) << 16) | low_word;
  float value;
  static_assert(sizeof value == sizeof bits);
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void FloatToRegisters(float value, uint16_t& low_word, uint16_t& high_word) {
  uint32_t bits;
  static_assert(sizeof value == sizeof bits);
  std::memcpy(&bits, &value, sizeof bits);
  low_word = static_cast<uint16_t>(bits & 0xFFFFu);
  high_word = static_cast<uint16_t>(bits >> 16);
}

bool modbusbox::ReadUnit(uint8_t channel) {
  if (!RepeatWhileAsked(*ui, "Читання одиниці виміру давача:", [&] {
        return ResultOf(ReadRegisters(kUnitRegister, 1), *this);
      }))
    return false;
  const int expected = channel == kTemperatureChannel ? kUnitDegreeCelsius : kUnitKilopascal;
  const int received = values[0] & 0xFF;
  if (expected == received)
    return true;
  message_buffer = "Очікуваний код одиниці виміру " + std::to_string(expected) +
                   "\rПрочитано у давачі " + std::to_string(received);
  ui->ShowMessage(message_buffer, "");
  return false;
}

bool modbusbox::ReadCalibration(float& sensor_offset, float& sensor_slope) {
  if (!RepeatWhileAsked(*ui, "Читання зміщення калібровки давача:", [&] {
        return ResultOf(ReadRegisters(kCalibrationRegister, kCalibrationCount), *this);
      }))
    return false;
  sensor_offset = RegistersToFloat(values[0], values[1]);
  sensor_slope = RegistersToFloat(values[2], values[3]);
  return true;
}

bool modbusbox::ReadValue(float& value) {
  if (!ReadRegisters(kValueRegister, kValueCount))
    return false;
  value = RegistersToFloat(values[0], values[1]);
  return true;
}

bool modbusbox::WriteCalibration(float sensor_offset, float sensor_slope) {
  std::array<uint16_t, kCalibrationCount> words{};
  FloatToRegisters(sensor_offset, words[0], words[1]);
  FloatToRegisters(sensor_slope, words[2], words[3]);
  return WriteRegisters(kCalibrationRegister, kCalibrationCount, words.data());
}
