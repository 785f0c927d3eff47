#include "gui/service/restore.h"

#include <QAction>

#include "comm/modbusbox.h"
#include "core/calibration.h"
#include "core/calibration_write.h"
#include "gui/form_main.h"
#include "gui/form_main_measure.h"

namespace {

const char kReadFailed[] = "Читання калібровки давача:";
const char kNothingToRestore[] = "У записі журналу немає калібровки, яку можна записати в давач.";
const char kOtherChannel[] = "Запис журналу зроблено на іншому каналі або давачі.";
const char kQuestion[] = "Записати в давач калібровку ";

}  // namespace

bool LinkReady(const TFormMain& window) {
  return window.state.ActiveModbusBox != nullptr && window.Nclb->isEnabled() &&
         !window.OwnExchangeRunning();
}

JournalRecord LinkRecord(const TFormMain& window) {
  const AppState& state = window.state;
  return NewJournalRecord(state, ChannelUnitName(state.Channel, state.ConnectSettings.P_unit));
}

bool RestoreCalibration(TFormMain& window, const JournalRecord& source, RestoreWhich which) {
  AppState& state = window.state;
  if (!LinkReady(window))
    return false;
  if (!SameChannel(LinkRecord(window), source)) {
    state.ui->ShowMessage(kOtherChannel, "");
    return false;
  }
  const std::optional<SensorCalibration> target = RestoreTarget(source, which);
  if (!target) {
    state.ui->ShowMessage(kNothingToRestore, "");
    return false;
  }
  // What the sensor holds now is what this record finds in it.
  modbusbox* box = state.ActiveModbusBox.get();
  if (!window.RunOwnExchange(
          [&] { return box->ReadCalibration(state.SensorOffset, state.SensorSlope); })) {
    if (!box->abort_requested)
      state.ui->ShowMessage(std::string(kReadFailed) + "\r" + box->ErrorText(), "");
    return false;
  }
  if (box->abort_requested || !LinkReady(window))
    return false;  // a close or another connection is on its way

  JournalRecord journal = LinkRecord(window);
  journal.note = RestoreNote(source, which);
  MeasuringCommands commands(window);
  const std::string what = which == RestoreWhich::kAsFound ? "як знайдено " : "як залишено ";
  if (!state.ui->AskCautiously(kQuestion + what + JournalTimeText(source.time) + "?",
                               "Буде: " + CalibrationText(*target),
                               "Зараз: " + CalibrationText(*journal.as_found))) {
    journal.outcome = JournalOutcome::kCancelled;
    commands.Keep(journal);
    return false;
  }
  const bool restored = commands.WriteVerified(*target, journal, JournalOutcome::kRestored);
  if (restored) {
    state.SensorOffset = target->offset;
    state.SensorSlope = target->slope;
  }
  if (restored && window.offer_certificate)
    window.offer_certificate(journal);
  return restored;
}
