#pragma once

#include <QDialog>

#include "core/app_state.h"
#include "gui/form_variable.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

// How the value dialogs show the sensor's readings: the pressure unit, the decimals and the
// interval between requests. Accepting changes the current channel's fields and the interval
// in the application's settings; nothing is written to the settings file here.
class TFormShow_Par : public QDialog {
  Q_OBJECT

 public:
  explicit TFormShow_Par(AppState& state, QWidget* parent = nullptr);

  bool accepted = false;

  QComboBox* ComboBox1;  // pressure unit, hidden for temperature
  QLabel* Panel9;        // the temperature unit, in ComboBox1's place
  QComboBox* ComboBox2;  // decimals
  QLineEdit* Edit1;      // interval, ms
  QPushButton* BitBtn1;  // "Прийняти"
  QPushButton* BitBtn2;  // "Відмінити"

  QLabel* Label1;  // unit, two lines
  QLabel* Label2;
  QLabel* Label3;  // decimals, two lines
  QLabel* Label4;
  QLabel* Label5;  // interval, two lines
  QLabel* Label6;
  QLabel* Label7;  // its unit

 public slots:
  void FormShow();
  void BitBtn1Click();
  void BitBtn2Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();

  AppState& state_;
  FormVariable<TFormShow_Par> variable_;
};

// Refers to the display settings dialog while one exists.
extern TFormShow_Par* FormShow_Par;
