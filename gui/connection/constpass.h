#pragma once

#include <QDialog>

#include "gui/form_variable.h"

class QLabel;
class QLineEdit;
class QPushButton;
class ExchangeHost;
class calcbox;

// Asks twice for the corrector's password for writing constants and, when both entries agree,
// puts it into the corrector exchange object, which sends it with the enter-service request.
class TFormConstPass : public QDialog {
  Q_OBJECT

 public:
  // The password field of the request is 16 bytes, one byte per character.
  static constexpr int kMaxLength = 16;

  TFormConstPass(calcbox& box, ExchangeHost& ui, QWidget* parent = nullptr);

  QLabel* Label1;  // "Уведіть пароль"
  QLabel* Label2;  // "(до 16 символів)"
  QLabel* Label3;  // "Уведіть пароль ще раз"
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QPushButton* BitBtn1;  // "Прийняти"
  QPushButton* BitBtn2;  // "Відмінити"

  // True once the password has been put into the exchange object.
  bool accepted = false;

 public slots:
  void BitBtn1Click();
  void BitBtn2Click();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormShow();
  // Empties both entries and puts the cursor into the first, for a fresh start.
  void StartOver();

  calcbox& box_;
  ExchangeHost& ui_;
  FormVariable<TFormConstPass> variable_;
};

// Refers to the password dialog while one exists.
extern TFormConstPass* FormConstPass;
