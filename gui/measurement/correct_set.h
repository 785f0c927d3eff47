#pragma once

#include <QDialog>
#include <string>
#include <string_view>

#include "gui/form_variable.h"

struct AppState;
struct CalibrationRecord;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// The message that refuses to hand a value to the sensor that it cannot hold: not finite, or
// beyond the range of its 32-bit numbers.
std::string UnwritableValueMessage(std::string_view text);

// Calibration results: the new slope and offset computed from the two points of `record` and
// the sensor's current calibration, shown for adjustment and handed back in `record` for
// writing. Pressure in a unit other than kPa gets the second panel, which shows every value
// in that unit and in kPa, the sensor's own.
class TFormCorrect_Set : public QDialog {
  Q_OBJECT

 public:
  explicit TFormCorrect_Set(AppState& state, QWidget* parent = nullptr);

  // Set by the caller before exec(): factor, digits and both points filled in.
  CalibrationRecord* record = nullptr;
  // Set when the values in record.offset and record.slope are to be written.
  bool confirmed = false;

  // Temperature, or pressure in kPa: everything in the sensor's unit.
  QFrame* pn_1;
  QLabel* Panel1;    // applied, point 1
  QLabel* Panel2;    // received, point 1
  QLabel* Panel3;    // applied, point 2
  QLabel* Panel4;    // received, point 2
  QLabel* Panel5;    // current slope
  QLabel* Panel6;    // current offset
  QLineEdit* Edit1;  // new slope
  QLineEdit* Edit2;  // new offset
  QLabel* Label3;    // units of Panel1, Panel2, Panel3, Panel4, Panel6, Edit2
  QLabel* Label4;
  QLabel* Label7;
  QLabel* Label8;
  QLabel* Label12;
  QLabel* Label15;
  QPushButton* BitBtn1;  // "Записати у пристрій"
  QPushButton* BitBtn2;  // "Відмінити"
  // What the sensor will report at both points with the new values, in the display unit.
  QLabel* Predicted1;
  QLabel* Predicted2;
  QLabel* PredictedUnit1;
  QLabel* PredictedUnit2;

  // Pressure in another unit: display unit on the left, kPa on the right.
  QFrame* pn_2;
  QLabel* Label16;   // "Давач передає дані в кПА", over the kPa column
  QLabel* Panel8;    // applied, point 1
  QLabel* Panel7;    // ... in kPa
  QLabel* Panel9;    // received, point 1
  QLabel* Panel14;   // ... in kPa
  QLabel* Panel10;   // applied, point 2
  QLabel* Panel15;   // ... in kPa
  QLabel* Panel11;   // received, point 2
  QLabel* Panel16;   // ... in kPa
  QLabel* Panel12;   // current slope
  QLabel* Panel13;   // current offset
  QLabel* Panel17;   // ... in kPa
  QLineEdit* Edit3;  // new slope
  QLineEdit* Edit4;  // new offset, a view of Edit5 in the display unit
  QLineEdit* Edit5;  // new offset in kPa: the one written
  QLabel* Label17;   // display units of Panel8, Panel9, Panel10, Panel11, Panel13, Edit4
  QLabel* Label18;
  QLabel* Label21;
  QLabel* Label22;
  QLabel* Label25;
  QLabel* Label28;
  QPushButton* BitBtn4;  // "Записати у пристрій"
  QPushButton* BitBtn3;  // "Відмінити"
  QLabel* Predicted3;    // as Predicted1 and Predicted2, on this panel
  QLabel* Predicted4;
  QLabel* PredictedUnit3;
  QLabel* PredictedUnit4;

  // True once shown when the second panel is the one in use.
  bool UsesSecondPanel() const { return second_panel_; }

 public slots:
  void BitBtn1Click();
  void BitBtn2Click();
  void Edit4Change();
  void Edit5Change();
  // Shows what the sensor will report at both points with the values now in the edits.
  void UpdatePredicted();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildFirstPanel();
  void BuildSecondPanel();
  void FormShow();
  // Puts the value of `from` into `to`, converted by the unit factor; see Edit4Change.
  void Follow(const QLineEdit* from, QLineEdit* to, bool to_sensor_unit);
  // A slope or offset that looks mistyped is written only when the engineer says so again.
  bool ConfirmedIfDoubtful(float slope, float offset);

  AppState& state_;
  bool shown_ = false;
  bool second_panel_ = false;
  int follow_depth_ = 0;
  FormVariable<TFormCorrect_Set> variable_;
};

// Refers to the calibration results dialog while one exists.
extern TFormCorrect_Set* FormCorrect_Set;
