#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "gui/form_variable.h"

struct AppState;
struct CalibrationRecord;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// A calibration value as the calibration dialogs read it from an edit: the program's number
// text, or one of the spellings of a value that is not finite ("INF", "-INF", "NAN", as the
// number format shows them, in any case), which read as that value so that the dialogs can
// refuse it by name. Anything else is not a number.
std::optional<double> ReadCalibrationValue(std::string_view text);

// The message that refuses a point or calibration value too large for the sensor's 32-bit
// numbers (or not finite at all).
std::string OutOfRangeMessage(std::string_view text);

// Two-point calibration: the applied and received values of both points, checked and handed
// back in `record`, or the return to the factory calibration.
class TFormCorrect_NSHP : public QDialog {
  Q_OBJECT

 public:
  explicit TFormCorrect_NSHP(AppState& state, QWidget* parent = nullptr);

  // Set by the caller before exec(); factor and digits filled in.
  CalibrationRecord* record = nullptr;

  // What `result` hands back.
  static constexpr uint8_t kCancelled = 0;
  static constexpr uint8_t kPointsAccepted = 1;
  static constexpr uint8_t kFactorySetting = 2;
  uint8_t result = kCancelled;

  // Collects the statistics of record.point over this dialog; true when the user took the
  // average (then record.received[point] holds it). Opens the statistics dialog by default.
  std::function<bool(CalibrationRecord&)> collect_statistics;

  QGroupBox* GroupBox1;  // " Перша точка "
  QGroupBox* GroupBox2;  // " Друга точка "
  QLineEdit* Edit1;      // applied, point 1
  QLineEdit* Edit2;      // applied, point 2
  QLineEdit* Edit3;      // received, point 1
  QLineEdit* Edit4;      // received, point 2
  QLabel* Label3;        // units beside Edit1, Edit3, Edit2, Edit4
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  QPushButton* BitBtn1;  // statistics, point 1
  QPushButton* BitBtn2;  // statistics, point 2
  QPushButton* BitBtn3;  // "Відмінити"
  QPushButton* BitBtn4;  // "Виконати розрахунок"
  QPushButton* BitBtn5;  // clear point 1
  QPushButton* BitBtn6;  // clear point 2
  QPushButton* BitBtn7;  // factory setting

 public slots:
  void BitBtn1Click();
  void BitBtn2Click();
  void BitBtn3Click();
  void BitBtn4Click();
  void BitBtn5Click();
  void BitBtn6Click();
  void BitBtn7Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormShow();
  void CollectStatistics(int point, QLineEdit* received_edit);
  // Reads an edit as a 32-bit value; false (after telling the user) when it is not a number
  // or does not fit.
  bool ReadOne(const QLineEdit* edit, float& value);
  // Reads the two edits as 32-bit values; false (after telling the user) when either is not
  // a number or does not fit.
  bool ReadPair(const QLineEdit* first, const QLineEdit* second, float& value1, float& value2);

  // A received value as the statistics handed it back, and the text it was shown as: while
  // its edit still shows that text, the value itself enters the calculation, not its rounding.
  struct Collected {
    QString text;
    float value = 0.0f;
    int readings = 0;
    float deviation = 0.0f;
  };
  // The received value of point `i` for the calculation, or none when its text is no number.
  bool ReceivedValue(int i, const QLineEdit* edit, float& value);
  // Some edit holds a value, collected or typed.
  bool HoldsValues() const;
  // Some received edit still shows an average collected by statistics.
  bool HoldsCollected() const;
  // "Відмінити"'s question; "Ні" is the default while collected readings would be lost.
  bool ConfirmCancel();

  AppState& state_;
  Collected collected_[2];
  // The applied values the reference instrument gave, in the same way: one the engineer
  // changes counts as typed.
  Collected referenced_[2];
  bool shown_ = false;
  FormVariable<TFormCorrect_NSHP> variable_;
};

// Refers to the two-point calibration dialog while one exists.
extern TFormCorrect_NSHP* FormCorrect_NSHP;
