#include "gui/connection/constpass.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <string>
#include <tuple>

#include "comm/calcbox.h"
#include "comm/code_page.h"
#include "comm/exchange_host.h"
#include "gui/dialog_widgets.h"

TFormConstPass* FormConstPass = nullptr;

namespace {

const char kMismatch[] = "Неспівпадання уведених паролів\r,Повторіть процес спочатку";

// Position (from 1) of the first character the corrector cannot be sent: the password travels
// as Windows-1251 bytes, and a character outside that code page would otherwise go out as "?"
// and the corrector would refuse a password the user never typed.
std::optional<int> FirstUnsendable(const QString& text) {
  int position = 0;
  for (const char32_t code : text.toUcs4()) {
    ++position;
    if (code == U'?')
      continue;
    const std::string one = QString::fromUcs4(&code, 1).toStdString();
    if (Utf8ToCp1251(one) == "?")
      return position;
  }
  return std::nullopt;
}

QString UnsendableMessage(int position) {
  return QStringLiteral(
             "Символ %1 пароля не може бути переданий коректору:\r"
             "його немає в кодуванні Windows-1251.\r"
             "Повторіть уведення іншими символами")
      .arg(position);
}

}  // namespace

TFormConstPass::TFormConstPass(calcbox& box, ExchangeHost& ui, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      box_(box),
      ui_(ui),
      variable_(FormConstPass, this) {
  setObjectName(QStringLiteral("FormConstPass"));
  setWindowTitle(QStringLiteral("Пароль на запис констант"));
  setWindowModality(Qt::ApplicationModal);

  Label1 = MakeLabel(this, "Label1", QStringLiteral("&Уведіть пароль"));
  Label2 = MakeLabel(this, "Label2", QStringLiteral("(до 16 символів)"));
  Label3 = MakeLabel(this, "Label3", QStringLiteral("Уведіть пароль &ще раз"));
  Edit1 = MakePasswordEdit(this, "Edit1", kMaxLength);
  Edit1->setAccessibleName(QStringLiteral("Уведіть пароль (до 16 символів)"));
  Edit2 = MakePasswordEdit(this, "Edit2", kMaxLength);
  Edit2->setAccessibleName(QStringLiteral("Уведіть пароль ще раз"));
  Label3->setBuddy(Edit2);

  std::tie(BitBtn1, BitBtn2) =
      MakeAcceptCancelButtons(this, &TFormConstPass::BitBtn1Click, &TFormConstPass::BitBtn2Click);

  auto* fields = new QGridLayout;
  fields->setHorizontalSpacing(12);
  fields->addLayout(MakeCaptionLines({Label1, Label2}, Edit1), 0, 0);
  fields->addWidget(Edit1, 0, 1);
  fields->addWidget(Label3, 1, 0);
  fields->addWidget(Edit2, 1, 1);
  fields->setColumnMinimumWidth(1, 150);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addSpacing(8);
  layout->addLayout(MakeButtonRow({BitBtn1, BitBtn2}, ButtonsAt::kRight));
  layout->setSizeConstraint(QLayout::SetFixedSize);

  SetTabOrder({Edit1, Edit2, BitBtn1, BitBtn2});

  Edit1->installEventFilter(this);
  Edit2->installEventFilter(this);
}

void TFormConstPass::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TFormConstPass::FormShow() {
  Edit1->clear();
  Edit2->clear();
  Edit1->setFocus();
}

bool TFormConstPass::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && (watched == Edit1 || watched == Edit2)) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      // Enter walks on to the next field and to the button; it never accepts by itself.
      if (watched == Edit1) {
        Edit2->setFocus(Qt::TabFocusReason);
      } else {
        BitBtn1->setFocus(Qt::TabFocusReason);
      }
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TFormConstPass::StartOver() {
  Edit1->clear();
  Edit2->clear();
  Edit1->setFocus();
}

void TFormConstPass::BitBtn1Click() {
  const QString password = Edit1->text();
  if (password != Edit2->text()) {
    ui_.ShowMessage(kMismatch, "");
    StartOver();
    return;
  }
  if (password.isEmpty()) {
    box_.const_password.fill(' ');
  } else {
    if (const std::optional<int> position = FirstUnsendable(password)) {
      ui_.ShowMessage(UnsendableMessage(*position).toStdString(), "");
      StartOver();
      return;
    }
    const std::string bytes = Utf8ToCp1251(password.toStdString());
    const size_t n = std::min(bytes.size(), box_.const_password.size());
    // The rest of the field keeps what it holds: blanks since the object was made.
    std::copy_n(bytes.begin(), n, box_.const_password.begin());
  }
  accepted = true;
  accept();
}

void TFormConstPass::BitBtn2Click() {
  reject();
}
