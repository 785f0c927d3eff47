#pragma once

#include <QDialog>
#include <cstdint>

struct AppState;
class QGroupBox;
class QLabel;
class QPushButton;
class QStatusBar;
class QTimer;

// The current values monitor: polls the sensor's measured value and shows it as the sensor
// reports it with its current calibration and as it would read with the factory calibration
// (slope 1, offset 0), in the chosen display unit. Writes nothing and hands nothing back.
class TFormCheck_Val : public QDialog {
  Q_OBJECT

 public:
  explicit TFormCheck_Val(AppState& state, QWidget* parent = nullptr);
  ~TFormCheck_Val() override;

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
  QStatusBar* StatusBar1;
  QLabel* StatusBar1Panel0;  // exchange error text
  QLabel* StatusBar1Panel1;  // reading counter
  QTimer* Timer1;

  // Readings shown since the dialog opened.
  int32_t count() const { return count_; }
  // An exchange of a tick is running right now.
  bool exchange_running() const { return busy_; }

 public slots:
  void FormShow();
  void Timer1Timer();
  void BitBtn5Click();

 public:
  // Every way of closing (the button, Esc, the close box) ends here. While an exchange runs
  // the dialog stays until that exchange has returned.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormClose();

  AppState& state_;
  double factor_ = 0.0;
  uint8_t digits_ = 0;
  int32_t count_ = 0;
  float value_ = 0.0f;
  float factory_value_ = 0.0f;

  bool shown_ = false;
  bool busy_ = false;
  bool closing_ = false;
  bool close_pending_ = false;
  int pending_result_ = 0;
};

// Refers to the monitor while it exists.
extern TFormCheck_Val* FormCheck_Val;
