// The main window's two measuring commands: current values and two-point calibration.
#include "gui/form_main_measure.h"

#include <string>

#include "comm/modbusbox.h"
#include "comm/repeat_while_asked.h"
#include "core/calibration.h"
#include "core/calibration_write.h"
#include "core/number_format.h"
#include "gui/connection/show_par.h"
#include "gui/form_main.h"
#include "gui/measurement/check_val.h"
#include "gui/measurement/correct_nshp.h"
#include "gui/measurement/correct_set.h"

namespace {

const char kWriteFailed[] = "Запис зміщення калібровки давача:";
const char kWritten[] = "Параметри записані";
const char kUnwritable[] =
    "Калібровку не записано:\rнахил і зміщення мають бути скінченними числами,\rнахил не може "
    "бути рівним 0";

const char kReadBackFailed[] = "Калібровку записано, але прочитати її з давача не вдалося:";
const char kAsLeftQuestion[] = "Калібровку записано.";
const char kAsLeftQuestion2[] = "Перевірити показ давача у поданій зараз точці?";
const char kAsLeftRead[] = "Читання показу давача:";
const char kJournalFailed[] = "Запис до журналу калібровок не вдався:";

constexpr uint8_t kPressureChannel = 0;

bool RunDisplaySettings(AppState& state, QWidget* parent) {
  TFormShow_Par dialog(state, parent);
  dialog.exec();
  return dialog.accepted;
}

void RunMonitor(AppState& state, QWidget* parent) {
  TFormCheck_Val dialog(state, parent);
  dialog.exec();
}

}  // namespace

MeasuringCommands::MeasuringCommands(TFormMain& window) : window_(window) {
  display_settings = [this] { return RunDisplaySettings(window_.state, &window_); };
  monitor = [this] { RunMonitor(window_.state, &window_); };
  two_point = [this](CalibrationRecord& record) {
    if (points_dialog_ == nullptr)
      points_dialog_ = new TFormCorrect_NSHP(window_.state, &window_);
    points_dialog_->record = &record;
    points_dialog_->exec();
    return points_dialog_ != nullptr ? points_dialog_->result : TFormCorrect_NSHP::kCancelled;
  };
  results = [this](CalibrationRecord& record) {
    TFormCorrect_Set dialog(window_.state, &window_);
    dialog.record = &record;
    dialog.exec();
    return dialog.confirmed;
  };
}

MeasuringCommands::~MeasuringCommands() {
  delete points_dialog_.data();
}

bool MeasuringCommands::ReadCalibration() {
  AppState& state = window_.state;
  modbusbox* box = state.ActiveModbusBox.get();
  if (box == nullptr)
    return false;
  if (!window_.RunOwnExchange(
          [&] { return box->ReadCalibration(state.SensorOffset, state.SensorSlope); }))
    return false;
  // A close or a new connection asked for just as the read ended: it runs once this command
  // has returned, so the command must not open its dialogs meanwhile.
  return !box->abort_requested;
}

bool MeasuringCommands::ReadyToMeasure() {
  return !window_.OwnExchangeRunning() && ReadCalibration() && display_settings();
}

void MeasuringCommands::Values() {
  if (ReadyToMeasure())
    monitor();
}

void MeasuringCommands::Calibration() {
  if (!ReadyToMeasure())
    return;

  AppState& state = window_.state;
  CalibrationRecord record;
  if (state.Channel == kPressureChannel) {
    if (!PressureFactor(state.ConnectSettings.P_unit, record.factor))
      return;  // the display settings dialog accepts none but a listed unit
    record.digits = state.ConnectSettings.P_format;
  } else {
    record.factor = 1.0;
    record.digits = state.ConnectSettings.T_format;
  }

  JournalRecord journal =
      NewJournalRecord(state, ChannelUnitName(state.Channel, state.ConnectSettings.P_unit));
  uint8_t result = TFormCorrect_NSHP::kCancelled;
  // Leaving the results without writing goes back to the points, which stay as they were.
  for (;;) {
    result = two_point(record);
    if (result != TFormCorrect_NSHP::kPointsAccepted || results(record))
      break;
  }
  if (result == TFormCorrect_NSHP::kCancelled) {
    journal.outcome = JournalOutcome::kCancelled;
    Keep(journal);
    return;
  }
  const bool factory = result == TFormCorrect_NSHP::kFactorySetting;
  if (!factory) {
    for (size_t i = 0; i < 2; ++i) {
      journal.points.push_back(
          {record.applied[i], record.received[i], record.readings[i], record.deviation[i]});
    }
    const NewCalibration computed =
        ComputeNewCalibration(record, state.SensorSlope, state.SensorOffset);
    journal.computed =
        SensorCalibration{ToSensorUnit(computed.offset, record.factor), computed.slope};
  }
  const bool written = WriteCalibration(
      record, journal, factory ? JournalOutcome::kFactory : JournalOutcome::kWritten);
  if (written && !factory)
    CheckAsLeft(record, journal);
  Keep(journal);
  if (written && window_.offer_certificate)
    window_.offer_certificate(journal);
}

