#include "gui/service/verify_auto.h"

#include <QPointer>
#include <QTimer>
#include <cmath>

#include "comm/modbusbox.h"
#include "core/app_state.h"
#include "core/calibration.h"
#include "core/calibration_checks.h"
#include "core/suplfunc.h"
#include "gui/form_main.h"

namespace {
// A poll faster than this leaves the controller no time to answer between two.
constexpr int kMinIntervalMs = 50;
}  // namespace

VerifyAutoRun::VerifyAutoRun(TFormMain& window, VerificationRun& run, QObject* parent)
    : QObject(parent), window_(window), run_(run) {
  AppState& state = window_.state;
  InstrumentRunConfig config;
  config.p_unit = state.ConnectSettings.P_unit;
  config.display_step = std::pow(10.0, -run.digits);
  config.stability_share = LoadCalibrationLimits(state.IniPath).stability_share;
  config.abort_sensor = [&state] {
    if (state.ActiveModbusBox)
      state.ActiveModbusBox->abort_requested = true;
  };
  engine_ = std::make_unique<InstrumentRun>(
      run_, *state.Reference, [this] { return ReadSensor(); }, config);
  engine_->set_listener([this](const InstrumentEvent& e) {
    if (on_event)
      on_event(e);
  });
  timer_ = new QTimer(this);
  timer_->setInterval(std::max<int>(kMinIntervalMs, state.ConnectSettings.interval));
  connect(timer_, &QTimer::timeout, this, &VerifyAutoRun::Tick);
}

VerifyAutoRun::~VerifyAutoRun() {
  timer_->stop();
  engine_->Close();
}

void VerifyAutoRun::Start() {
  timer_->start();
}

SensorSample VerifyAutoRun::ReadSensor() {
  AppState& state = window_.state;
  modbusbox* box = state.ActiveModbusBox.get();
  if (box == nullptr)
    return {SensorSample::Kind::kLinkLost, 0.0, "Зв'язок з давачем не встановлено."};
  // Raised by the cancel of an earlier exchange; this one is new.
  box->abort_requested = false;
  float reading = 0.0f;
  if (!window_.RunOwnExchange([&] { return box->ReadValue(reading); })) {
    // The box may have gone with the link while the exchange ran.
    box = state.ActiveModbusBox.get();
    if (box == nullptr)
      return {SensorSample::Kind::kLinkLost, 0.0, "Зв'язок з давачем не встановлено."};
    const bool lost = box->error_code == modbusbox::kErrorLinkLost;
    return {lost ? SensorSample::Kind::kLinkLost : SensorSample::Kind::kFailed, 0.0,
            "Давач: " + box->ErrorText()};
  }
  if (!IsBadFloat(&reading))
    reading = ToDisplayUnit(reading, run_.factor);
  if (IsBadFloat(&reading))
    return {SensorSample::Kind::kFailed, 0.0, "Давач: показ поза межами чисел"};
  return {SensorSample::Kind::kValue, reading, {}};
}

void VerifyAutoRun::Tick() {
  // A tick due inside the previous one's exchange is skipped.
  if (ticking_)
    return;
  ticking_ = true;
  QPointer<VerifyAutoRun> alive(this);
  engine_->Tick(window_.state.clock->TickCount());
  if (!alive)
    return;
  ticking_ = false;
  if (on_progress)
    on_progress();
  if (engine_->ended()) {
    // Only a vent still to be sent keeps the timer going.
    if (!engine_->vent_pending())
      timer_->stop();
    else if (!timer_->isActive())
      timer_->start();
    TellEnd();
  }
}

void VerifyAutoRun::Cancel() {
  engine_->Cancel();
  if (!ticking_) {
    if (on_progress)
      on_progress();
    if (!engine_->vent_pending())
      timer_->stop();
    TellEnd();
  }
}

bool VerifyAutoRun::Close() {
  timer_->stop();
  engine_->Close();
  return !engine_->vent_pending();
}

void VerifyAutoRun::TellEnd() {
  if (end_told_ || !engine_->ended())
    return;
  end_told_ = true;
  if (on_end)
    on_end();
}
