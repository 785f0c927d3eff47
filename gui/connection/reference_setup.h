#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "core/reference_settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class ReferenceLink;
struct AppState;

// "Еталонний прилад": how to reach the reference instrument and what to ask it. "Прийняти"
// checks the fields and writes the reference's own section of the settings file (nothing else
// in the file changes); "Відмінити" and Esc leave the file as it was. "Перевірити з'єднання"
// asks the instrument for its identification and one reading with the fields as they stand.
class TFormReference : public QDialog {
  Q_OBJECT

 public:
  explicit TFormReference(AppState& state, QWidget* parent = nullptr);

  // Link.
  QLineEdit* EditName;
  QComboBox* ComboPort;
  QComboBox* ComboRate;
  QComboBox* ComboParity;
  QComboBox* ComboStopBits;
  QComboBox* ComboLineEnd;
  QLineEdit* EditTimeout;
  // Commands.
  QComboBox* ComboPreset;
  QLineEdit* EditIdentify;
  QLineEdit* EditRead;
  QComboBox* ComboUnit;
  QCheckBox* CheckUnit;
  QLineEdit* EditInLimits;
  QCheckBox* CheckController;
  QLineEdit* EditSetPoint;
  QLineEdit* EditOutputOn;
  QLineEdit* EditOutputOff;
  QPushButton* BtnTest;  // "Перевірити з'єднання"
  QLabel* LabelTest;     // what the instrument answered
  QPushButton* BitBtn1;  // "Прийняти"
  QPushButton* BitBtn2;  // "Відмінити"

  // True once the settings were written.
  bool accepted = false;

  void BitBtn1Click();
  void TestClick();
  void PresetChosen(int index);
  void done(int result) override;

 private:
  void Fill(const ReferenceSettings& s);
  // The fields as they stand, unchecked.
  ReferenceSettings Gather() const;
  // The fields as settings; none (with the message naming the field shown) when one is wrong.
  std::optional<ReferenceSettings> Read(bool for_test);
  bool Refuse(const std::string& message);

  AppState& state_;
  // The section as loaded: what is not in a field (there is none now) is kept from it.
  ReferenceSettings loaded_;
  bool testing_ = false;
  ReferenceLink* test_link_ = nullptr;
  std::optional<int> pending_result_;
};

// Shows the dialog over `parent`; true when new settings were written.
bool ShowReferenceSettings(AppState& state, QWidget* parent);