bool MeasuringCommands::WriteCalibration(const CalibrationRecord& record, JournalRecord& journal,
                                         JournalOutcome success) {
  return WriteVerified(SensorCalibration{record.offset, record.slope}, journal, success);
}

bool MeasuringCommands::WriteVerified(const SensorCalibration& target, JournalRecord& journal,
                                      JournalOutcome success) {
  AppState& state = window_.state;
  if (!IsWritableCalibration(target.offset, target.slope)) {
    state.ui->ShowMessage(kUnwritable, "");
    journal.outcome = JournalOutcome::kRefused;
    return false;
  }
  modbusbox* failed_box = nullptr;
  const bool written = RepeatWhileAsked(*state.ui, kWriteFailed, [&] {
    // Looked up on every pass: a close asked for while the question was open may have taken
    // the link down.
    modbusbox* box = state.ActiveModbusBox.get();
    if (box == nullptr)
      return AttemptResult{AttemptResult::End::kStopped, {}};
    failed_box = box;
    return ResultOf(
        window_.RunOwnExchange([&] { return box->WriteCalibration(target.offset, target.slope); }),
        *box);
  });
  if (!written) {
    journal.outcome = JournalOutcome::kFailed;
    journal.note = failed_box != nullptr ? failed_box->ErrorText() : std::string();
    return false;
  }
  journal.written = target;

  // The sensor acknowledged the write; only what it reads back shows what it keeps.
  SensorCalibration read;
  ReadBack read_back = ReadBack::kUnread;
  if (modbusbox* box = state.ActiveModbusBox.get()) {
    window_.RunOwnExchange([&] {
      read_back = ReadCalibrationBack(*box, target, read);
      return read_back != ReadBack::kUnread;
    });
  }
  journal.outcome = WriteOutcome(read_back, success);
  switch (read_back) {
    case ReadBack::kMatches:
      journal.read_back = read;
      journal.read_back_matches = true;
      state.ui->ShowMessage(kWritten, "");
      return true;
    case ReadBack::kDiffers:
      journal.read_back = read;
      journal.read_back_matches = false;
      journal.note = ReadBackMismatchText(target, read);
      state.ui->ShowMessage(journal.note, "");
      return false;
    case ReadBack::kUnread:
      journal.note = kReadBackFailed;
      state.ui->ShowMessage(kReadBackFailed, "");
      return false;
  }
  return false;
}

void MeasuringCommands::CheckAsLeft(const CalibrationRecord& record, JournalRecord& journal) {
  AppState& state = window_.state;
  if (!state.ui->AskQuestion(kAsLeftQuestion, std::string(kAsLeftQuestion2), std::nullopt))
    return;
  float reading = 0.0f;
  const bool read = RepeatWhileAsked(*state.ui, kAsLeftRead, [&] {
    modbusbox* box = state.ActiveModbusBox.get();
    if (box == nullptr)
      return AttemptResult{AttemptResult::End::kStopped, {}};
    return ResultOf(window_.RunOwnExchange([&] { return box->ReadValue(reading); }), *box);
  });
  if (!read)
    return;
  // The point still applied is the one whose readings were collected last.
  const double shown = ToDisplayUnit(reading, record.factor);
  const double applied = record.applied[record.point < 2 ? record.point : 1];
  journal.as_left_error = shown - applied;
  state.ui->ShowMessage("Показ давача: " + FormatFixed(shown, record.digits) + " " + journal.unit +
                            "\rПодане значення: " + FormatFixed(applied, record.digits) + " " +
                            journal.unit +
                            "\rПохибка: " + FormatFixed(*journal.as_left_error, record.digits + 1) +
                            " " + journal.unit,
                        "");
}

void MeasuringCommands::Keep(const JournalRecord& journal) {
  AppState& state = window_.state;
  if (state.SettingsFolder.empty())
    return;  // a link made without a settings folder (tests, tools) keeps no journal
  std::string error;
  const std::string path = JournalPath(state.SettingsFolder);
  if (!AppendJournalRecord(path, journal, error))
    state.ui->ShowMessage(std::string(kJournalFailed) + "\r" + path + ": " + error, "");
}

void TFormMain::NvalClick() {
  MeasuringCommands(*this).Values();
}

void TFormMain::NclbClick() {
  MeasuringCommands(*this).Calibration();
}
