#include "core/connection_steps.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>

namespace {

// Corrector models and software this program knows how to service.
constexpr uint8_t kPlates[] = {26, 28, 29};
constexpr uint8_t kSoftwareVersion = 37;

bool IdentifyCorrector(AppState& state) {
  calcbox* box = state.ActiveCalcBox.get();
  if (box == nullptr || !box->ReadIdentification())
    return false;
  const bool known_plate =
      std::find(std::begin(kPlates), std::end(kPlates), box->plate) != std::end(kPlates);
  if (known_plate && box->sw_version == kSoftwareVersion)
    return true;
  state.ui->ShowMessage("Коректор: Plate = " + std::to_string(box->plate) +
                            "; Версія ПО = " + std::to_string(box->sw_version) +
                            ".\rЦе не відповідає умовам: Plate = 26, 28, 29; ПО = 37",
                        "");
  return false;
}

// The line the corrector reports in service is the one this program put there for the same
// channel, and has not left since.
bool OurLineStillInService(const AppState& state) {
  const calcbox* box = state.ActiveCalcBox.get();
  return box != nullptr && box->service_state == calcbox::kStateService &&
         state.LineInOurService ==
             AppState::ServedLine{state.ConnectSettings.line_num, state.Channel};
}

bool FreeLine(AppState& state, const ConnectHooks& hooks) {
  calcbox* box = state.ActiveCalcBox.get();
  const uint8_t line = state.ConnectSettings.line_num;
  if (box == nullptr || !box->ReadImitation(line))
    return false;
  if (box->service_state != calcbox::kStateService)
    return true;
  // Still in service for this very link since the port was lost: nothing to free or to ask.
  if (OurLineStillInService(state))
    return true;
  const bool leave =
      hooks.leave_busy_line
          ? hooks.leave_busy_line()
          : state.ui->AskQuestion("Коректор в режимі обслуговування.",
                                  std::string("Зняти з обслуговування?"), std::nullopt);
  return leave && box->LeaveService(line);
}

bool EnterService(AppState& state, const ConnectHooks& hooks) {
  calcbox* box = state.ActiveCalcBox.get();
  if (box == nullptr)
    return false;
  if (box->const_password_required) {
    if (state.HeldConstPassword) {
      // A reconnection in this run: the password accepted before goes again.
      box->const_password = *state.HeldConstPassword;
    } else if (!hooks.const_password || !hooks.const_password(*box)) {
      return false;
    }
  }
  if (OurLineStillInService(state))
    return true;
  const uint8_t line = state.ConnectSettings.line_num;
  const bool entered = box->EnterService(line, state.Channel, 0);
  if (entered)
    state.LineInOurService = AppState::ServedLine{line, state.Channel};
  if (box->const_password_required) {
    if (entered)
      state.HeldConstPassword = box->const_password;
    else if (box->CodesRefused())
      state.HeldConstPassword.reset();
  }
  if (entered)
    return true;
  if (box->error_code == calcbox::kErrorAborted && box->service_entry_accepted) {
    // Cancelled after the corrector took the command: the line may be in service already, and
    // nobody would take it out again. The same leave-service as on exit, not to be stopped.
    box->abort_requested = false;
    state.ui->SetBusyCursor(true);
    box->AwaitServiceEntry(line);
    state.ui->SetBusyCursor(false);
    const bool left = box->LeaveService(line);
    state.ui->ShowMessage(left ? "Встановлення зв'язку відмінено.\rНитку знято з обслуговування"
                               : "Встановлення зв'язку відмінено.\rНитку не вдалося зняти з "
                                 "обслуговування",
                          "");
  }
  return false;
}

}  // namespace

bool RunConnectStep(AppState& state, int step, const ConnectHooks& hooks) {
  modbusbox* sensor = state.ActiveModbusBox.get();
  switch (step) {
    case 0:
      return IdentifyCorrector(state);
    case 1:
      return FreeLine(state, hooks);
    case 2:
      return EnterService(state, hooks);
    case 3:
      return sensor != nullptr && sensor->ReadUnit(state.Channel);
    case 4:
      return sensor != nullptr && sensor->ReadCalibration(state.SensorOffset, state.SensorSlope);
    default:
      return false;
  }
}
