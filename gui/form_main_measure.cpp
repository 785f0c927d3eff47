// The main window's two measuring commands: current values and two-point calibration.
#include "gui/form_main_measure.h"

#include <string>

#include "comm/modbusbox.h"
#include "comm/repeat_while_asked.h"
#include "core/calibration.h"
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
    TFormCorrect_NSHP dialog(window_.state, &window_);
    dialog.record = &record;
    dialog.exec();
    return dialog.result;
  };
  results = [this](CalibrationRecord& record) {
    TFormCorrect_Set dialog(window_.state, &window_);
    dialog.record = &record;
    dialog.exec();
    return dialog.confirmed;
  };
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

  const uint8_t result = two_point(record);
  if (result == TFormCorrect_NSHP::kCancelled)
    return;
  if (result == TFormCorrect_NSHP::kPointsAccepted && !results(record))
    return;
  WriteCalibration(record);
}

bool MeasuringCommands::WriteCalibration(const CalibrationRecord& record) {
  AppState& state = window_.state;
  if (!IsWritableCalibration(record.offset, record.slope)) {
    state.ui->ShowMessage(kUnwritable, "");
    return false;
  }
  const bool written = RepeatWhileAsked(*state.ui, kWriteFailed, [&] {
    // Looked up on every pass: a close asked for while the question was open may have taken
    // the link down.
    modbusbox* box = state.ActiveModbusBox.get();
    if (box == nullptr)
      return AttemptResult{AttemptResult::End::kStopped, {}};
    return ResultOf(
        window_.RunOwnExchange([&] { return box->WriteCalibration(record.offset, record.slope); }),
        *box);
  });
  if (!written)
    return false;
  state.ui->ShowMessage(kWritten, "");
  return true;
}

void TFormMain::NvalClick() {
  MeasuringCommands(*this).Values();
}

void TFormMain::NclbClick() {
  MeasuringCommands(*this).Calibration();
}
