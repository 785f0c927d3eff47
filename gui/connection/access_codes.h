#pragma once

#include <QDialog>
#include <QString>
#include <algorithm>
#include <array>
#include <string>

#include "comm/code_page.h"

class QLabel;
class QLineEdit;
class QPushButton;
class calcbox;

// The codes the corrector is sent with every request in service mode, as the engineer typed
// them.
struct AccessCodes {
  QString user_code;
  QString write_password;
  // False when no write password was sent: only the user code is asked for again.
  bool with_write_password = false;
};

// Asks again for the codes the corrector refused, the ones sent offered for correction.
class TFormAccessCodes : public QDialog {
  Q_OBJECT

 public:
  explicit TFormAccessCodes(const AccessCodes& codes, QWidget* parent = nullptr);

  QLabel* Label1;  // "Пароль на запис"
  QLabel* Label2;  // "Код користувача"
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QPushButton* BitBtn1;  // "Прийняти"
  QPushButton* BitBtn2;  // "Відмінити"

  // What the dialog holds now.
  AccessCodes Codes() const;
};

// Shows the dialog over `parent`; on acceptance `codes` holds the new ones.
bool AskAccessCodes(AccessCodes& codes, QWidget* parent);

// Puts `codes` into the request fields of `box` as the corrector compares them: one byte per
// character, blank-padded, the write password in the DOS Cyrillic code page.
void PutAccessCodes(const AccessCodes& codes, calcbox& box);

// Copies `text` into a blank-padded code field, one byte per character (Windows Cyrillic).
template <typename Byte, size_t N>
void FillPadded(std::array<Byte, N>& field, const QString& text) {
  field.fill(' ');
  const std::string bytes = Utf8ToCp1251(text.toStdString());
  // Byte by byte: a char-to-byte std::copy_n makes the optimiser warn of an overflow that the
  // bound rules out.
  for (size_t i = 0; i < std::min(bytes.size(), N); ++i)
    field[i] = static_cast<Byte>(bytes[i]);
}
