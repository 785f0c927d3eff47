#include "core/calibration_write.h"

#include <cstdio>

#include "core/number_format.h"

namespace {

std::string Described(const SensorCalibration& c) {
  const std::array<uint16_t, 4> w = c.Words();
  char words[40];
  std::snprintf(words, sizeof words, "%04X %04X %04X %04X", w[0], w[1], w[2], w[3]);
  return "зміщення " + FormatFixed(c.offset, 7) + ", нахил " + FormatFixed(c.slope, 7) +
         " (регістри 436-439: " + words + ")";
}

}  // namespace

JournalRecord NewJournalRecord(const AppState& state, const std::string& unit) {
  const TConnectSettings& s = state.ConnectSettings;
  JournalRecord r;
  r.time = JournalTimeNow();
  r.through_corrector = s.conn_type == 1;
  r.port = s.port;
  if (const calcbox* box = state.ActiveCalcBox.get()) {
    r.corrector_address = box->address;
    r.plate = box->plate;
    r.software_version = box->sw_version;
    r.line = s.line_num;
  }
  r.sensor_address = state.ActiveModbusBox ? state.ActiveModbusBox->address
                                           : (state.Channel == 1 ? s.adr_T : s.adr_P);
  r.channel = state.Channel;
  r.unit = unit;
  r.as_found = SensorCalibration{state.SensorOffset, state.SensorSlope};
  return r;
}

ReadBack ReadCalibrationBack(modbusbox& box, const SensorCalibration& written,
                             SensorCalibration& read) {
  if (!box.ReadCalibration(read.offset, read.slope))
    return ReadBack::kUnread;
  return read.SameBits(written) ? ReadBack::kMatches : ReadBack::kDiffers;
}

std::string ReadBackMismatchText(const SensorCalibration& written, const SensorCalibration& read) {
  return "Давач зберіг не те, що записано.\rЗаписано: " + Described(written) +
         "\rПрочитано: " + Described(read);
}

JournalOutcome WriteOutcome(ReadBack read_back, JournalOutcome success) {
  return read_back == ReadBack::kMatches ? success : JournalOutcome::kFailed;
}
