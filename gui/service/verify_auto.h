#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "core/instrument_run.h"

class QTimer;
class TFormMain;

// Drives an unattended run of the verification window: the engine ticks at the poll interval
// of the settings (the sensor read through the main window's link, the controller through the
// application's reference link), and tells the window what changed. Whatever way it ends, the
// controller's output is vented; a vent that cannot be sent yet (the reference's port gone) is
// tried again at every tick until the port is back.
class VerifyAutoRun : public QObject {
  Q_OBJECT

 public:
  // `run` and the open reference link of the window's state outlive this object.
  VerifyAutoRun(TFormMain& window, VerificationRun& run, QObject* parent);
  // Vents, if the output may still be on.
  ~VerifyAutoRun() override;

  // Starts ticking.
  void Start();
  // One poll (the timer's; tests call it directly).
  void Tick();
  // Stops the run at once; the end is told after the running tick, when inside one.
  void Cancel();
  // Vents now if it may still be needed; true when nothing is left to vent.
  bool Close();

  bool ticking() const { return ticking_; }
  bool ended() const { return engine_->ended(); }
  const InstrumentRun& engine() const { return *engine_; }
  QTimer* timer() const { return timer_; }

  // After each tick, with the progress and readings.
  std::function<void()> on_progress;
  // Each point started, settled and done.
  std::function<void(const InstrumentEvent&)> on_event;
  // Once, when the run has ended (after the tick that ended it, or at once on a cancel
  // outside one).
  std::function<void()> on_end;

 private:
  SensorSample ReadSensor();
  void TellEnd();

  TFormMain& window_;
  VerificationRun& run_;
  std::unique_ptr<InstrumentRun> engine_;
  QTimer* timer_;
  bool ticking_ = false;
  bool end_told_ = false;
};
