#pragma once

#include <QGroupBox>
#include <cstdint>
#include <string>

#include "core/calibration.h"
#include "core/calibration_checks.h"

struct AppState;
class QLabel;

// The reference instrument's reading beside the sensor's in a dialog that polls both: its
// current value, the mean and deviation over the same window of readings, and whether it has
// settled. The dialog polls it in the same tick as the sensor; a failed reading shows why in
// the box and counts for nothing. A lost port is opened again once its device is back.
class ReferenceReadout : public QGroupBox {
  Q_OBJECT

 public:
  ReferenceReadout(AppState& state, QWidget* parent);

  QLabel* RefPanel1;  // current reading
  QLabel* RefPanel2;  // mean
  QLabel* RefPanel3;  // standard deviation
  QLabel* RefPanel4;  // settled or not
  QLabel* RefStatus;  // why the last reading failed

  // Opens the instrument of the settings, when one is set; false (with the reason shown) when
  // it is set but cannot be opened. `digits` decimals are shown, `unit` after the values.
  bool Start(int digits, const QString& unit, double stability_share);
  // Takes one reading in the display unit, unless one is running. False when the dialog was
  // destroyed meanwhile (touch nothing then).
  bool Tick(uint32_t now_ms);
  // Asks a running reading to stop.
  void Abort();

  bool active() const { return active_; }
  bool busy() const { return busy_; }
  // The last reading failed: its mean is not to be used until one succeeds again.
  bool failing() const { return !last_error_.empty(); }
  const std::string& last_error() const { return last_error_; }
  bool has_mean() const { return ring_.has_average(); }
  float mean() const { return ring_.average(); }
  const ReadingSpread& spread() const { return spread_; }
  // The instrument says it is in limits (or has no such query) and its readings are stable.
  bool settled() const { return in_limits_ && spread_.stable; }

 private:
  void ShowFailure(const std::string& error);
  void ShowSpread();

  AppState& state_;
  bool active_ = false;
  bool busy_ = false;
  bool in_limits_ = true;
  int digits_ = 2;
  double stability_share_ = 0.0;
  uint32_t first_ms_ = 0;
  std::string last_error_;
  StatisticsRing ring_;
  ReadingSpread spread_;
};
