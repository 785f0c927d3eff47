#pragma once

#include <cstdint>

#include "gui/form_variable.h"
#include "gui/measurement/value_polling.h"

struct AppState;
class QGroupBox;
class QLabel;
class QPushButton;

// The current values monitor: polls the sensor's measured value and shows it as the sensor
// reports it with its current calibration and as it would read with the factory calibration
// (slope 1, offset 0), in the chosen display unit. Writes nothing and hands nothing back.
class TFormCheck_Val : public ValuePollingDialog {
  Q_OBJECT

 public:
  explicit TFormCheck_Val(AppState& state, QWidget* parent = nullptr);

  // Current calibration of the sensor.
  QGroupBox* GroupBox1;
  QLabel* Panel3;   // slope
  QLabel* Panel4;   // offset, display unit
  QLabel* Label15;  // unit of Panel4
  QLabel* Panel5;   // value as reported
  QLabel* Label16;  // unit of Panel5
  // Factory calibration.
  QGroupBox* GroupBox2;
  QLabel* Panel1;   // slope "1"
  QLabel* Panel2;   // offset "0"
  QLabel* Label12;  // unit of Panel2
  QLabel* Panel6;   // value recomputed for the factory calibration
  QLabel* Label18;  // unit of Panel6

  QPushButton* BitBtn5;  // "Выход"

  // Readings shown since the dialog opened.
  int32_t count() const { return count_; }

 public slots:
  void FormShow();
  void Timer1Timer() override;

 protected:
  void SetValuesStale(bool stale) override;

 public:
  void BitBtn5Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  double factor_ = 0.0;
  uint8_t digits_ = 0;
  int32_t count_ = 0;
  float value_ = 0.0f;
  float factory_value_ = 0.0f;

  bool shown_ = false;
  FormVariable<TFormCheck_Val> variable_;
};

// Refers to the monitor while it exists.
extern TFormCheck_Val* FormCheck_Val;
