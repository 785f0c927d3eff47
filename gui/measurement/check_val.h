#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "core/reading_log.h"
#include "core/reading_series.h"

#include "gui/form_variable.h"
#include "gui/measurement/value_polling.h"

struct AppState;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class TrendView;

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

  // The trend: both values against time over the chosen window, its statistics beside it.
  QCheckBox* CheckBox1;  // trend shown
  QWidget* TrendPanel;   // the chart, its controls and statistics
  TrendView* Chart1;     // reported and factory values against time
  QComboBox* ComboBox1;  // window: 1, 5, 15 or 60 minutes
  QComboBox* ComboBox2;  // time axis in seconds or minutes
  QComboBox* ComboBox3;  // lines drawn: both, the reported or the factory value alone
  QPushButton* BitBtn6;  // pause / resume the trend
  QGroupBox* GroupBox3;  // statistics over the window
  QLabel* Panel7[2];     // minimum: reported, factory
  QLabel* Panel8[2];     // maximum
  QLabel* Panel9[2];     // mean
  QLabel* Panel10[2];    // standard deviation
  QLabel* Panel11;       // readings in the window
  // The readings log.
  QPushButton* BitBtn7;  // "Запис у файл" / stop logging
  QLabel* Label19;       // where the log goes and how many rows it has

  // Readings shown since the dialog opened.
  int32_t count() const { return count_; }
  // The readings so far, as the trend draws them.
  const ReadingSeries& series() const { return series_; }
  const ReadingLog& log() const { return log_; }
  bool paused() const { return paused_; }
  // The window of the trend in seconds.
  double window_seconds() const;

  // Where "Запис у файл" writes, given the path it proposes; asks the user by default. An
  // empty answer starts nothing; a name without an extension gets ".csv".
  std::function<QString(const QString& proposed)> choose_log_file;
  // The path "Запис у файл" proposes: the sensor, its channel and the time, in the folder of
  // the last log of this run (the documents folder at first).
  QString ProposedLogPath() const;
  // The decimal mark of the log's numbers: the system's, by default.
  QChar log_decimal_mark;

  // Starts logging to `path`; false (after telling the user) when the file cannot be opened.
  bool StartLog(const QString& path);
  void StopLog();
  // Closing ends the log with every row written.
  void done(int result) override;
  // Draws the trend from the series now, whatever the pace of the readings.
  void RefreshTrend();

 public slots:
  void FormShow();
  void Timer1Timer() override;

 protected:
  void SetValuesStale(bool stale) override;

 public:
  void BitBtn5Click();
  void BitBtn6Click();
  void BitBtn7Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  double factor_ = 0.0;
  uint8_t digits_ = 0;
  int32_t count_ = 0;
  float value_ = 0.0f;
  float factory_value_ = 0.0f;

  // The time of a reading, in seconds from the first one, on the link's clock.
  double Now();
  void Log(const LogReading& reading);
  void ShowLogState();
  void TrendIfDue();
  void BuildTrend();

  ReadingSeries series_;
  ReadingLog log_;
  bool paused_ = false;
  bool started_ = false;
  uint64_t start_counter_ = 0;
  double log_start_ = 0.0;
  double last_refresh_ = -1.0;
  QString unit_;

  bool shown_ = false;
  FormVariable<TFormCheck_Val> variable_;
};

// Refers to the monitor while it exists.
extern TFormCheck_Val* FormCheck_Val;
