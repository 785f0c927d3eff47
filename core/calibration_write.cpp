#include "core/calibration_write.h"

#include <cstdio>

#include "comm/repeat_while_asked.h"

#include "core/number_format.h"

namespace {

const char kWriteFailed[] = "Запис зміщення калібровки давача:";
const char kWritten[] = "Параметри записані";
const char kUnwritable[] =
    "Калібровку не записано:\rнахил і зміщення мають бути скінченними числами,\rнахил не може "
    "бути рівним 0";
const char kReadBackFailed[] = "Калібровку записано, але прочитати її з давача не вдалося:";
const char kAsLeftRead[] = "Читання показу давача:";
const char kJournalFailed[] = "Запис до журналу калібровок не вдався:";

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

WriteResult WriteVerifiedCalibration(const CalibrationLink& link, const SensorCalibration& target,
                                     JournalRecord& journal, JournalOutcome success) {
  ExchangeHost& ui = *link.ui;
  if (!IsWritableCalibration(target.offset, target.slope)) {
    ui.ShowMessage(kUnwritable, "");
    journal.outcome = JournalOutcome::kRefused;
    return WriteResult::kRefused;
  }
  modbusbox* failed_box = nullptr;
  const bool written = RepeatWhileAsked(ui, kWriteFailed, [&] {
    modbusbox* box = link.sensor();
    if (box == nullptr)
      return AttemptResult{AttemptResult::End::kStopped, {}};
    failed_box = box;
    return ResultOf(link.run([&] { return box->WriteCalibration(target.offset, target.slope); }),
                    *box);
  });
  if (!written) {
    journal.outcome = JournalOutcome::kFailed;
    journal.note = failed_box != nullptr ? failed_box->ErrorText() : std::string();
    return WriteResult::kFailed;
  }
  journal.written = target;

  // The sensor acknowledged the write; only what it reads back shows what it keeps.
  SensorCalibration read;
  ReadBack read_back = ReadBack::kUnread;
  if (modbusbox* box = link.sensor()) {
    link.run([&] {
      read_back = ReadCalibrationBack(*box, target, read);
      return read_back != ReadBack::kUnread;
    });
  }
  journal.outcome = WriteOutcome(read_back, success);
  switch (read_back) {
    case ReadBack::kMatches:
      journal.read_back = read;
      journal.read_back_matches = true;
      ui.ShowMessage(kWritten, "");
      return WriteResult::kWritten;
    case ReadBack::kDiffers:
      journal.read_back = read;
      journal.read_back_matches = false;
      journal.note = ReadBackMismatchText(target, read);
      ui.ShowMessage(journal.note, "");
      return WriteResult::kMismatch;
    case ReadBack::kUnread:
      break;
  }
  journal.note = kReadBackFailed;
  ui.ShowMessage(kReadBackFailed, "");
  return WriteResult::kUnread;
}

bool CheckAtAppliedPoint(const CalibrationLink& link, const CalibrationRecord& record,
                         JournalRecord& journal) {
  float reading = 0.0f;
  const bool read = RepeatWhileAsked(*link.ui, kAsLeftRead, [&] {
    modbusbox* box = link.sensor();
    if (box == nullptr)
      return AttemptResult{AttemptResult::End::kStopped, {}};
    return ResultOf(link.run([&] { return box->ReadValue(reading); }), *box);
  });
  if (!read)
    return false;
  // The point still applied is the one whose readings were collected last.
  const double shown = ToDisplayUnit(reading, record.factor);
  const double applied = record.applied[record.point < 2 ? record.point : 1];
  journal.as_left_error = shown - applied;
  link.ui->ShowMessage("Показ давача: " + FormatFixed(shown, record.digits) + " " + journal.unit +
                           "\rПодане значення: " + FormatFixed(applied, record.digits) + " " +
                           journal.unit +
                           "\rПохибка: " + FormatFixed(*journal.as_left_error, record.digits + 1) +
                           " " + journal.unit,
                       "");
  return true;
}

bool KeepJournalRecord(ExchangeHost& ui, const std::string& settings_folder,
                       const JournalRecord& journal) {
  if (settings_folder.empty())
    return true;
  std::string error;
  const std::string path = JournalPath(settings_folder);
  if (AppendJournalRecord(path, journal, error))
    return true;
  ui.ShowMessage(std::string(kJournalFailed) + "\r" + path + ": " + error, "");
  return false;
}
