// The main window's two measuring commands: current values and two-point calibration.
#include "gui/form_main_measure.h"

#include <QLineEdit>
#include <string>

#include "comm/modbusbox.h"
#include "core/calibration.h"
#include "core/calibration_write.h"
#include "core/number_format.h"
#include "gui/connection/show_par.h"
#include "gui/dialog_widgets.h"
#include "gui/form_main.h"
#include "gui/measurement/ask_val.h"
#include "gui/measurement/check_val.h"
#include "gui/measurement/correct_nshp.h"
#include "gui/measurement/correct_set.h"

namespace {

const char kAsLeftQuestion[] = "Калібровку записано.";
const char kAsLeftQuestion2[] = "Перевірити показ давача у поданій зараз точці?";

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

// The statistics window over the point of `record` still applied, on a copy of the record so
// that the calibration's own points stay as they were written.
std::optional<ReadingSpread> RunCheckStatistics(AppState& state, const CalibrationRecord& record,
                                                QWidget* parent) {
  CalibrationRecord copy = record;
  const size_t i = AppliedPointIndex(record);
  copy.point = static_cast<uint8_t>(i);
  copy.readings[i] = 0;
  copy.deviation[i] = 0.0f;
  TFormAsk_Val dialog(state, parent);
  dialog.record = &copy;
  dialog.exec();
  if (!dialog.accepted)
    return std::nullopt;
  ReadingSpread spread;
  spread.count = copy.readings[i];
  spread.mean = copy.received[i];
  spread.deviation = copy.deviation[i];
  return spread;
}

}  // namespace

MeasuringCommands::MeasuringCommands(TFormMain& window) : window_(window) {
  display_settings = [this] { return RunDisplaySettings(window_.state, &window_); };
  monitor = [this] { RunMonitor(window_.state, &window_); };
  two_point = [this](CalibrationRecord& record) {
    if (points_dialog_ == nullptr) {
      points_dialog_ = new TFormCorrect_NSHP(window_.state, &window_);
      if (offered_applied) {
        points_dialog_->Edit1->setText(Fixed((*offered_applied)[0], record.digits));
        points_dialog_->Edit2->setText(Fixed((*offered_applied)[1], record.digits));
      }
    }
    points_dialog_->record = &record;
    points_dialog_->exec();
    return points_dialog_ != nullptr ? points_dialog_->result : TFormCorrect_NSHP::kCancelled;
  };
  collect_check = [this](const CalibrationRecord& record) {
    return RunCheckStatistics(window_.state, record, &window_);
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
  if (!run.empty())
    journal.run = run;
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
      journal.points.push_back({record.applied[i], record.received[i], record.readings[i],
                                record.deviation[i], record.applied_readings[i],
                                record.applied_deviation[i]});
    }
    const NewCalibration computed =
        ComputeNewCalibration(record, state.SensorSlope, state.SensorOffset);
    journal.computed =
        SensorCalibration{ToSensorUnit(computed.offset, record.factor), computed.slope};
  }
  // The write keeps its record before it tells anything; what follows joins it as its run.
  const bool written = WriteCalibration(
      record, journal, factory ? JournalOutcome::kFactory : JournalOutcome::kWritten);
  this->written = written;
  if (written && !factory)
    CheckAsLeft(record, journal);
  if (written && offer_certificate && window_.offer_certificate)
    window_.offer_certificate(journal);
}

bool MeasuringCommands::WriteCalibration(const CalibrationRecord& record, JournalRecord& journal,
                                         JournalOutcome success) {
  return WriteVerified(SensorCalibration{record.offset, record.slope}, journal, success);
}

bool MeasuringCommands::WriteVerified(const SensorCalibration& target, JournalRecord& journal,
                                      JournalOutcome success) {
  return WriteVerifiedCalibration(Link(), target, journal, success) == WriteResult::kWritten;
}

void MeasuringCommands::CheckAsLeft(const CalibrationRecord& record, JournalRecord& journal) {
  if (!window_.state.ui->AskQuestion(kAsLeftQuestion, std::string(kAsLeftQuestion2),
                                     AppliedPointText(record, journal.unit)))
    return;
  JournalCheck check;
  if (CheckAtAppliedPoint(
          Link(), record, journal, [&] { return collect_check(record); }, &check))
    journal.as_left_error = check.error;
}

void MeasuringCommands::Keep(const JournalRecord& journal) {
  KeepJournalRecord(*window_.state.ui, window_.state.SettingsFolder, journal);
}

CalibrationLink MeasuringCommands::Link() {
  AppState& state = window_.state;
  return CalibrationLink{
      state.ui, [&state] { return state.ActiveModbusBox.get(); },
      [this](const std::function<bool()>& exchange) { return window_.RunOwnExchange(exchange); },
      [&state](const JournalRecord& record) {
        return KeepJournalRecord(*state.ui, state.SettingsFolder, record);
      }};
}

void TFormMain::NvalClick() {
  MeasuringCommands(*this).Values();
}

void TFormMain::NclbClick() {
  MeasuringCommands(*this).Calibration();
}
