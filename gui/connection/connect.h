#pragma once

#include <QColor>
#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>

#include "core/app_state.h"
#include "gui/form_variable.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

// The connection parameters: link, corrector and sensor settings. Accepting checks them, makes
// them the application's settings, saves the changed groups and opens the port; the dialog
// reports `accepted` only with the port open in state.ComHandle.
class TFormConnect : public QDialog {
  Q_OBJECT

 public:
  explicit TFormConnect(AppState& state, QWidget* parent = nullptr);

  // Panel 0 of the main window's status bar, for the port text; may stay null.
  QLabel* status_bar = nullptr;
  // Panel 1, for where the settings went or why they did not; may stay null.
  QLabel* settings_notice = nullptr;
  bool accepted = false;
  // What the dialog edits: taken from the application's settings on every show, filled field
  // by field on acceptance and handed back whole once every check has passed. Values stored by
  // a refused acceptance stay here.
  TConnectSettings working_copy;

  // Link.
  QGroupBox* GroupBox6;
  QComboBox* ComboBox8;  // connection type
  QComboBox* ComboBox1;  // port
  QComboBox* ComboBox2;  // rate
  QLineEdit* Edit1;      // first byte time-out
  QLineEdit* Edit2;      // next byte time-out
  QComboBox* ComboBox3;  // attempts
  QComboBox* ComboBox9;  // the adapter's echo
  // Corrector.
  QGroupBox* GroupBox1;
  QComboBox* ComboBox4;  // corrector address, editable
  QLineEdit* Edit3;      // corrector preambles
  QComboBox* ComboBox5;  // line
  QLineEdit* Edit11;     // write password
  QLineEdit* Edit10;     // user code
  // Sensor.
  QGroupBox* GroupBox2;
  QComboBox* ComboBox6;  // sensor address, editable
  QLineEdit* Edit4;      // sensor preambles
  QPushButton* BitBtn1;  // "Прийняти"
  QPushButton* BitBtn2;  // "Відмінити"

  QLabel* Label1;  // connection type
  QLabel* Label2;  // port
  QLabel* Label3;  // rate
  QLabel* Label4;  // rate unit
  QLabel* Label5;  // first byte time-out, two lines
  QLabel* Label7;
  QLabel* Label9;   // its unit
  QLabel* Label10;  // next byte time-out, two lines
  QLabel* Label11;
  QLabel* Label12;  // its unit
  QLabel* Label13;  // attempts
  QLabel* Label19;  // the adapter's echo
  QLabel* Label6;   // corrector address, two lines
  QLabel* Label18;
  QLabel* Label27;  // corrector preambles, two lines
  QLabel* Label28;
  QLabel* Label8;   // line
  QLabel* Label40;  // write password
  QLabel* Label39;  // user code
  QLabel* Label14;  // sensor address, two lines
  QLabel* Label15;
  QLabel* Label16;  // sensor preambles, two lines
  QLabel* Label17;

  // Caption colours of the corrector group: in use, not in use.
  static const QColor kActiveCaption;
  static const QColor kInactiveCaption;

 public slots:
  void FormShow();
  // Widens the port list's popup to its widest entry.
  void FitPortListToEntries();
  // The connection type chosen (also run on show).
  void ComboBox8Click();
  void BitBtn1Click();
  void BitBtn2Click();

 public:
  // Every way the dialog ends (buttons, Esc, close box) comes through here.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void FormClose();
  void SetCorrectorGroupActive(bool active);
  // The number in `text`, or the conversion message shown and nothing.
  std::optional<int32_t> ReadNumber(const QString& text);
  void Message(const char* text);

  AppState& state_;
  FormVariable<TFormConnect> variable_;
};

// Refers to the connection parameters dialog while one exists.
extern TFormConnect* FormConnect;
