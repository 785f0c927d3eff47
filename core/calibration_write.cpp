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
  r.run = NewRunId();
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

bool KeepThrough(const CalibrationLink& link, const JournalRecord& record) {
  return !link.keep || link.keep(record);
}

WriteResult WriteVerifiedCalibration(const CalibrationLink& link, const SensorCalibration& target,
                                     JournalRecord& journal, JournalOutcome success, bool* kept) {
  ExchangeHost& ui = *link.ui;
  const auto keep = [&] {
    const bool on_disk = KeepThrough(link, journal);
    if (kept != nullptr)
      *kept = on_disk;
  };
  if (!IsWritableCalibration(target.offset, target.slope)) {
    journal.outcome = JournalOutcome::kRefused;
    keep();
    ui.ShowMessage(kUnwritable, "");
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
    // A write that timed out may still have reached the sensor: its record is kept all the same.
    journal.outcome = JournalOutcome::kFailed;
    journal.note = failed_box != nullptr ? failed_box->ErrorText() : std::string();
    keep();
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
      keep();
      ui.ShowMessage(kWritten, "");
      return WriteResult::kWritten;
    case ReadBack::kDiffers:
      journal.read_back = read;
      journal.read_back_matches = false;
      journal.note = ReadBackMismatchText(target, read);
      keep();
      ui.ShowMessage(journal.note, "");
      return WriteResult::kMismatch;
    case ReadBack::kUnread:
      break;
  }
  journal.note = kReadBackFailed;
  keep();
  ui.ShowMessage(kReadBackFailed, "");
  return WriteResult::kUnread;
}

size_t AppliedPointIndex(const CalibrationRecord& record) {
  return record.point < 2 ? record.point : 1;
}

std::string AppliedPointText(const CalibrationRecord& record, const std::string& unit) {
  const size_t i = AppliedPointIndex(record);
  return "Точка " + std::to_string(i + 1) + ", подане значення " +
         FormatFixed(record.applied[i], record.digits) + " " + unit;
}

bool CheckAtAppliedPoint(const CalibrationLink& link, const CalibrationRecord& record,
                         const JournalRecord& journal, const CollectSettled& collect,
                         JournalCheck* check) {
  const std::optional<ReadingSpread> spread = collect ? collect() : std::nullopt;
  if (!spread || spread->count == 0)
    return false;
  const size_t i = AppliedPointIndex(record);
  JournalCheck c;
  c.point = static_cast<int>(i + 1);
  c.applied = record.applied[i];
  c.mean = spread->mean;
  c.deviation = spread->deviation;
  c.readings = spread->count;
  c.error = c.mean - c.applied;
  if (check != nullptr)
    *check = c;

  JournalRecord step;
  step.time = JournalTimeNow();
  step.run = journal.run;
  step.step = kStepCheck;
  step.channel = journal.channel;
  step.sensor_address = journal.sensor_address;
  step.port = journal.port;
  step.through_corrector = journal.through_corrector;
  step.unit = journal.unit;
  step.check = c;
  KeepThrough(link, step);

  const std::string& unit = journal.unit;
  link.ui->ShowMessage(
      "Показ давача: " + FormatFixed(c.mean, record.digits) + " " + unit + " (середнє з " +
          std::to_string(c.readings) + " вимірювань, відхилення " +
          FormatFixed(c.deviation, record.digits + 1) + " " + unit +
          ")\rПодане значення: " + FormatFixed(c.applied, record.digits) + " " + unit +
          "\rПохибка: " + FormatFixed(c.error, record.digits + 1) + " " + unit,
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
