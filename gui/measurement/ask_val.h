#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "gui/measurement/value_polling.h"

#include "core/calibration.h"
#include "core/calibration_checks.h"
#include "core/reading_series.h"
#include "gui/form_variable.h"

struct AppState;
class QLabel;
class QPushButton;
class TrendView;
class ReferenceReadout;

// Statistics collection for one calibration point: polls the sensor while the engineer holds
// a known input on it, shows the current value and the average of the last ten valid readings
// in the display unit, and on "Прийняти" hands the average back as the value received at
// record->point.
class TFormAsk_Val : public ValuePollingDialog {
  Q_OBJECT

 public:
  explicit TFormAsk_Val(AppState& state, QWidget* parent = nullptr);

  // Set by the caller before the dialog is shown; its factor, digits and point are read,
  // received[point] is written on acceptance.
  CalibrationRecord* record = nullptr;
  // True once "Прийняти" has handed the average back.
  bool accepted = false;
  // Whether a reference instrument that is set is read beside the sensor; the caller clears it
  // when the applied value is typed.
  bool with_reference = true;

  QLabel* Label1;  // "Поточне значення"
  QLabel* Panel2;  // current value
  QLabel* Label2;  // its unit
  QLabel* Label3;  // "Середнє значення"
  QLabel* Label5;  // "(з 10 останніх вимірювань)"
  QLabel* Panel3;  // average
  QLabel* Label4;  // its unit
  // How far the readings of the average can be trusted.
  QLabel* Panel4;  // readings in the average, of 10
  QLabel* Panel5;  // their standard deviation
  QLabel* Panel6;  // minimum
  QLabel* Panel7;  // maximum
  QLabel* Panel8;  // drift per minute
  QLabel* Panel9;  // stable or not
  // The readings as they came, their running mean and the band of the last ten.
  TrendView* Chart1;
  // The reference instrument beside the sensor, when one is set: its mean becomes the point's
  // applied value.
  ReferenceReadout* RefBox1;
  QPushButton* BitBtn1;  // "Прийняти"
  QPushButton* BitBtn2;  // "Відмінити"

  const StatisticsRing& statistics() const { return ring_; }
  const ReadingSpread& spread() const { return spread_; }
  // Settled as the window shows it: the last ten within their band, and no drift beyond it.
  bool settled() const { return settled_; }
  const ReadingSeries& series() const { return series_; }
  // Draws the readings so far now, whatever the pace of the readings.
  void RefreshChart();

 public slots:
  void FormShow();
  void Timer1Timer() override;

 public:
  void done(int result) override;

 protected:
  void SetValuesStale(bool stale) override;

 public:
  void BitBtn1Click();
  void BitBtn2Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowSpread();
  // What keeps the point from being taken as it stands: "" when both have settled.
  std::string NotSettled() const;
  // Whether to take an average that has not settled; the figures as they stand.
  bool AskToTakeUnsettled();

  StatisticsRing ring_;
  ReadingSpread spread_;
  // Per minute over the last minute of readings; none until they span long enough.
  std::optional<double> drift_;
  bool settled_ = false;
  std::vector<QLabel*> spread_units_;
  double stability_share_ = 0.0;
  uint32_t first_tick_ = 0;
  // Valid readings so far: tells whether the ring changed under a question.
  uint64_t readings_taken_ = 0;
  // Readings (as reported) with the running mean beside each (as factory).
  ReadingSeries series_;
  double last_refresh_ = -1.0;
  bool shown_ = false;
  FormVariable<TFormAsk_Val> variable_;
};

// Refers to the statistics dialog while one exists.
extern TFormAsk_Val* FormAsk_Val;
